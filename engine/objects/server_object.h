// What the server object and the proxy have in common: an engine object over
// a ServerCore. The rows they share (listening, TLS, the connection facts,
// the Config settings of serving) are the server's; the proxy's rows of the
// same meaning are found by name, so there is one table of them. Each object
// raises its own events under its own numbers.
#pragma once

#include "engine/include/corvanews20_server.h"
#include "engine/objects/engine_object.h"
#include "engine/objects/event_args.h"
#include "engine/objects/server_certificate.h"
#include "engine/websocket/server_core.h"

#include <span>
#include <vector>

namespace corvane::engine {

// Ranges and defaults of the server's rows, by the server's numbers.
std::span<const PropertyLimits> serverPropertyLimits();
// The same limits for the rows of another object's table that mirror the server's.
std::vector<PropertyLimits> mirroredServerLimits(const corvanews20::ObjectTables& tables);
// Config settings of serving (after CORVANE_COMMON_CONFIG).
std::span<const ConfigDef> servingConfig();

class ServerObject : public EngineObject, protected ServerEvents {
public:
    ~ServerObject() override;

protected:
    ServerObject(CorvaneWS_EventSink sink, void* user, const corvanews20::ObjectTables& tables,
                 std::span<const PropertyDef> properties, std::span<const ConfigDef> config);

    // The server's number of one of this object's rows; 0 when it has none.
    int serverRow(const PropertyDef& def) const;

    bool validIndex(const PropertyDef& def, int index) const override;
    bool readProperty(const PropertyDef& def, int index, Value& out) override;
    int writeProperty(const PropertyDef& def, int index, Value& in) override;
    void onDestroyRequested() override;
    void onConfigChanged(const ConfigDef& def) override;

    ServerCore& core() { return core_; }
    const ServerCore& core() const { return core_; }

    // Methods every server object has.
    int configMethod(int argc, void** argv, int* arglen);
    int disconnect(int argc, void** argv);

    void raiseError(int id, int code, const QString& text);
    void log(int id, int level, const QString& message, const QString& type);

    // OnWebSocketOpenRequest's first nine arguments, alike on every server
    // object; an object with more puts its own after them.
    class OpenRequestArgs {
    public:
        OpenRequestArgs(int id, const OpenRequest& open);
        static constexpr int kCount = 9;
        void fill(void** argv);
        // The handler's answer: subprotocol, status, extra header lines.
        void readBack(void* const* argv, OpenRequest& open) const;

    private:
        int id_;
        Wide uri_, host_, origin_, offered_, head_;
        EventString chosen_{QString(), {}}, responseHeaders_{QString(), {}};
    };

    // ServerEvents that every server object answers alike.
    bool serverConnectionRequest(const QHostAddress& address, uint16_t port) override;
    int serverCertificate(int id, QSslConfiguration& ssl, std::string& error) override;
    bool serverVerifyClient(int id, const QList<QSslCertificate>& chain, bool accept, const QString& status) override;
    void serverTlsReady(int id) override;
    void serverError(int id, int code, const QString& text) override;
    void serverLog(int id, int level, const QString& message, const QString& type) override;

private:
    struct Events {
        int connectionRequest = 0, error = 0, log = 0, sslClientAuthentication = 0, sslConnectionRequest = 0,
            sslStatus = 0;
    };

    // This object's number of a server row.
    int own(int serverNumber) const;
    void applySettings();
    int startListening();
    CertificateSource certificateSource() const;

    std::vector<int> toServer_;   // by this object's number
    std::vector<int> toOwn_;      // by the server's number
    Events events_;
    ServerCertificate certificate_;
    bool certificateLoaded_ = false;
    ServerCore core_{*this};
};

} // namespace corvane::engine
