#include "ws/wskwebsocketclient.h"

#include <array>

namespace CorvaneWS {

namespace {
enum Method {
    mAddCookie = 2,
    mConfig = 3,
    mConnect = 4,
    mDisconnect = 5,
    mDoEvents = 6,
    mInterrupt = 7,
    mPing = 8,
    mReset = 9,
    mResetHeaders = 10,
    mSend = 11,
    mSendFile = 12,
    mSendText = 13,
};
constexpr int kErrorEvent = 5;

using C = TwskWebSocketClient;
const std::array<EventEntry<C>, 12> kEvents = {
    eventEntry<C, TwskWebSocketClientConnectedEventParams, &C::OnConnected>(1, "Connected"),
    eventEntry<C, TwskWebSocketClientConnectionStatusEventParams, &C::OnConnectionStatus>(2, "ConnectionStatus"),
    eventEntry<C, TwskWebSocketClientDataInEventParams, &C::OnDataIn>(3, "DataIn"),
    eventEntry<C, TwskWebSocketClientDisconnectedEventParams, &C::OnDisconnected>(4, "Disconnected"),
    eventEntry<C, TwskWebSocketClientErrorEventParams, &C::OnError>(5, "Error"),
    eventEntry<C, TwskWebSocketClientHeaderEventParams, &C::OnHeader>(6, "Header"),
    eventEntry<C, TwskWebSocketClientLogEventParams, &C::OnLog>(7, "Log"),
    eventEntry<C, TwskWebSocketClientReadyToSendEventParams, &C::OnReadyToSend>(8, "ReadyToSend"),
    eventEntry<C, TwskWebSocketClientRedirectEventParams, &C::OnRedirect>(9, "Redirect"),
    eventEntry<C, TwskWebSocketClientSetCookieEventParams, &C::OnSetCookie>(10, "SetCookie"),
    eventEntry<C, TwskWebSocketClientSSLServerAuthenticationEventParams, &C::OnSSLServerAuthentication>(
        11, "SSLServerAuthentication"),
    eventEntry<C, TwskWebSocketClientSSLStatusEventParams, &C::OnSSLStatus>(12, "SSLStatus"),
};
}  // namespace

TwskWebSocketClient::TwskWebSocketClient(QObject* Owner) : toolkit::TComponent(Owner)
{
    engine_.createEngineObject(EngineLibrary::embedded(), "WebSocketClient", &TwskWebSocketClient::eventSink, this,
                               QStringLiteral("Could not load component library (libcorvanews20.so)."),
                               QStringLiteral("Error initializing TwskWebSocketClient."));
    try {
        // Texts cross the interface as UTF-8 from here on; the answer says nothing we need.
        (void)Config(QStringLiteral("CodePage=65001"));
        engine_.writeDefaults();
    } catch (...) {
        engine_.destroyEngineObject();
        throw;
    }
}

TwskWebSocketClient::~TwskWebSocketClient() { engine_.destroyEngineObject(); }

std::span<const EventEntry<TwskWebSocketClient>> TwskWebSocketClient::eventTable() { return kEvents; }

int TwskWebSocketClient::eventSink(void* user, int event, int argc, void** argv, int* arglen)
{
    auto* self = static_cast<TwskWebSocketClient*>(user);
    return dispatchEvent<TwskWebSocketClient>(*self, kEvents, kErrorEvent, event, argc, argv, arglen);
}

void TwskWebSocketClient::raiseErrorEvent(int code, const QString& text)
{
    TwskWebSocketClientErrorEventParams params{code, text};
    OnError(this, params);
}

void TwskWebSocketClient::AddCookie(const QString& CookieName, const QString& CookieValue)
{
    EngineObject::Call(mAddCookie).text(CookieName).text(CookieValue).run(engine_);
}

QString TwskWebSocketClient::Config(const QString& ConfigurationString)
{
    EngineObject::Call call(mConfig);
    call.text(ConfigurationString).run(engine_);
    return call.resultText();
}

void TwskWebSocketClient::Connect(const QString& URL) { EngineObject::Call(mConnect).text(URL).run(engine_); }
void TwskWebSocketClient::Disconnect() { EngineObject::Call(mDisconnect).run(engine_); }
void TwskWebSocketClient::DoEvents() { EngineObject::Call(mDoEvents).run(engine_); }
void TwskWebSocketClient::Interrupt() { EngineObject::Call(mInterrupt).run(engine_); }
void TwskWebSocketClient::Ping() { EngineObject::Call(mPing).run(engine_); }
void TwskWebSocketClient::Reset() { EngineObject::Call(mReset).run(engine_); }
void TwskWebSocketClient::ResetHeaders() { EngineObject::Call(mResetHeaders).run(engine_); }

void TwskWebSocketClient::Send(const QByteArray& Text)
{
    // An empty message is a valid call: no data, no pointer.
    EngineObject::Call(mSend).bytes(Text.isEmpty() ? nullptr : Text.constData(), int(Text.size())).run(engine_);
}

void TwskWebSocketClient::SendFile(const QString& FileName)
{
    EngineObject::Call(mSendFile).text(FileName).run(engine_);
}

void TwskWebSocketClient::SendText(const QString& Text) { EngineObject::Call(mSendText).text(Text).run(engine_); }

}  // namespace CorvaneWS
