#include "engine/objects/connection_reaper.h"

#include <QCoreApplication>

namespace corvane::engine {

ConnectionReaper::ConnectionReaper(EngineObject& owner) : owner_(owner)
{
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] { reap(); });
}

ConnectionReaper::~ConnectionReaper()
{
    for (auto& ws : retired_) {
        ws->detach();
        if (ws->inUse() && QCoreApplication::instance() != nullptr) {
            WsConnection* p = ws.release();
            QTimer::singleShot(0, QCoreApplication::instance(), [p] { delete p; });
        }
    }
}

void ConnectionReaper::retire(std::unique_ptr<WsConnection> ws)
{
    if (!ws)
        return;
    retired_.push_back(std::move(ws));
    if (!timer_.isActive())
        timer_.start(0);
}

void ConnectionReaper::reap()
{
    EngineObject::Entry entry(&owner_);
    std::vector<std::unique_ptr<WsConnection>> keep;
    for (auto& ws : retired_)
        if (ws->inUse())
            keep.push_back(std::move(ws));
    retired_.swap(keep);   // the others go with `keep`
    keep.clear();
    if (!retired_.empty())
        timer_.start(10);
}

} // namespace corvane::engine
