// Tells when the peer of a connected descriptor is gone (a reset, or both
// directions shut) while nothing reads the descriptor. A paused connection's
// read notifier is off, so without this its end would go unseen and hold
// the descriptor, its queue and its place in the owner's count for ever.
// One epoll set per thread, asked only for hang-up and error: data arriving
// on a paused connection wakes nobody.
#pragma once

namespace corvane::engine {

class PeerGoneListener {
public:
    virtual ~PeerGoneListener() = default;
    // The descriptor is no longer watched when this is called; the listener
    // may destroy itself (and anything else) from here.
    virtual void peerGone() = 0;
};

// Watches fd for listener until unwatchPeer or until the peer is gone.
void watchPeer(int fd, PeerGoneListener* listener);
// Harmless when fd is not watched for this listener (any more).
void unwatchPeer(int fd, PeerGoneListener* listener);

} // namespace corvane::engine
