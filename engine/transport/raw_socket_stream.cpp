#include "engine/transport/raw_socket_stream.h"

#include "engine/transport/socket_graveyard.h"

#include <QAbstractSocket>
#include <QNetworkProxy>
#include <QSocketNotifier>
#include <QSslSocket>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace corvane::engine {

namespace {

// Pieces of one sendmsg: the queued chunks (a few MiB of blocks) and a write.
constexpr int kMaxIov = 64;
// What a corked stream holds back at most; more goes out at once.
constexpr int64_t kCorkLimit = 64 * 1024;

bool fatalWriteError(int err)
{
    return err != EAGAIN && err != EWOULDBLOCK && err != EINTR;
}

// Sends what it can of the pieces; -1 with errno set on a fault.
ssize_t sendPieces(int fd, iovec* iov, int count)
{
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = size_t(count);
    for (;;) {
        const ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

QHostAddress addressOf(const sockaddr_storage& s, uint16_t* port)
{
    QHostAddress a(reinterpret_cast<const sockaddr*>(&s));
    if (port != nullptr)
        *port = s.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&s)->sin6_port)
                                        : ntohs(reinterpret_cast<const sockaddr_in*>(&s)->sin_port);
    return a;
}

// The unsent output of a stream that was closed after a flush: it goes on
// by itself and closes the descriptor when done or when time runs out.
class RawLinger final : public QObject {
public:
    RawLinger(int fd, OutputQueue unsent, int timeoutMs)
        : fd_(fd), out_(std::move(unsent)), notifier_(fd, QSocketNotifier::Write, this)
    {
        QObject::connect(&notifier_, &QSocketNotifier::activated, this, [this] {
            EntryGuard guard;
            pump();
        });
        deadline_.setSingleShot(true);
        QObject::connect(&deadline_, &QTimer::timeout, this, [this] {
            EntryGuard guard;
            done();
        });
        deadline_.start(std::max(timeoutMs, 100));
    }
    ~RawLinger() override { closeFd(); }

private:
    void pump()
    {
        while (!out_.empty()) {
            iovec iov[kMaxIov];
            bool whole = false;
            const int count = out_.pieces(iov, kMaxIov, whole);
            const ssize_t n = sendPieces(fd_, iov, count);
            if (n < 0) {
                if (fatalWriteError(errno))
                    done();
                return;
            }
            out_.consume(n);
        }
        done();
    }
    void done()
    {
        deadline_.stop();
        notifier_.setEnabled(false);
        closeFd();
        out_.clear();
        retireLingering(this);
    }
    void closeFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    int fd_;
    OutputQueue out_;
    QSocketNotifier notifier_;
    QTimer deadline_;
};

} // namespace

RawSocketStream::RawSocketStream(int descriptor, QByteArray preRead) : fd_(descriptor), preRead_(std::move(preRead))
{
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0)
        ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    // Frames go out whole in one call, so there is nothing for Nagle to join.
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
}

RawSocketStream::~RawSocketStream()
{
    abort();
}

std::unique_ptr<RawSocketStream> RawSocketStream::adopt(QAbstractSocket* socket)
{
    if (socket == nullptr || socket->state() != QAbstractSocket::ConnectedState || socket->socketDescriptor() < 0)
        return nullptr;
    // TLS, begun or to come, is Qt's; so is a tunnel Qt's proxy engine runs.
    if (const auto* ssl = qobject_cast<QSslSocket*>(socket); ssl != nullptr && ssl->mode() != QSslSocket::UnencryptedMode)
        return nullptr;
    const QNetworkProxy::ProxyType proxy = socket->proxy().type();
    if (proxy != QNetworkProxy::NoProxy
        && !(proxy == QNetworkProxy::DefaultProxy && QNetworkProxy::applicationProxy().type() == QNetworkProxy::NoProxy))
        return nullptr;
    socket->flush();
    if (socket->bytesToWrite() > 0)
        return nullptr;
    const int fd = ::fcntl(int(socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    // Qt's socket must stop reading at once: its descriptor shares the
    // kernel socket with ours, and anything it read from now on would be lost.
    QByteArray pre = socket->readAll();
    socket->disconnect();
    socket->abort();
    retireObject(socket);
    return std::make_unique<RawSocketStream>(fd, std::move(pre));
}

void RawSocketStream::listenerChanged()
{
    if (listener_ != nullptr && readNotifier_ == nullptr && fd_ >= 0) {
        auto* n = new OwnedNotifier(fd_, QSocketNotifier::Read, this);
        readNotifier_ = n;
        QObject::connect(n, &QSocketNotifier::activated, n, [n] {
            EntryGuard guard;
            if (n->owner != nullptr)
                n->owner->onReadable();
        });
    }
    updateReadNotifier();
    // Bytes taken over from before the stream existed are not announced by
    // the kernel; say so once the owner listens.
    if (listener_ != nullptr && bytesBuffered() > 0 && readNotifier_ != nullptr) {
        OwnedNotifier* n = readNotifier_;
        QTimer::singleShot(0, n, [n] {
            EntryGuard guard;
            RawSocketStream* s = n->owner;
            if (s != nullptr && s->listener_ != nullptr && s->bytesBuffered() > 0)
                s->listener_->streamReadable();
        });
    }
}

void RawSocketStream::updateReadNotifier()
{
    if (readNotifier_ == nullptr)
        return;
    // A stream that ended still reports that once (read gives -1), paused or not.
    const bool want = fd_ >= 0 && listener_ != nullptr && (status_ != Status::Open || !paused_);
    if (readNotifier_->isEnabled() != want)
        readNotifier_->setEnabled(want);
    // Not reading, the kernel would keep a reset to itself until reading resumes.
    const bool watch = fd_ >= 0 && listener_ != nullptr && status_ == Status::Open && paused_;
    if (watch != watched_) {
        watched_ = watch;
        if (watch)
            watchPeer(fd_, this);
        else
            unwatchPeer(fd_, this);
    }
}

// The peer reset the connection (or both directions are shut) while reading
// was paused: nothing it sent can be answered any more, so the stream ends
// now rather than when the owner reads again.
void RawSocketStream::peerGone()
{
    watched_ = false;
    if (fd_ < 0 || status_ != Status::Open)
        return;
    int err = 0;
    socklen_t len = sizeof(err);
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err == 0)
        err = ECONNRESET;
    errno_ = err;
    status_ = err == ECONNRESET || err == EPIPE ? Status::Ended : Status::Failed;
    preRead_ = QByteArray();
    preReadPos_ = 0;
    updateReadNotifier();
    if (listener_ != nullptr)
        listener_->streamReadable();   // may destroy this
}

void RawSocketStream::setReadPaused(bool paused)
{
    paused_ = paused;
    updateReadNotifier();
}

void RawSocketStream::onReadable()
{
    if (listener_ == nullptr)
        return;
    if (status_ != Status::Open && readNotifier_ != nullptr)
        readNotifier_->setEnabled(false);   // reported now; the owner reads -1
    listener_->streamReadable();   // may destroy this
}

int64_t RawSocketStream::read(char* data, int64_t max)
{
    if (max <= 0)
        return 0;
    if (preReadPos_ < preRead_.size()) {
        const int64_t n = std::min<int64_t>(max, preRead_.size() - preReadPos_);
        std::memcpy(data, preRead_.constData() + preReadPos_, size_t(n));
        preReadPos_ += n;
        if (preReadPos_ == preRead_.size()) {
            preRead_ = QByteArray();
            preReadPos_ = 0;
        }
        return n;
    }
    if (status_ != Status::Open || fd_ < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::recv(fd_, data, size_t(max), 0);
        if (n > 0)
            return n;
        if (n == 0) {
            status_ = Status::Ended;
            return -1;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        errno_ = errno;
        status_ = errno_ == ECONNRESET ? Status::Ended : Status::Failed;
        return -1;
    }
}

bool RawSocketStream::write(const char* a, int64_t an, const char* b, int64_t bn)
{
    if (status_ == Status::Failed || fd_ < 0)
        return false;
    if (an <= 0 && bn <= 0)
        return true;
    // The first write of a corked batch goes straight out (a lone answer
    // costs one call as uncorked); those after it are held and leave together.
    if (corked_ && !corkFirst_ && canSend()) {
        if (out_.size() + std::max<int64_t>(an, 0) + std::max<int64_t>(bn, 0) <= kCorkLimit) {
            // Armed all the same: a handler that runs an event loop of its
            // own before the stream is uncorked still gets its bytes out.
            queue(a, an);
            queue(b, bn);
            return true;
        }
        // Too much to hold: what is held goes first, in order.
        const int64_t before = out_.size();
        if (!flushQueue())
            return false;
        noteQuietProgress(before);
    }
    corkFirst_ = false;
    int64_t sent = 0;
    if (canSend()) {
        // Whatever is queued goes first, and the new bytes behind it in the
        // same call: the kernel often has room again before the write
        // notifier would say so (its reader drains it meanwhile), and every
        // byte it takes now is one not copied into the queue.
        iovec iov[kMaxIov];
        bool whole = true;
        int count = out_.pieces(iov, kMaxIov - 2, whole);
        int64_t queuedIn = 0;
        for (int k = 0; k < count; ++k)
            queuedIn += int64_t(iov[k].iov_len);
        if (whole) {
            if (an > 0)
                iov[count++] = {const_cast<char*>(a), size_t(an)};
            if (bn > 0)
                iov[count++] = {const_cast<char*>(b), size_t(bn)};
        }
        const ssize_t n = count > 0 ? sendPieces(fd_, iov, count) : 0;
        if (n < 0) {
            if (fatalWriteError(errno)) {
                brokenByWrite(errno);
                return false;
            }
        } else {
            const int64_t ofQueue = std::min<int64_t>(n, queuedIn);
            if (ofQueue > 0) {
                out_.consume(ofQueue);
                // Output from before went out outside the write notifier: the
                // owner may be waiting for the queue to drain.
                reportPending_ = true;
                armWriteNotifier();
            }
            sent = n - ofQueue;
        }
    }
    if (sent < an)
        queue(a + sent, an - sent);
    const int64_t fromB = std::max<int64_t>(0, sent - an);
    if (fromB < bn)
        queue(b + fromB, bn - fromB);
    return true;
}

void RawSocketStream::setCorked(bool corked)
{
    if (corked_ == corked)
        return;
    corked_ = corked;
    corkFirst_ = corked;
    if (corked_) {
        corkBacklog_ = out_.size();
        return;
    }
    if (out_.empty() || !canSend())
        return;
    const int64_t before = out_.size();
    if (!flushQueue())
        return;
    noteQuietProgress(before);
    if (out_.empty() && !reportPending_ && writeNotifier_ != nullptr)
        writeNotifier_->setEnabled(false);
}

// Output that waited before this batch went out here, outside the write
// notifier: the owner may be waiting for the queue to drain, so the next
// notifier turn reports it.
void RawSocketStream::noteQuietProgress(int64_t before)
{
    if (corkBacklog_ > 0 && out_.size() < before) {
        corkBacklog_ = out_.size();
        reportPending_ = true;
        armWriteNotifier();
    }
}

void RawSocketStream::queue(const char* data, int64_t n, bool arm)
{
    if (n <= 0)
        return;
    out_.append(data, n);
    if (arm)
        armWriteNotifier();
}

void RawSocketStream::armWriteNotifier()
{
    if (writeNotifier_ == nullptr && fd_ >= 0) {
        auto* n = new OwnedNotifier(fd_, QSocketNotifier::Write, this);
        writeNotifier_ = n;
        QObject::connect(n, &QSocketNotifier::activated, n, [n] {
            EntryGuard guard;
            if (n->owner != nullptr)
                n->owner->onWritable();
        });
    }
    if (writeNotifier_ != nullptr && !writeNotifier_->isEnabled())
        writeNotifier_->setEnabled(true);
}

bool RawSocketStream::flushQueue()
{
    while (!out_.empty()) {
        iovec iov[kMaxIov];
        bool whole = false;
        const int count = out_.pieces(iov, kMaxIov, whole);
        int64_t offered = 0;
        for (int k = 0; k < count; ++k)
            offered += int64_t(iov[k].iov_len);
        const ssize_t n = sendPieces(fd_, iov, count);
        if (n < 0) {
            if (fatalWriteError(errno)) {
                brokenByWrite(errno);
                return false;
            }
            return true;
        }
        out_.consume(n);
        if (n < offered)
            return true;   // the kernel is full: asking again now would only hear so
    }
    return true;
}

void RawSocketStream::onWritable()
{
    if (fd_ < 0)
        return;
    const int64_t before = out_.size();
    const bool ok = flushQueue();
    const bool progress = out_.size() < before || reportPending_;
    reportPending_ = false;
    if (out_.empty() && writeNotifier_ != nullptr)
        writeNotifier_->setEnabled(false);
    if (listener_ == nullptr)
        return;
    if (!ok)
        listener_->streamReadable();   // the owner learns of the fault by reading; may destroy this
    else if (progress)
        listener_->streamWritten();    // may destroy this
}

// After the peer's FIN our side may still send (a close answer); not after
// a reset or a write fault.
bool RawSocketStream::canSend() const
{
    return fd_ >= 0 && (status_ == Status::Open || (status_ == Status::Ended && errno_ == 0));
}

// A write fault ends the connection; the owner hears of it through a read,
// which the read notifier brings even while reading is paused.
void RawSocketStream::brokenByWrite(int err)
{
    errno_ = err;
    status_ = (err == EPIPE || err == ECONNRESET) ? Status::Ended : Status::Failed;
    preRead_ = QByteArray();
    preReadPos_ = 0;
    if (writeNotifier_ != nullptr)
        writeNotifier_->setEnabled(false);
    updateReadNotifier();
    if (readNotifier_ != nullptr && listener_ != nullptr) {
        OwnedNotifier* n = readNotifier_;
        QTimer::singleShot(0, n, [n] {
            EntryGuard guard;
            if (n->owner != nullptr)
                n->owner->onReadable();
        });
    }
}

QString RawSocketStream::errorText() const
{
    if (status_ == Status::Open)
        return {};
    if (errno_ == 0)
        return QStringLiteral("The remote host closed the connection");
    return QString::fromLocal8Bit(std::strerror(errno_));
}

void RawSocketStream::releaseNotifiers()
{
    if (watched_) {
        watched_ = false;
        unwatchPeer(fd_, this);
    }
    for (OwnedNotifier** n : {&readNotifier_, &writeNotifier_}) {
        if (*n != nullptr) {
            (*n)->owner = nullptr;
            (*n)->setEnabled(false);
            retireObject(*n);   // its own signal may be on the stack
            *n = nullptr;
        }
    }
}

void RawSocketStream::closeAfterFlush(int timeoutMs)
{
    if (fd_ < 0)
        return;
    if (!out_.empty() && canSend() && flushQueue() && !out_.empty()) {
        releaseNotifiers();
        auto* linger = new RawLinger(fd_, std::move(out_), timeoutMs);
        lingerObject(linger);
        fd_ = -1;
        out_.clear();
        listener_ = nullptr;
        return;
    }
    abort();
}

void RawSocketStream::abort()
{
    listener_ = nullptr;
    releaseNotifiers();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    out_.clear();
    if (status_ == Status::Open)
        status_ = Status::Failed;
}

QHostAddress RawSocketStream::peerAddress() const
{
    sockaddr_storage s{};
    socklen_t len = sizeof(s);
    if (fd_ < 0 || ::getpeername(fd_, reinterpret_cast<sockaddr*>(&s), &len) != 0)
        return {};
    return addressOf(s, nullptr);
}

uint16_t RawSocketStream::peerPort() const
{
    sockaddr_storage s{};
    socklen_t len = sizeof(s);
    uint16_t port = 0;
    if (fd_ >= 0 && ::getpeername(fd_, reinterpret_cast<sockaddr*>(&s), &len) == 0)
        addressOf(s, &port);
    return port;
}

QHostAddress RawSocketStream::localAddress() const
{
    sockaddr_storage s{};
    socklen_t len = sizeof(s);
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&s), &len) != 0)
        return {};
    return addressOf(s, nullptr);
}

uint16_t RawSocketStream::localPort() const
{
    sockaddr_storage s{};
    socklen_t len = sizeof(s);
    uint16_t port = 0;
    if (fd_ >= 0 && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&s), &len) == 0)
        addressOf(s, &port);
    return port;
}

} // namespace corvane::engine
