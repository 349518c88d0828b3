#include "engine/src/socket_graveyard.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <vector>

namespace corvane::engine {

namespace {
int g_slotDepth = 0;
bool g_purgeQueued = false;
std::vector<QPointer<QObject>> g_graveyard;

void purge();

void queuePurge(int delayMs)
{
    if (g_purgeQueued || QCoreApplication::instance() == nullptr)
        return;
    g_purgeQueued = true;
    QTimer::singleShot(delayMs, QCoreApplication::instance(), [] {
        g_purgeQueued = false;
        purge();
    });
}

void purge()
{
    if (g_slotDepth > 0) {
        queuePurge(5);
        return;
    }
    std::vector<QPointer<QObject>> doomed;
    doomed.swap(g_graveyard);
    for (QPointer<QObject>& p : doomed)
        delete p.data();
}
} // namespace

void retireObject(QObject* object)
{
    if (object == nullptr)
        return;
    object->disconnect();
    g_graveyard.emplace_back(object);
    queuePurge(0);
}

SlotScope::SlotScope() { ++g_slotDepth; }
SlotScope::~SlotScope() { --g_slotDepth; }

} // namespace corvane::engine
