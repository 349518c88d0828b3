#include "engine/objects/websocket_client.h"

#include "engine/objects/event_args.h"
#include "engine/protocol/cookies.h"
#include "engine/transport/deferred_delete.h"
#include "engine/transport/firewall.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSslKey>

#include <algorithm>
#include <limits>

namespace corvane::engine {

using protocol::Opcode;
namespace P = client_prop;
namespace E = client_event;
namespace M = client_method;

namespace {

constexpr int64_t kMaxInt = std::numeric_limits<int>::max();

// Ranges and defaults of the client's properties (numbers, names and types
// come from corvanews20_client.h); rows left out are unchecked, 0 or empty.
const PropertyLimits kLimits[] = {
    {P::AcceptData, 0, 1, 1, ""},
    {P::AuthScheme, 0, 6, 0, ""},
    {P::CookieCount, 0, 10000, 0, ""},
    {P::DataFormat, 0, 2, 0, ""},
    {P::FirewallType, 0, 3, 0, ""},
    {P::FirewallPort, 0, 65535, 0, ""},
    {P::FollowRedirects, 0, 2, 0, ""},
    {P::LocalPort, 0, 65535, 0, ""},
    {P::ProxyAuthScheme, 0, 5, 0, ""},
    {P::ProxyPort, 0, 65535, 80, ""},
    {P::ProxySSL, 0, 3, 0, ""},
    {P::SSLCertStore, 0, -1, 0, "MY"},
    {P::SSLCertStoreType, 0, 99, 0, ""},
    {P::Timeout, 0, kMaxInt, 60, ""},
};

// Config settings of the client (engine/README.md documents each).
const ConfigDef kConfig[] = {
    CORVANE_COMMON_CONFIG,
    CORVANE_DEFLATE_CONFIG,
    {"MaxMessageSize", ConfigType::Int, 0, std::numeric_limits<int64_t>::max(), 0, ""},
    {"ChunkSize", ConfigType::Int, 1, 16 << 20, 256 << 10, ""},
    {"ReadBufferSize", ConfigType::Int, 4096, 16 << 20, 64 << 10, ""},
    {"SendBufferLimit", ConfigType::Int, 4096, 256 << 20, 1 << 20, ""},
    {"FragmentSize", ConfigType::Int, 0, kMaxInt, 0, ""},
    {"MaxRedirects", ConfigType::Int, 0, 100, 10, ""},
    {"CloseTimeout", ConfigType::Int, 0, 3600, 5, ""},
    {"CloseStatusCode", ConfigType::Int, 1000, 4999, 1000, ""},
    {"CloseDescription", ConfigType::String, 0, 0, 0, ""},
    {"SSLTrustedCAFile", ConfigType::String, 0, 0, 0, ""},
    {"ConnectTimeout", ConfigType::Int, 0, 86400, 60, ""},
    {"IdleTimeout", ConfigType::Int, 0, 86400, 0, ""},
    {"KeepAliveInterval", ConfigType::Int, 0, 86400, 0, ""},
};

int toMs(int64_t seconds)
{
    return int(std::min<int64_t>(seconds * 1000, kMaxInt));
}

} // namespace

std::span<const PropertyDef> clientProperties()
{
    static const std::vector<PropertyDef> defs = buildPropertyDefs(corvanews20::client::kTables, kLimits);
    return defs;
}
std::span<const ConfigDef> clientConfig() { return kConfig; }

WebSocketClient::WebSocketClient(CorvaneWS_EventSink sink, void* user)
    : EngineObject(sink, user, clientProperties(), kConfig),
      rng_(QRandomGenerator::system()->generate())
{
}

WebSocketClient::~WebSocketClient()
{
    ++connGen_;
    transport_.abort();
    if (opening_)
        opening_->detach();
    deferDelete(std::move(opening_));
    if (conn_)
        conn_->detach();
    deferDelete(std::move(conn_));
    wake();
}

void WebSocketClient::onDestroyRequested()
{
    dropConnection();
    interrupted_ = true;
    wake();
}

// ---- properties ----

int WebSocketClient::indexCount(const PropertyDef& def) const
{
    if (def.id >= P::CookieDomain && def.id <= P::CookieValue)
        return int(cookies_.size());
    if (def.id == P::ParsedHeaderField || def.id == P::ParsedHeaderValue)
        return int(parsedHeaders_.size());
    return 0;
}

bool WebSocketClient::readProperty(const PropertyDef& def, int index, Value& out)
{
    switch (def.id) {
    case P::BytesSent: out.i = conn_ ? conn_->bytesSent() : bytesSent_; return true;
    case P::Connected: out.i = state_ == State::Open; return true;
    case P::CookieCount: out.i = int64_t(cookies_.size()); return true;
    case P::CookieDomain: out.text = cookies_[size_t(index)].domain; return true;
    case P::CookieExpiration: out.text = cookies_[size_t(index)].expires; return true;
    case P::CookieName: out.text = cookies_[size_t(index)].name; return true;
    case P::CookiePath: out.text = cookies_[size_t(index)].path; return true;
    case P::CookieSecure: out.i = cookies_[size_t(index)].secure; return true;
    case P::CookieValue: out.text = cookies_[size_t(index)].value; return true;
    case P::ParsedHeaderCount: out.i = int64_t(parsedHeaders_.size()); return true;
    case P::ParsedHeaderField: out.text = parsedHeaders_[size_t(index)].first; return true;
    case P::ParsedHeaderValue: out.text = parsedHeaders_[size_t(index)].second; return true;
    case P::ReadyToSend: out.i = readyToSend(); return true;
    case P::SSLServerCertEncoded: out.bytes = serverCert_; return true;
    case P::TransferredHeaders: {
        const std::string& head = opening_ ? opening_->headText() : headRaw_;
        out.text = QString::fromUtf8(head.data(), qsizetype(head.size()));
        return true;
    }
    default: return false;
    }
}

int WebSocketClient::writeProperty(const PropertyDef& def, int index, Value& in)
{
    switch (def.id) {
    case P::AcceptData:
        stored(P::AcceptData).i = in.i;
        if (conn_)
            conn_->setReadPaused(WsConnection::kPausedByHost, in.i == 0);
        return 0;
    case P::Connected:
        if (in.i == 0)
            return state_ == State::Idle ? 0 : disconnect(false);
        if (state_ == State::Open)
            return 0;
        if (urlText_.isEmpty())
            return fail(kInvalidUrl, "no URL yet; call Connect");
        return connectTo(urlText_);
    case P::CookieCount:
        cookies_.resize(size_t(in.i));
        return 0;
    case P::CookieName: cookies_[size_t(index)].name = in.text; return 0;
    case P::CookieValue: cookies_[size_t(index)].value = in.text; return 0;
    case P::DataToSend: {
        const int format = int(intProp(P::DataFormat));
        const bool text = format == 1 || (format == 0 && in.form == 2);
        return sendMessage(text ? Opcode::Text : Opcode::Binary,
                           reinterpret_cast<const uint8_t*>(in.bytes.constData()), size_t(in.bytes.size()));
    }
    default:
        return -1;
    }
}

// ---- methods ----

int WebSocketClient::invoke(int method, int argc, void** argv, int* arglen)
{
    clearError();
    auto wide = [&](int k) { return k < argc ? wideArg(argv[k], arglen ? arglen[k] : 0) : QString(); };
    switch (method) {
    case M::AddCookie:
        addCookie(wide(0), wide(1));
        return 0;
    case M::Config: {
        QString answer;
        const int rc = configure(wide(0), answer);
        setWideResult(argv, arglen, std::max(argc, 1), answer);
        if (conn_)
            conn_->setLimits(connectionLimits());
        return rc;
    }
    case M::Connect: return connectTo(wide(0));
    case M::Disconnect: return disconnect(true);
    case M::DoEvents: doEvents(); return 0;
    case M::Interrupt: interrupt(); return 0;
    case M::Ping: return sendPing();
    case M::Reset: reset(); return 0;
    case M::ResetHeaders:
        stored(P::OtherHeaders).text.clear();
        cookies_.clear();
        parsedHeaders_.clear();
        headRaw_.clear();
        return 0;
    case M::Send:
        if (argc < 1)
            return fail(kInvalidArgument, "Send needs the data");
        return sendMessage(intProp(P::DataFormat) == 1 ? Opcode::Text : Opcode::Binary,
                           static_cast<const uint8_t*>(argv[0]), argv[0] && arglen ? size_t(std::max(arglen[0], 0)) : 0);
    case M::SendFile: return sendFile(wide(0));
    case M::SendText: {
        const QByteArray utf8 = wide(0).toUtf8();
        return sendMessage(intProp(P::DataFormat) == 2 ? Opcode::Binary : Opcode::Text,
                           reinterpret_cast<const uint8_t*>(utf8.constData()), size_t(utf8.size()));
    }
    default:
        return fail(kUnknownMethod, std::to_string(kMethodOffset + method));
    }
}

void WebSocketClient::addCookie(const QString& name, const QString& value)
{
    for (CookieEntry& c : cookies_) {
        if (c.name == name) {
            c.value = value;
            return;
        }
    }
    CookieEntry c;
    c.name = name;
    c.value = value;
    cookies_.push_back(c);
}

int WebSocketClient::connectTo(const QString& url)
{
    if (state_ != State::Idle)
        return fail(kAlreadyConnected);
    const std::optional<protocol::WsUrl> parsed = protocol::parseWsUrl(url.toStdString());
    if (!parsed)
        return fail(kInvalidUrl, url.toStdString());
    urlText_ = url;
    url_ = *parsed;
    redirects_ = 0;
    authAttempts_ = 0;
    authorization_.clear();
    interrupted_ = false;

    const QString auth = textProp(P::Authorization);
    const QString user = textProp(P::User).isEmpty() ? QString::fromStdString(url_.user) : textProp(P::User);
    const QString password = textProp(P::User).isEmpty() ? QString::fromStdString(url_.password) : textProp(P::Password);
    const int scheme = int(intProp(P::AuthScheme));
    if (!auth.isEmpty()) {
        authorization_ = auth.toStdString();
        if (scheme == 6 && !auth.startsWith(QLatin1String("Bearer "), Qt::CaseInsensitive))
            authorization_ = "Bearer " + authorization_;
    } else if (!user.isEmpty()) {
        static const char* const kNames[] = {"Basic", "Digest", "Proprietary", "None", "NTLM", "Negotiate", "OAuth"};
        if (scheme == 0)
            authorization_ = protocol::basicAuthorization(user.toStdString(), password.toStdString());
        else if (scheme != 1 && scheme != 3)
            return fail(kAuthNotSupported, kNames[scheme]);
    }

    connectPending_ = true;
    connectResult_ = 0;
    const int rc = startAttempt();
    if (rc != 0) {
        connectPending_ = false;
        return rc;
    }
    const int timeout = int(intProp(P::Timeout));
    if (timeout == 0) {
        // Nobody waits here, so the attempt gives up by itself: a server that
        // accepts and never answers must not hold the connection forever.
        const int64_t limit = configInt("ConnectTimeout");
        if (limit > 0) {
            const uint64_t serial = ++connectSerial_;
            QTimer::singleShot(int(limit * 1000), &timerContext_, [this, serial] {
                EntryGuard guard;
                if (serial != connectSerial_ || !connectPending_ || destroyed())
                    return;
                dropConnection();
                finishConnect(kTimeout, QStringLiteral("no connection within ConnectTimeout"));
            });
        }
        return 0;
    }
    const int waited = waitFor([this] { return !connectPending_; }, timeout);
    if (connectPending_) {
        dropConnection();
        finishConnect(waited == kInterrupted ? kInterrupted : kTimeout, {});
    }
    if (connectResult_ != 0)
        setLastErrorAndCode(connectResult_, connectErrorText_.c_str());
    return connectResult_;
}

int WebSocketClient::buildTransportConfig(TransportConfig& c)
{
    c.host = QString::fromStdString(url_.host);
    c.port = url_.port;
    c.tls = url_.secure;
    c.localHost = textProp(P::LocalHost);
    c.localPort = uint16_t(intProp(P::LocalPort));
    c.socketBufferSize = std::max<int64_t>(configInt("ReadBufferSize") * 4, 1 << 20);
    c.trustedCertificates = acceptedCertificates();

    ProxyConfig& p = c.proxy;
    const int fwType = int(intProp(P::FirewallType));
    if (fwType != 0 && !textProp(P::FirewallHost).isEmpty()) {
        const FirewallSettings fw{fwType, textProp(P::FirewallHost), int(intProp(P::FirewallPort)),
                                  textProp(P::FirewallUser), textProp(P::FirewallPassword), false};
        p = firewallProxy(fw, c.host, c.port);
    } else if (!textProp(P::ProxyServer).isEmpty()) {
        if (intProp(P::ProxySSL) == 1)
            return fail(kProxyFailed, "TLS to the proxy itself is not supported");
        p.kind = ProxyConfig::Kind::HttpConnect;
        p.host = textProp(P::ProxyServer);
        p.port = uint16_t(intProp(P::ProxyPort));
        p.user = textProp(P::ProxyUser);
        p.password = textProp(P::ProxyPassword);
    } else if (boolProp(P::FirewallAutoDetect) || boolProp(P::ProxyAutoDetect)) {
        p = systemProxy(c.host, c.port);
    }

    const int64_t storeType = intProp(P::SSLCertStoreType);
    if (c.tls && (storeType == 6 || storeType == 7)) {
        QByteArray pem = bytesProp(P::SSLCertStore);
        if (storeType == 6) {
            QFile f(QString::fromUtf8(pem));
            if (!f.open(QIODevice::ReadOnly))
                return fail(kFileError, pem.toStdString());
            pem = f.readAll();
        }
        const QList<QSslCertificate> certs = QSslCertificate::fromData(pem, QSsl::Pem);
        const QByteArray pass = textProp(P::SSLCertStorePassword).toUtf8();
        QSslKey key(pem, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, pass);
        if (key.isNull())
            key = QSslKey(pem, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey, pass);
        if (certs.isEmpty() || key.isNull())
            return fail(kTlsFailed, "the client certificate store holds no certificate and key");
        c.clientCertificate = certs.first();
        c.clientKey = key;
    }
    return 0;
}

QList<QSslCertificate> WebSocketClient::acceptedCertificates() const
{
    const QByteArray& accepted = bytesProp(P::SSLAcceptServerCertEncoded);
    QList<QSslCertificate> certs;
    if (!accepted.isEmpty()) {
        certs = QSslCertificate::fromData(accepted, QSsl::Pem);
        if (certs.isEmpty())
            certs = QSslCertificate::fromData(accepted, QSsl::Der);
    }
    const QString caFile = configText("SSLTrustedCAFile");
    if (!caFile.isEmpty())
        certs += QSslCertificate::fromPath(caFile, QSsl::Pem);
    return certs;
}

int WebSocketClient::startAttempt()
{
    ++connGen_;
    const uint64_t gen = connGen_;
    TransportConfig config;
    if (const int rc = buildTransportConfig(config); rc != 0)
        return rc;
    deferDelete(std::move(conn_));
    headRaw_.clear();
    parsedHeaders_.clear();
    serverCert_.clear();
    bytesSent_ = 0;
    state_ = State::Connecting;

    TransportCallbacks cb;
    cb.stage = [this, gen](const QString& stage) {
        EntryGuard guard;
        if (gen == connGen_)
            raiseConnectionStatus(stage, 0, transport_.peerDescription());
    };
    cb.verify = [this, gen](const QList<QSslCertificate>& chain, bool verified, const QString& status) {
        EntryGuard guard;
        return gen == connGen_ && onVerify(chain, verified, status);
    };
    cb.ready = [this, gen] { EntryGuard guard; onTransportReady(gen); };
    cb.failed = [this, gen](int code, const QString& detail) { EntryGuard guard; onTransportFailed(gen, code, detail); };
    cb.closed = [this, gen] { EntryGuard guard; onTransportClosed(gen); };
    transport_.open(config, std::move(cb));
    return 0;
}

bool WebSocketClient::onVerify(const QList<QSslCertificate>& chain, bool verified, const QString& status)
{
    const QSslCertificate leaf = chain.isEmpty() ? QSslCertificate() : chain.first();
    serverCert_ = leaf.toPem();
    bool accept = verified;
    if (!accept && !leaf.isNull()) {
        const QList<QSslCertificate> accepted = acceptedCertificates();
        accept = std::find(accepted.begin(), accepted.end(), leaf) != accepted.end();
    }
    if (!hasSink())
        return accept;
    Wide subject(dnText(leaf, true)), issuer(dnText(leaf, false)), text(status);
    void* argv[6] = {serverCert_.data(), subject.ptr(), issuer.ptr(), text.ptr(), iv(accept), nullptr};
    int arglen[6] = {int(serverCert_.size()), 0, 0, 0, 0, 0};
    raise(E::SSLServerAuthentication, 5, argv, arglen);
    if (destroyed())
        return false;
    return argv[4] != nullptr;
}

void WebSocketClient::onTransportReady(uint64_t gen)
{
    if (gen != connGen_)
        return;
    raiseConnectionStatus(QStringLiteral("Remote host connection complete"), 0, transport_.peerDescription());
    if (gen != connGen_ || destroyed())
        return;
    if (url_.secure && hasSink()) {
        Wide msg(QStringLiteral("TLS handshake complete"));
        void* argv[2] = {msg.ptr(), nullptr};
        int arglen[2] = {0, 0};
        raise(E::SSLStatus, 1, argv, arglen);
        if (gen != connGen_ || destroyed())
            return;
    }
    uint8_t nonce[16];
    rng_.fillRange(reinterpret_cast<quint32*>(nonce), 4);
    key_ = protocol::makeClientKey(nonce);
    protocol::ClientRequest request;
    request.url = url_;
    request.key = key_;
    request.origin = textProp(P::Origin).toStdString();
    request.subProtocols = textProp(P::SubProtocols).toStdString();
    request.otherHeaders = textProp(P::OtherHeaders).toStdString();
    request.authorization = authorization_;
    if (const protocol::DeflateSettings deflate = deflateSettings(); deflate.enabled)
        request.extensions = protocol::deflateClientOffer(deflate);
    QStringList cookieParts;
    for (const CookieEntry& c : cookies_)
        if (!c.name.isEmpty())
            cookieParts << c.name + '=' + c.value;
    request.cookie = cookieParts.join(QStringLiteral("; ")).toStdString();
    const std::string text = protocol::buildClientRequest(request);
    state_ = State::Handshake;
    log(2, QString::fromStdString(text), QStringLiteral("Request"));
    if (gen != connGen_ || destroyed())
        return;
    // The stream leaves the transport here: the opening stage and then the
    // connection read it, so frames right behind the answer are not lost.
    QTcpSocket* socket = transport_.release();
    if (socket == nullptr) {
        dropConnection();
        finishConnect(kConnectionLost, QStringLiteral("the connection is gone"));
        return;
    }
    const int64_t bufferSize = int64_t(std::max<int64_t>(configInt("ReadBufferSize"), 64 * 1024));
    opening_ = std::make_unique<ClientOpening>(ByteStream::fromSocket(socket, bufferSize),
                                               static_cast<ClientOpeningEvents&>(*this));
    ClientOffer offer;
    offer.request = text;
    offer.key = key_;
    offer.subProtocols = request.subProtocols;
    offer.deflate = deflateSettings();
    opening_->start(std::move(offer));
}

// The answer is in; what it means (redirect, authentication, failure, the
// connection) is decided here.
void WebSocketClient::openingAnswered(ClientOpening& opening)
{
    if (&opening != opening_.get())
        return;
    const uint64_t gen = connGen_;
    const ClientAnswer answer = opening.answer();
    const protocol::HttpHead& head = answer.head;
    headRaw_ = opening.headText();
    for (const protocol::HttpHeader& h : head.headers)
        parsedHeaders_.emplace_back(QString::fromStdString(h.field), QString::fromStdString(h.value));
    log(2, QString::fromStdString(headRaw_), QStringLiteral("Response"));
    for (const auto& [field, value] : std::vector(parsedHeaders_)) {
        if (!hasSink() || gen != connGen_)
            break;
        Wide f(field), v(value);
        void* argv[3] = {f.ptr(), v.ptr(), nullptr};
        int arglen[3] = {0, 0, 0};
        raise(E::Header, 2, argv, arglen);
    }
    if (gen != connGen_ || destroyed())
        return;
    for (std::string_view value : head.findAll("Set-Cookie")) {
        const std::optional<protocol::Cookie> c = protocol::parseSetCookie(value);
        if (!c)
            continue;
        CookieEntry entry{QString::fromStdString(c->name), QString::fromStdString(c->value),
                          QString::fromStdString(c->expires), QString::fromStdString(c->domain),
                          QString::fromStdString(c->path), c->secure};
        auto it = std::find_if(cookies_.begin(), cookies_.end(), [&](const CookieEntry& e) { return e.name == entry.name; });
        if (it != cookies_.end())
            *it = entry;
        else
            cookies_.push_back(entry);
        if (hasSink()) {
            Wide a(entry.name), b(entry.value), x(entry.expires), d(entry.domain), p(entry.path);
            void* argv[7] = {a.ptr(), b.ptr(), x.ptr(), d.ptr(), p.ptr(), iv(entry.secure), nullptr};
            int arglen[7] = {};
            raise(E::SetCookie, 6, argv, arglen);
            if (gen != connGen_ || destroyed())
                return;
        }
    }

    if (head.status == 101) {
        if (!answer.accepted()) {
            dropConnection();
            finishConnect(kHandshakeFailed, QString::fromStdString(answer.mismatch));
            return;
        }
        open();
        return;
    }
    if (protocol::isRedirectStatus(head.status) && handleRedirect(head))
        return;
    if (head.status == 401 && handleUnauthorized(head))
        return;
    if (gen != connGen_ || destroyed() || state_ != State::Handshake)
        return;
    dropConnection();
    const QString status = QStringLiteral("HTTP %1 %2").arg(head.status).arg(QString::fromStdString(head.reason));
    if (head.status == 401)
        finishConnect(kAuthFailed, status);
    else if (protocol::isRedirectStatus(head.status))
        finishConnect(kRedirectFailed, status);
    else
        finishConnect(kHandshakeFailed, status);
}

bool WebSocketClient::handleRedirect(const protocol::HttpHead& head)
{
    const uint64_t gen = connGen_;
    const std::optional<std::string_view> location = head.find("Location");
    if (!location)
        return false;
    const std::optional<protocol::WsUrl> target = protocol::resolveRedirect(url_, *location);
    const int policy = int(intProp(P::FollowRedirects));
    bool accept = target && (policy == 1 || (policy == 2 && target->secure == url_.secure));
    if (hasSink()) {
        Wide loc(QString::fromUtf8(location->data(), qsizetype(location->size())));
        void* argv[3] = {loc.ptr(), iv(accept), nullptr};
        int arglen[3] = {};
        raise(E::Redirect, 2, argv, arglen);
        if (gen != connGen_ || destroyed())
            return true;
        accept = target && argv[1] != nullptr;
    }
    if (!accept)
        return false;
    if (redirects_ >= configInt("MaxRedirects")) {
        dropConnection();
        finishConnect(kRedirectFailed, QStringLiteral("too many redirects"));
        return true;
    }
    ++redirects_;
    dropConnection();
    url_ = *target;
    if (const int rc = startAttempt(); rc != 0)
        finishConnect(rc, QString::fromStdString(lastError() ? lastError() : ""));
    return true;
}

bool WebSocketClient::handleUnauthorized(const protocol::HttpHead& head)
{
    const QString user = textProp(P::User).isEmpty() ? QString::fromStdString(url_.user) : textProp(P::User);
    const QString password = textProp(P::User).isEmpty() ? QString::fromStdString(url_.password) : textProp(P::Password);
    if (user.isEmpty() || authAttempts_ > 0 || intProp(P::AuthScheme) == 3 || !textProp(P::Authorization).isEmpty())
        return false;
    std::vector<protocol::AuthChallenge> challenges;
    for (std::string_view v : head.findAll("WWW-Authenticate")) {
        std::vector<protocol::AuthChallenge> c = protocol::parseAuthChallenges(v);
        challenges.insert(challenges.end(), c.begin(), c.end());
    }
    std::string answer;
    if (const protocol::AuthChallenge* digest = protocol::findChallenge(challenges, "Digest")) {
        uint8_t nonce[8];
        rng_.fillRange(reinterpret_cast<quint32*>(nonce), 2);
        const std::string cnonce = QByteArray(reinterpret_cast<const char*>(nonce), 8).toHex().toStdString();
        answer = protocol::digestAuthorization(*digest, user.toStdString(), password.toStdString(), "GET",
                                               url_.resource, cnonce, 1);
    } else if (protocol::findChallenge(challenges, "Basic") && intProp(P::AuthScheme) != 0) {
        answer = protocol::basicAuthorization(user.toStdString(), password.toStdString());
    }
    if (answer.empty()) {
        if (challenges.empty())
            return false;
        dropConnection();
        finishConnect(kAuthNotSupported, QString::fromStdString(challenges.front().scheme));
        return true;
    }
    ++authAttempts_;
    authorization_ = answer;
    dropConnection();
    if (const int rc = startAttempt(); rc != 0)
        finishConnect(rc, QString::fromStdString(lastError() ? lastError() : ""));
    return true;
}

void WebSocketClient::onTransportFailed(uint64_t gen, int code, const QString& detail)
{
    if (gen != connGen_)
        return;
    if (state_ == State::Connecting || state_ == State::Handshake) {
        dropConnection();
        finishConnect(code, detail);
    }
}

void WebSocketClient::openingFailed(ClientOpening& opening, int code, const QString& detail)
{
    if (&opening != opening_.get())
        return;
    headRaw_ = opening.headText();
    dropConnection();
    finishConnect(code, detail);
}

void WebSocketClient::onTransportClosed(uint64_t gen)
{
    if (gen != connGen_)
        return;
    if (state_ == State::Handshake || state_ == State::Connecting) {
        dropConnection();
        finishConnect(kHandshakeFailed, QStringLiteral("connection closed during the handshake"));
    }
}

// The server accepted: the stream becomes a connection in the client role,
// which raises OnConnected and OnReadyToSend as it opens, before any data.
void WebSocketClient::open()
{
    std::unique_ptr<ClientOpening> opening = std::move(opening_);
    conn_ = opening ? opening->open(static_cast<ConnectionEvents&>(*this), connectionLimits()) : nullptr;
    deferDelete(std::move(opening));
    if (!conn_) {
        dropConnection();
        finishConnect(kConnectionLost, QStringLiteral("the connection is gone"));
        return;
    }
    if (!boolProp(P::AcceptData))
        conn_->setReadPaused(WsConnection::kPausedByHost, true);
    state_ = State::Open;
    announcing_ = true;
    conn_->start();
    announcing_ = false;
}

void WebSocketClient::connectionOpened(WsConnection& ws)
{
    if (&ws != conn_.get())
        return;
    const uint64_t gen = connGen_;
    finishConnect(0, QStringLiteral("OK"));
    if (gen == connGen_ && !destroyed() && state_ == State::Open)
        raiseReadyToSend();
}

ConnectionLimits WebSocketClient::connectionLimits() const
{
    ConnectionLimits l;
    l.sendQueueLimit = configInt("SendBufferLimit");
    // The client's sends never fail on a full queue: SendBufferLimit only
    // turns ReadyToSend false (and pauses reading for pong floods).
    l.refuseOverLimit = false;
    l.maxMessageSize = uint64_t(configInt("MaxMessageSize"));
    l.chunkSize = size_t(configInt("ChunkSize"));
    l.readBufferSize = size_t(configInt("ReadBufferSize"));
    l.closeTimeoutMs = toMs(configInt("CloseTimeout"));
    l.fragmentSize = size_t(configInt("FragmentSize"));
    l.fileFragmentSize = 0;   // without FragmentSize a file is one frame, as any message
    l.idleTimeoutMs = toMs(configInt("IdleTimeout"));
    l.keepAliveMs = toMs(configInt("KeepAliveInterval"));
    l.deflate = deflateSettings();
    return l;
}

void WebSocketClient::finishConnect(int code, const QString& detail)
{
    if (code != 0) {
        state_ = State::Idle;
        fail(code, detail.toStdString());
        connectErrorText_ = lastError() ? lastError() : "";
    }
    connectResult_ = code;
    connectPending_ = false;
    wake();
    if (!hasSink())
        return;
    Wide description(code == 0 ? detail : QString::fromStdString(connectErrorText_));
    void* argv[3] = {iv(code), description.ptr(), nullptr};
    int arglen[3] = {};
    raise(E::Connected, 2, argv, arglen);
}

void WebSocketClient::dropConnection()
{
    ++connGen_;
    transport_.abort();
    if (opening_) {
        opening_->detach();
        deferDelete(std::move(opening_));
    }
    if (conn_) {
        bytesSent_ = conn_->bytesSent();
        conn_->detach();
        deferDelete(std::move(conn_));
    }
    state_ = State::Idle;
}

// ---- connection events ----

void WebSocketClient::connectionData(WsConnection& ws, Opcode type, const uint8_t* data, size_t n, bool last)
{
    if (&ws != conn_.get() || !hasSink())
        return;
    void* argv[4] = {iv(type == Opcode::Text ? 1 : 2), const_cast<uint8_t*>(data), iv(last), nullptr};
    int arglen[4] = {0, int(n), 0, 0};
    raise(E::DataIn, 3, argv, arglen);
}

void WebSocketClient::connectionReadyToSend(WsConnection& ws)
{
    wake();
    // The connection's first one, as it opens, was raised after OnConnected
    // already; SendFile's own wait reports nothing.
    if (announcing_) {
        announcing_ = false;
        return;
    }
    if (&ws == conn_.get() && !sendingFile_ && state_ == State::Open)
        raiseReadyToSend();
}

void WebSocketClient::connectionError(WsConnection& ws, int code, const QString& text)
{
    if (&ws == conn_.get())
        raiseError(code, text);
}

void WebSocketClient::connectionClosed(WsConnection& ws, int statusCode, const QString& reason)
{
    if (&ws != conn_.get())
        return;
    bytesSent_ = ws.bytesSent();
    ++connGen_;
    state_ = State::Idle;
    deferDelete(std::move(conn_));
    wake();
    if (!hasSink())
        return;
    Wide d(reason);
    void* argv[3] = {iv(statusCode), d.ptr(), nullptr};
    int arglen[3] = {};
    raise(E::Disconnected, 2, argv, arglen);
}

void WebSocketClient::connectionLog(WsConnection& ws, int level, const QString& message, const QString& type)
{
    if (&ws == conn_.get())
        log(level, message, type);
}

// ---- sending ----

int WebSocketClient::sendMessage(Opcode op, const uint8_t* data, size_t n)
{
    if (state_ != State::Open || !conn_)
        return fail(kNotConnected);
    const int rc = conn_->sendMessage(op, data, n);
    if (rc == kSendFailed)
        return fail(kSendFailed, "the connection is gone");
    return rc == 0 ? 0 : fail(rc);
}

// The connection streams the file as one message in bounded pieces as the
// socket drains, so the file is never held in memory whole; the call returns
// once the last piece is queued.
int WebSocketClient::sendFile(const QString& fileName)
{
    if (state_ != State::Open || !conn_)
        return fail(kNotConnected);
    if (sendingFile_ || conn_->sendingFile())
        return fail(kBusySending);
    QFile probe(fileName);
    if (!probe.open(QIODevice::ReadOnly))
        return fail(kFileError, fileName.toStdString());
    probe.close();
    const Opcode op = intProp(P::DataFormat) == 1 ? Opcode::Text : Opcode::Binary;
    WsConnection* ws = conn_.get();
    interrupted_ = false;
    sendingFile_ = true;
    int rc = ws->sendFile(fileName, op);
    if (rc != 0) {
        sendingFile_ = false;
        return fail(rc, fileName.toStdString());
    }
    waitFor([&] { return conn_.get() != ws || !ws->sendingFile(); }, 0);
    if (destroyed())
        return fail(kSendFailed, "the object was destroyed");
    sendingFile_ = false;
    if (conn_.get() != ws)
        return fail(kSendFailed, "the connection was closed");
    if (ws->sendingFile()) {
        // Interrupted mid-message: there is no way back, the connection must go.
        dropConnection();
        return fail(kInterrupted);
    }
    return 0;
}

int WebSocketClient::sendPing()
{
    if (state_ != State::Open || !conn_)
        return fail(kNotConnected);
    const int rc = conn_->sendPing();
    return rc == 0 ? 0 : fail(rc, "the connection is gone");
}

int WebSocketClient::disconnect(bool wait)
{
    if (state_ == State::Idle)
        return 0;
    if (state_ == State::Connecting || state_ == State::Handshake) {
        dropConnection();
        finishConnect(kInterrupted, {});
        return 0;
    }
    if (state_ == State::Open && conn_) {
        state_ = State::Closing;
        conn_->close(uint16_t(configInt("CloseStatusCode")), configText("CloseDescription").toStdString());
    }
    const int timeout = int(intProp(P::Timeout));
    if (wait && timeout > 0) {
        interrupted_ = false;
        waitFor([this] { return state_ == State::Idle; }, timeout);
        if (state_ != State::Idle && !destroyed() && conn_)
            conn_->abort(QStringLiteral("The close handshake timed out"));
    }
    return 0;
}

void WebSocketClient::interrupt()
{
    interrupted_ = true;
    wake();
    if (waitLoops_.empty() && (state_ == State::Connecting || state_ == State::Handshake)) {
        dropConnection();
        finishConnect(kInterrupted, {});
    }
}

void WebSocketClient::reset()
{
    interrupted_ = true;
    dropConnection();
    connectPending_ = false;
    wake();
    parsedHeaders_.clear();
    headRaw_.clear();
    serverCert_.clear();
    bytesSent_ = 0;
}

// ---- events ----

void WebSocketClient::raiseConnectionStatus(const QString& what, int code, const QString& description)
{
    if (!hasSink())
        return;
    Wide w(what), d(description);
    void* argv[4] = {w.ptr(), iv(code), d.ptr(), nullptr};
    int arglen[4] = {};
    raise(E::ConnectionStatus, 3, argv, arglen);
}

void WebSocketClient::raiseError(int code, const QString& description)
{
    if (!hasSink())
        return;
    Wide d(description);
    void* argv[3] = {iv(code), d.ptr(), nullptr};
    int arglen[3] = {};
    raise(E::Error, 2, argv, arglen);
}

void WebSocketClient::log(int level, const QString& message, const QString& type)
{
    if (!hasSink() || level > configInt("LogLevel"))
        return;
    Wide m(message), t(type);
    void* argv[4] = {iv(level), m.ptr(), t.ptr(), nullptr};
    int arglen[4] = {};
    raise(E::Log, 3, argv, arglen);
}

void WebSocketClient::raiseReadyToSend()
{
    if (!hasSink())
        return;
    void* argv[1] = {nullptr};
    int arglen[1] = {0};
    raise(E::ReadyToSend, 0, argv, arglen);
}

bool WebSocketClient::readyToSend() const
{
    return state_ == State::Open && conn_ && !sendingFile_ && conn_->readyToSend();
}

// ---- waiting ----

int WebSocketClient::waitFor(const std::function<bool()>& done, int timeoutSeconds)
{
    QEventLoop loop;
    QTimer timer;
    bool timedOut = false;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    if (timeoutSeconds > 0)
        timer.start(timeoutSeconds * 1000);
    waitLoops_.push_back(&loop);
    while (!done() && !timedOut && !interrupted_ && !destroyed())
        loop.exec();
    waitLoops_.erase(std::find(waitLoops_.begin(), waitLoops_.end(), &loop));
    if (interrupted_)
        return kInterrupted;
    return timedOut ? kTimeout : 0;
}

void WebSocketClient::wake()
{
    for (QEventLoop* loop : waitLoops_)
        loop->quit();
}

} // namespace corvane::engine
