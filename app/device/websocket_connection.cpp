// The device link's client: `WebSocketClient1` with the tool's stored
// property values and its five bound events.
#include "device/device_connection.h"

#include "ws/wskwebsocketclient.h"

namespace device {

namespace {

using namespace CorvaneWS;

class WebSocketConnection final : public DeviceConnection {
public:
    WebSocketConnection() : WebSocketClient1(new TwskWebSocketClient)
    {
        WebSocketClient1->setObjectName(QStringLiteral("WebSocketClient1"));
        WebSocketClient1->FSetAuthScheme(authNone);
        WebSocketClient1->FSetFirewallAutoDetect(true);
        WebSocketClient1->FSetFollowRedirects(frAlways);
        WebSocketClient1->FSetProxyAuthScheme(authNone);
        WebSocketClient1->FSetProxyAutoDetect(true);
        WebSocketClient1->FSetProxySSL(psNever);
        WebSocketClient1->FSetSSLCertStore(QStringLiteral("MY"));
        WebSocketClient1->FSetTimeout(10);
        WebSocketClient1->OnConnected = bindEvent(this, &WebSocketConnection::WebSocketClient1Connected);
        WebSocketClient1->OnDataIn = bindEvent(this, &WebSocketConnection::WebSocketClient1DataIn);
        WebSocketClient1->OnDisconnected = bindEvent(this, &WebSocketConnection::WebSocketClient1Disconnected);
        WebSocketClient1->OnError = bindEvent(this, &WebSocketConnection::WebSocketClient1Error);
        WebSocketClient1->OnSSLServerAuthentication = bindEvent(this, &WebSocketConnection::WebSocketClient1SSLServerAuthentication);
    }

    // FormDestroy: closing the window closes an open connection.
    ~WebSocketConnection() override
    {
        try {
            if (WebSocketClient1->FConnected()) WebSocketClient1->FSetConnected(false);
        } catch (const std::exception&) {
            // The window goes either way.
        }
        delete WebSocketClient1;
    }

    void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
    bool connected() const override { return WebSocketClient1->FConnected(); }
    void send(const QByteArray& bytes) override { WebSocketClient1->Send(bytes); }

    void connectTo(const QString& url) override
    {
        connecting_ = true;
        try {
            WebSocketClient1->Connect(url);
        } catch (...) {
            connecting_ = false;
            throw;
        }
        connecting_ = false;
    }

    void disconnectFromRecorder() override
    {
        if (connecting_)
            WebSocketClient1->Interrupt();
        else if (WebSocketClient1->FConnected())
            WebSocketClient1->FSetConnected(false);
    }

    void setReceivePaused(bool paused) override { WebSocketClient1->FSetAcceptData(!paused); }

private:
    void WebSocketClient1Connected(QObject*, TwskWebSocketClientConnectedEventParams&) {}

    void WebSocketClient1DataIn(QObject*, TwskWebSocketClientDataInEventParams& params)
    {
        // The bytes only: the text form is never read, so never decoded.
        if (handlers_.dataIn) handlers_.dataIn(DataEvent(params.TextB, params.EOM, params.DataFormat));
    }

    void WebSocketClient1Disconnected(QObject*, TwskWebSocketClientDisconnectedEventParams& params)
    {
        WebSocketClient1->FSetConnected(false);
        WebSocketClient1->Reset();
        if (handlers_.disconnected) handlers_.disconnected(params.StatusCode, params.Description);
    }

    // Component errors are neither shown nor logged; a failed connect reports through Connect.
    void WebSocketClient1Error(QObject*, TwskWebSocketClientErrorEventParams&) {}

    // Every server certificate is accepted; the console shows what was.
    void WebSocketClient1SSLServerAuthentication(QObject*, TwskWebSocketClientSSLServerAuthenticationEventParams& params)
    {
        params.Accept = true;
        if (handlers_.serverCertificate)
            handlers_.serverCertificate({params.CertEncodedB, params.CertSubject, params.Status});
    }

    TwskWebSocketClient* WebSocketClient1;
    Handlers handlers_;
    bool connecting_ = false;
};

}  // namespace

std::unique_ptr<DeviceConnection> makeWebSocketConnection()
{
    return std::make_unique<WebSocketConnection>();
}

}  // namespace device
