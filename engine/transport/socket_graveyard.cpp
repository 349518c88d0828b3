#include "engine/transport/socket_graveyard.h"

#include "engine/transport/deferred_delete.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace corvane::engine {

namespace {
std::vector<QPointer<QObject>> g_graveyard;
std::vector<QPointer<QObject>> g_lingering;
// Our own timer rather than QTimer::singleShot: a single-shot functor would
// outlive an unloaded library in Qt's dispatcher; this one is deleted first.
QTimer* g_purgeTimer = nullptr;
bool g_cleanupRegistered = false;

void deleteAll(std::vector<QPointer<QObject>>& list)
{
    std::vector<QPointer<QObject>> doomed;
    doomed.swap(list);
    for (QPointer<QObject>& p : doomed)
        delete p.data();
}

void purge()
{
    if (insideEventLoopEntry()) {
        g_purgeTimer->start(5);
        return;
    }
    deleteAll(g_graveyard);
}

// Runs from the QCoreApplication destructor: its event loop will not turn
// again, so nothing queued for it would ever be freed otherwise.
void releaseEverything()
{
    g_cleanupRegistered = false;
    delete g_purgeTimer;
    g_purgeTimer = nullptr;
    deleteAll(g_lingering);
    deleteAll(g_graveyard);
}

void schedulePurge()
{
    if (QCoreApplication::instance() == nullptr)
        return;
    if (!g_cleanupRegistered) {
        qAddPostRoutine(releaseEverything);
        g_cleanupRegistered = true;
    }
    if (g_purgeTimer == nullptr) {
        g_purgeTimer = new QTimer();
        g_purgeTimer->setSingleShot(true);
        QObject::connect(g_purgeTimer, &QTimer::timeout, g_purgeTimer, [] { purge(); });
    }
    if (!g_purgeTimer->isActive())
        g_purgeTimer->start(0);
}

// A host that unloads the library (the component does at its last release)
// must not leave sockets, connections or the cleanup routine pointing into
// code that is gone.
struct UnloadGuard {
    ~UnloadGuard()
    {
        if (!g_cleanupRegistered)
            return;
        qRemovePostRoutine(releaseEverything);
        releaseEverything();
    }
} g_unloadGuard;
} // namespace

void retireObject(QObject* object)
{
    if (object == nullptr)
        return;
    object->disconnect();
    g_graveyard.emplace_back(object);
    schedulePurge();
}

void lingerObject(QObject* object)
{
    if (object == nullptr)
        return;
    g_lingering.emplace_back(object);
    if (!g_cleanupRegistered && QCoreApplication::instance() != nullptr) {
        qAddPostRoutine(releaseEverything);
        g_cleanupRegistered = true;
    }
}

void retireLingering(QObject* object)
{
    g_lingering.erase(std::remove_if(g_lingering.begin(), g_lingering.end(),
                                     [object](const QPointer<QObject>& p) { return p.isNull() || p == object; }),
                      g_lingering.end());
    retireObject(object);
}

} // namespace corvane::engine
