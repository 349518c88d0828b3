#include "tool_client.h"

#include "ws/wskwebsocketclient.h"

namespace pkgtest {

struct ToolClient::State {
    std::unique_ptr<CorvaneWS::TwskWebSocketClient> client;
    bool connected = false;
    QStringList received;
    QStringList errors;
};

ToolClient::ToolClient(const QString& engineFile) : state_(std::make_unique<State>())
{
    auto& lib = CorvaneWS::EngineLibrary::embedded();
    lib.setImageOverride(QByteArray());
    lib.setLibraryName(engineFile);
    state_->client = std::make_unique<CorvaneWS::TwskWebSocketClient>();
    State* s = state_.get();
    s->client->OnConnected = [s](QObject*, CorvaneWS::TwskWebSocketClientConnectedEventParams&) { s->connected = true; };
    s->client->OnDataIn = [s](QObject*, CorvaneWS::TwskWebSocketClientDataInEventParams& p) { s->received << p.Text; };
    s->client->OnError = [s](QObject*, CorvaneWS::TwskWebSocketClientErrorEventParams& p) {
        s->errors << QStringLiteral("%1: %2").arg(p.ErrorCode).arg(p.Description);
    };
    s->client->OnDisconnected = [s](QObject*, CorvaneWS::TwskWebSocketClientDisconnectedEventParams& p) {
        s->connected = false;
        if (p.StatusCode != 1000) s->errors << QStringLiteral("closed %1: %2").arg(p.StatusCode).arg(p.Description);
    };
    s->client->OnSSLServerAuthentication =
        [](QObject*, CorvaneWS::TwskWebSocketClientSSLServerAuthenticationEventParams& p) { p.Accept = true; };
}

ToolClient::~ToolClient() = default;

void ToolClient::connectTo(const QString& url)
{
    state_->client->FSetTimeout(20);
    state_->client->Connect(url);
    state_->connected = state_->client->FConnected() || state_->connected;
}

void ToolClient::sendText(const QString& text) { state_->client->SendText(text); }
bool ToolClient::connected() const { return state_->connected; }
QStringList ToolClient::received() const { return state_->received; }
QStringList ToolClient::errors() const { return state_->errors; }

}  // namespace pkgtest
