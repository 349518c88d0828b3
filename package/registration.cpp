#include "package/registration.h"

#include "package/design/about_property.h"
#include "package/design/design_registry.h"
#include "package/package_components.h"

namespace CorvaneWS {

namespace {

void registerAboutEditor()
{
    design::RegisterPropertyEditor(QByteArray(QMetaType::fromType<TAbout*>().name()), nullptr, QString(),
                                   design::editorFactory<TAboutProperty>());
}

void registerClasses(const QList<const QMetaObject*>& classes)
{
    design::RegisterComponents(kPalettePage, classes);
    registerAboutEditor();
}

}  // namespace

void Wskwebsocketclient::Register() { registerClasses({&TwskWebSocketClient::staticMetaObject}); }
void Wskwebsocketserver::Register() { registerClasses({&TwskWebSocketServer::staticMetaObject}); }
void Wskwebsocketproxy::Register() { registerClasses({&TwskWebSocketProxy::staticMetaObject}); }
void Wskcertmgr::Register() { registerClasses({&TwskCertMgr::staticMetaObject}); }

void Corvanews::Register()
{
    registerClasses({&TwskCertMgr::staticMetaObject, &TwskWebSocketClient::staticMetaObject,
                     &TwskWebSocketProxy::staticMetaObject, &TwskWebSocketServer::staticMetaObject});
}

}  // namespace CorvaneWS

extern "C" __attribute__((visibility("default"))) void Corvanews_Register() { CorvaneWS::Corvanews::Register(); }
