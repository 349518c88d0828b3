#include "engine/transport/peer_watch.h"

#include "engine/transport/socket_graveyard.h"

#include <QSocketNotifier>

#include <cstdint>
#include <unordered_map>

#include <sys/epoll.h>
#include <unistd.h>

namespace corvane::engine {

namespace {

struct Entry {
    PeerGoneListener* listener;
    uint32_t generation;
};

// Lives while something is watched, so no notifier outlives the event
// dispatcher of an application object the engine made and deleted again.
struct Watch {
    int epoll = -1;
    QSocketNotifier* notifier = nullptr;
    std::unordered_map<int, Entry> entries;
    uint32_t generation = 0;
    int depth = 0;   // dispatches on the stack (a handler may run an event loop)
};

thread_local Watch* t_watch = nullptr;

void dispatch();

Watch* watchOfThisThread()
{
    if (t_watch != nullptr)
        return t_watch;
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    if (ep < 0)
        return nullptr;
    auto* w = new Watch;
    w->epoll = ep;
    w->notifier = new QSocketNotifier(qintptr(ep), QSocketNotifier::Read);
    QObject::connect(w->notifier, &QSocketNotifier::activated, w->notifier, [] { dispatch(); });
    t_watch = w;
    return w;
}

void dropIfIdle()
{
    Watch* w = t_watch;
    if (w == nullptr || w->depth > 0 || !w->entries.empty())
        return;
    t_watch = nullptr;
    w->notifier->setEnabled(false);
    retireObject(w->notifier);   // its own signal may be on the stack
    ::close(w->epoll);
    delete w;
}

void remove(Watch* w, std::unordered_map<int, Entry>::iterator it)
{
    ::epoll_ctl(w->epoll, EPOLL_CTL_DEL, it->first, nullptr);
    w->entries.erase(it);
}

void dispatch()
{
    Watch* w = t_watch;
    if (w == nullptr)
        return;
    EntryGuard guard;
    epoll_event events[64];
    const int n = ::epoll_wait(w->epoll, events, 64, 0);
    ++w->depth;
    for (int k = 0; k < n; ++k) {
        if ((events[k].events & (EPOLLHUP | EPOLLERR)) == 0)
            continue;
        const int fd = int(uint32_t(events[k].data.u64));
        const uint32_t generation = uint32_t(events[k].data.u64 >> 32);
        // An earlier listener may have let go of this descriptor, and a new
        // connection may have been given the same number since.
        const auto it = w->entries.find(fd);
        if (it == w->entries.end() || it->second.generation != generation)
            continue;
        PeerGoneListener* listener = it->second.listener;
        remove(w, it);
        listener->peerGone();
    }
    --w->depth;
    dropIfIdle();
}

} // namespace

void watchPeer(int fd, PeerGoneListener* listener)
{
    if (fd < 0 || listener == nullptr)
        return;
    Watch* w = watchOfThisThread();
    if (w == nullptr)
        return;
    const uint32_t generation = ++w->generation;
    epoll_event ev{};
    // Edge-triggered and with no event asked for: only hang-up and error,
    // which epoll always reports, and each only when it happens.
    ev.events = EPOLLET;
    ev.data.u64 = (uint64_t(generation) << 32) | uint32_t(fd);
    if (::epoll_ctl(w->epoll, EPOLL_CTL_ADD, fd, &ev) != 0 && ::epoll_ctl(w->epoll, EPOLL_CTL_MOD, fd, &ev) != 0) {
        dropIfIdle();
        return;
    }
    w->entries[fd] = Entry{listener, generation};
}

void unwatchPeer(int fd, PeerGoneListener* listener)
{
    Watch* w = t_watch;
    if (w == nullptr || fd < 0)
        return;
    const auto it = w->entries.find(fd);
    if (it == w->entries.end() || it->second.listener != listener)
        return;
    remove(w, it);
    dropIfIdle();
}

} // namespace corvane::engine
