#include "engine/objects/server_object.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSslCipher>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <limits>

namespace corvane::engine {

namespace SP = corvanews20::server::prop;

namespace {

constexpr int64_t kMaxInt = std::numeric_limits<int>::max();

// Rows left out are unchecked, 0 or empty.
const PropertyLimits kServerLimits[] = {
    {SP::ConnectionBacklog, 1, 65535, 128, ""},
    {SP::WebSocketConnectionAcceptData, 0, 1, 1, ""},
    {SP::WebSocketConnectionDataFormat, 0, 2, 0, ""},
    {SP::WebSocketConnectionTimeout, 0, kMaxInt, 0, ""},
    {SP::DefaultTimeout, 0, kMaxInt, 0, ""},
    {SP::LocalPort, 0, 65535, 0, ""},
    {SP::SSLCertStore, 0, -1, 0, "MY"},
    {SP::SSLCertStoreType, 0, 99, 0, ""},
};

// engine/README.md documents each.
const ConfigDef kServingConfig[] = {
    CORVANE_DEFLATE_CONFIG,
    {"MaxMessageSize", ConfigType::Int, 0, std::numeric_limits<int64_t>::max(), 0, ""},
    {"ChunkSize", ConfigType::Int, 1, 16 << 20, 256 << 10, ""},
    {"ReadBufferSize", ConfigType::Int, 4096, 16 << 20, 1 << 20, ""},
    {"SendQueueLimit", ConfigType::Int, 4096, int64_t(1) << 32, 16 << 20, ""},
    {"MaxQueuedBytes", ConfigType::Int, 0, int64_t(1) << 40, 64 << 20, ""},
    {"FragmentSize", ConfigType::Int, 0, kMaxInt, 0, ""},
    {"MaxHeadSize", ConfigType::Int, 1024, 1 << 20, 16 << 10, ""},
    {"HandshakeTimeout", ConfigType::Int, 0, 3600, 20, ""},
    {"KeepAliveInterval", ConfigType::Int, 0, 86400, 0, ""},
    {"CloseTimeout", ConfigType::Int, 0, 3600, 5, ""},
    {"CloseStatusCode", ConfigType::Int, 1000, 4999, 1000, ""},
    {"CloseDescription", ConfigType::String, 0, 0, 0, ""},
    {"SSLTrustedCAFile", ConfigType::String, 0, 0, 0, ""},
    {"CertStoreRoot", ConfigType::String, 0, 0, 0, ""},
};

// The proxy names its per-connection rows after itself.
QByteArray serverName(const char* name)
{
    QByteArray n(name);
    n.replace("WebSocketProxyConnection", "WebSocketConnection");
    return n;
}

int serverNumber(const char* name)
{
    const QByteArray n = serverName(name);
    for (const corvanews20::PropertyInfo& p : corvanews20::server::kProperties)
        if (n == p.name)
            return p.number;
    return 0;
}

int eventNumber(const corvanews20::ObjectTables& tables, const char* name)
{
    for (const corvanews20::EventInfo& e : tables.events)
        if (std::strcmp(e.name, name) == 0)
            return e.number;
    return 0;
}

QString cipherNames()
{
    static const QString names = [] {
        QStringList list;
        for (const QSslCipher& c : QSslConfiguration::defaultConfiguration().ciphers())
            list << c.name();
        return list.join(':');
    }();
    return names;
}

} // namespace

std::span<const PropertyLimits> serverPropertyLimits() { return kServerLimits; }

std::vector<PropertyLimits> mirroredServerLimits(const corvanews20::ObjectTables& tables)
{
    std::vector<PropertyLimits> limits;
    for (const corvanews20::PropertyInfo& p : tables.properties) {
        const int n = serverNumber(p.name);
        for (const PropertyLimits& l : kServerLimits)
            if (n != 0 && l.id == n) {
                PropertyLimits mine = l;
                mine.id = p.number;
                limits.push_back(mine);
            }
    }
    return limits;
}

std::span<const ConfigDef> servingConfig() { return kServingConfig; }

ServerObject::ServerObject(CorvaneWS_EventSink sink, void* user, const corvanews20::ObjectTables& tables,
                           std::span<const PropertyDef> properties, std::span<const ConfigDef> config)
    : EngineObject(sink, user, properties, config)
{
    int most = 0, mostServer = 0;
    for (const PropertyDef& d : properties)
        most = std::max(most, d.id);
    for (const corvanews20::PropertyInfo& p : corvanews20::server::kProperties)
        mostServer = std::max(mostServer, p.number);
    toServer_.assign(size_t(most) + 1, 0);
    toOwn_.assign(size_t(mostServer) + 1, 0);
    for (const PropertyDef& d : properties) {
        const int n = serverNumber(d.name);
        toServer_[size_t(d.id)] = n;
        if (n != 0)
            toOwn_[size_t(n)] = d.id;
    }
    events_.connectionRequest = eventNumber(tables, "ConnectionRequest");
    events_.error = eventNumber(tables, "Error");
    events_.log = eventNumber(tables, "Log");
    events_.sslClientAuthentication = eventNumber(tables, "SSLClientAuthentication");
    events_.sslConnectionRequest = eventNumber(tables, "SSLConnectionRequest");
    events_.sslStatus = eventNumber(tables, "SSLStatus");
    applySettings();
}

ServerObject::~ServerObject()
{
    core_.detachAll();
}

void ServerObject::onDestroyRequested()
{
    core_.detachAll();
}

int ServerObject::serverRow(const PropertyDef& def) const
{
    return def.id >= 0 && size_t(def.id) < toServer_.size() ? toServer_[size_t(def.id)] : 0;
}

int ServerObject::own(int serverNumber) const
{
    return toOwn_[size_t(serverNumber)];
}

// ---- settings ----

void ServerObject::onConfigChanged(const ConfigDef&)
{
    applySettings();
}

void ServerObject::applySettings()
{
    ServerSettings s;
    s.tls = boolProp(own(SP::UseSSL));
    s.authenticateClients = boolProp(own(SP::SSLAuthenticateClients));
    s.trustedCAFile = configText("SSLTrustedCAFile");
    s.defaultTimeout = int(intProp(own(SP::DefaultTimeout)));
    s.maxHeadSize = size_t(configInt("MaxHeadSize"));
    s.handshakeTimeoutMs = int(configInt("HandshakeTimeout") * 1000);
    ConnectionLimits& l = s.limits;
    l.sendQueueLimit = configInt("SendQueueLimit");
    l.maxMessageSize = uint64_t(configInt("MaxMessageSize"));
    l.chunkSize = size_t(configInt("ChunkSize"));
    l.readBufferSize = size_t(configInt("ReadBufferSize"));
    l.keepAliveMs = int(configInt("KeepAliveInterval") * 1000);
    l.closeTimeoutMs = int(configInt("CloseTimeout") * 1000);
    l.fragmentSize = size_t(configInt("FragmentSize"));
    l.deflate = deflateSettings();
    s.maxQueuedBytes = configInt("MaxQueuedBytes");
    core_.setSettings(s);
}

CertificateSource ServerObject::certificateSource() const
{
    return {int(intProp(own(SP::SSLCertStoreType))), bytesProp(own(SP::SSLCertStore)),
            textProp(own(SP::SSLCertStorePassword)), textProp(own(SP::SSLCertSubject)), configText("CertStoreRoot"),
            bytesProp(own(SP::SSLCertEncoded))};
}

// ---- properties ----

bool ServerObject::validIndex(const PropertyDef&, int index) const
{
    return core_.peer(index) != nullptr;
}

bool ServerObject::readProperty(const PropertyDef& def, int index, Value& out)
{
    const int row = serverRow(def);
    if (def.indexName != nullptr) {
        // Facts are there from accept on; sending only once open.
        const PeerFacts* peer = core_.peer(index);
        if (peer == nullptr)
            return false;
        const WsConnection* ws = core_.connection(index);
        switch (row) {
        case SP::WebSocketConnectionAcceptData: out.i = core_.acceptsData(index); return true;
        case SP::WebSocketConnectionBytesSent: out.i = ws ? ws->bytesSent() : 0; return true;
        case SP::WebSocketConnectionConnected: out.i = ws && ws->isOpen(); return true;
        case SP::WebSocketConnectionConnectionId: out.text = QString::number(index); return true;
        case SP::WebSocketConnectionHost: out.text = QString::fromStdString(peer->request.host); return true;
        case SP::WebSocketConnectionLocalAddress: out.text = peer->localAddress; return true;
        case SP::WebSocketConnectionOrigin: out.text = QString::fromStdString(peer->request.origin); return true;
        case SP::WebSocketConnectionReadyToSend: out.i = ws && ws->readyToSend(); return true;
        case SP::WebSocketConnectionRemoteHost: out.text = peer->remoteAddress; return true;
        case SP::WebSocketConnectionRemotePort: out.i = peer->remotePort; return true;
        case SP::WebSocketConnectionRequestHeaders: out.text = QString::fromStdString(peer->requestHead); return true;
        case SP::WebSocketConnectionRequestURI: out.text = QString::fromStdString(peer->request.resource); return true;
        case SP::WebSocketConnectionSubProtocols:
            out.text = QString::fromStdString(core_.opened(index) ? peer->subProtocol : peer->request.subProtocols);
            return true;
        case SP::WebSocketConnectionTimeout: out.i = core_.idleTimeout(index); return true;
        default: return false;
        }
    }
    switch (row) {
    case SP::WebSocketConnectionCount: out.i = int64_t(core_.connectionCount()); return true;
    case SP::Listening: out.i = core_.isListening(); return true;
    case SP::LocalPort: out.i = core_.isListening() ? core_.port() : intProp(def.id); return true;
    case SP::SSLCertEncoded: {
        // The certificate in use; before listening, the one the settings choose.
        ServerCertificate current;
        std::string why;
        if (core_.isListening() && certificateLoaded_)
            current = certificate_;
        else if (boolProp(own(SP::UseSSL)) || !bytesProp(own(SP::SSLCertEncoded)).isEmpty())
            loadServerCertificate(certificateSource(), current, why);
        out.bytes = current.certificate.isNull() ? QByteArray() : current.certificate.toPem();
        return true;
    }
    default: return false;
    }
}

int ServerObject::writeProperty(const PropertyDef& def, int index, Value& in)
{
    const WsConnection* ws = def.indexName != nullptr ? core_.connection(index) : nullptr;
    switch (serverRow(def)) {
    case SP::WebSocketConnectionAcceptData:
        core_.setAcceptData(index, in.i != 0);
        return 0;
    case SP::WebSocketConnectionConnected:
        if (in.i != 0)
            return ws && ws->isOpen() ? 0 : fail(kNotConnected);
        core_.close(index, uint16_t(configInt("CloseStatusCode")), configText("CloseDescription").toStdString());
        return 0;
    case SP::WebSocketConnectionTimeout:
        core_.setIdleTimeout(index, int(in.i));
        return 0;
    case SP::Listening:
        if ((in.i != 0) == core_.isListening())
            return 0;
        if (in.i == 0) {
            core_.stopListening();
            return 0;
        }
        return startListening();
    case SP::LocalHost:
    case SP::LocalPort:
        if (core_.isListening())
            return fail(kNotAllowedWhileConnected, def.name);
        return -1;
    case SP::UseSSL:
    case SP::SSLAuthenticateClients:
    case SP::DefaultTimeout:
        stored(def.id) = std::move(in);
        applySettings();
        return 0;
    default:
        return -1;
    }
}

// ---- listening ----

int ServerObject::startListening()
{
    certificate_ = ServerCertificate();
    certificateLoaded_ = false;
    if (boolProp(own(SP::UseSSL))) {
        std::string why;
        if (const int rc = loadServerCertificate(certificateSource(), certificate_, why); rc != 0)
            return fail(rc, why);
        certificateLoaded_ = true;
    }
    const QString host = textProp(own(SP::LocalHost));
    QHostAddress address(QHostAddress::Any);
    if (!host.isEmpty()) {
        address = QHostAddress(host);
        if (address.isNull() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
            address = QHostAddress(QHostAddress::LocalHost);
        if (address.isNull())
            return fail(kListenFailed, host.toStdString() + " is not a local address");
    }
    applySettings();
    QString why;
    if (core_.listen(address, quint16(intProp(own(SP::LocalPort))), int(intProp(own(SP::ConnectionBacklog))), why)
        != 0)
        return fail(kListenFailed, why.toStdString());
    return 0;
}

// ---- events every server object raises alike ----

bool ServerObject::serverConnectionRequest(const QHostAddress& address, uint16_t port)
{
    if (!hasSink())
        return true;
    Wide a(address.toString());
    void* argv[4] = {a.ptr(), iv(port), iv(1), nullptr};
    int arglen[4] = {};
    raise(events_.connectionRequest, 3, argv, arglen);
    return argv[2] != nullptr && !destroyed();
}

// The handler of OnSSLConnectionRequest may pick another certificate for
// this connection; the object's own one is used otherwise.
int ServerObject::serverCertificate(int id, QSslConfiguration& ssl, std::string& error)
{
    CertificateSource source = certificateSource();
    ServerCertificate chosen = certificate_;
    bool reload = !certificateLoaded_;
    if (hasSink()) {
        Wide ciphers(cipherNames()), sigalgs{QString()};
        EventString store{QString::fromUtf8(source.store), {}}, password{source.password, {}},
            subject{source.subject, {}};
        void* argv[8] = {iv(id), ciphers.ptr(), sigalgs.ptr(), iv(source.storeType), &store, &password, &subject,
                         nullptr};
        int arglen[8] = {};
        raise(events_.sslConnectionRequest, 7, argv, arglen);
        if (destroyed() || core_.peer(id) == nullptr)
            return 0;
        const int newType = int(reinterpret_cast<intptr_t>(argv[3]));
        if (newType != source.storeType || store.text.toUtf8() != source.store || password.text != source.password
            || subject.text != source.subject) {
            source.storeType = newType;
            source.store = store.text.toUtf8();
            source.password = password.text;
            source.subject = subject.text;
            source.encoded.clear();   // the handler chose from the store
            reload = true;
        }
    }
    if (reload) {
        std::string why;
        if (const int rc = loadServerCertificate(source, chosen, why); rc != 0) {
            fail(rc, why);
            error = lastError() ? lastError() : "";
            return rc;
        }
    }
    ssl.setLocalCertificate(chosen.certificate);
    ssl.setPrivateKey(chosen.key);
    if (!chosen.chain.isEmpty())
        ssl.setLocalCertificateChain(QList<QSslCertificate>{chosen.certificate} + chosen.chain);
    return 0;
}

bool ServerObject::serverVerifyClient(int id, const QList<QSslCertificate>& chain, bool accept, const QString& status)
{
    if (!hasSink())
        return accept;
    const QSslCertificate leaf = chain.isEmpty() ? QSslCertificate() : chain.first();
    QByteArray pem = leaf.toPem();
    Wide subject(dnText(leaf, true)), issuer(dnText(leaf, false)), text(status);
    void* argv[7] = {iv(id), pem.data(), subject.ptr(), issuer.ptr(), text.ptr(), iv(accept), nullptr};
    int arglen[7] = {0, int(pem.size()), 0, 0, 0, 0, 0};
    raise(events_.sslClientAuthentication, 6, argv, arglen);
    return !destroyed() && argv[5] != nullptr;
}

void ServerObject::serverTlsReady(int id)
{
    if (!hasSink())
        return;
    Wide msg(QStringLiteral("TLS handshake complete"));
    void* argv[3] = {iv(id), msg.ptr(), nullptr};
    int arglen[3] = {};
    raise(events_.sslStatus, 2, argv, arglen);
}

void ServerObject::serverError(int id, int code, const QString& text)
{
    raiseError(id, code, text);
}

void ServerObject::serverLog(int id, int level, const QString& message, const QString& type)
{
    log(id, level, message, type);
}

void ServerObject::raiseError(int id, int code, const QString& text)
{
    raiseConnectionStatus(events_.error, id, code, text);
}

void ServerObject::log(int id, int level, const QString& message, const QString& type)
{
    raiseConnectionLog(events_.log, id, level, message, type);
}

ServerObject::OpenRequestArgs::OpenRequestArgs(int id, const OpenRequest& open)
    : id_(id), uri_(QString::fromStdString(open.request.resource)), host_(QString::fromStdString(open.request.host)),
      origin_(QString::fromStdString(open.request.origin)),
      offered_(QString::fromStdString(open.request.subProtocols)), head_(QString::fromStdString(open.headText))
{
}

void ServerObject::OpenRequestArgs::fill(void** argv)
{
    void* const args[kCount] = {iv(id_),    uri_.ptr(),    host_.ptr(), origin_.ptr(),     &chosen_,
                                offered_.ptr(), head_.ptr(), iv(101),     &responseHeaders_};
    std::copy(std::begin(args), std::end(args), argv);
}

void ServerObject::OpenRequestArgs::readBack(void* const* argv, OpenRequest& open) const
{
    open.subProtocol = chosen_.text.trimmed().toStdString();
    open.status = int(reinterpret_cast<intptr_t>(argv[7]));
    open.responseHeaders = responseHeaders_.text.toStdString();
}

// ---- methods ----

int ServerObject::configMethod(int argc, void** argv, int* arglen)
{
    QString answer;
    const int rc = configure(argc > 0 ? wideArg(argv[0], arglen ? arglen[0] : 0) : QString(), answer);
    setWideResult(argv, arglen, std::max(argc, 1), answer);
    return rc;
}

int ServerObject::disconnect(int argc, void** argv)
{
    const int id = argc > 0 ? int(reinterpret_cast<intptr_t>(argv[0])) : -1;
    if (core_.peer(id) == nullptr)
        return fail(kInvalidIndex, corvanews20::server::kIndexName);
    core_.close(id, uint16_t(configInt("CloseStatusCode")), configText("CloseDescription").toStdString());
    return 0;
}

} // namespace corvane::engine
