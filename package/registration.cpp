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

// The integer codes the engine gives a meaning, by name in the designer.
void registerCodeEditors()
{
    const design::TNamedCodeProperty::Codes stores = {
        {0, QStringLiteral("user store")}, {1, QStringLiteral("machine store")}, {2, QStringLiteral("PFX file")},
        {3, QStringLiteral("PFX bytes")},  {6, QStringLiteral("PEM file")},      {7, QStringLiteral("PEM text")},
    };
    const design::TNamedCodeProperty::Codes formats = {
        {0, QStringLiteral("automatic")}, {1, QStringLiteral("text")}, {2, QStringLiteral("binary")},
    };
    auto editor = [](design::TNamedCodeProperty::Codes codes) -> design::EditorFactory {
        return [codes](QList<QObject*> components, QMetaProperty property) -> std::unique_ptr<design::TPropertyEditor> {
            return std::make_unique<design::TNamedCodeProperty>(std::move(components), property, codes);
        };
    };
    for (const char* name : {"SSLCertStoreType", "CertStoreType"})
        design::RegisterPropertyEditor("int", nullptr, QString::fromLatin1(name), editor(stores));
    design::RegisterPropertyEditor("int", nullptr, QStringLiteral("DataFormat"), editor(formats));
}

void registerClasses(const QList<const QMetaObject*>& classes)
{
    design::RegisterComponents(kPalettePage, classes);
    registerAboutEditor();
    registerCodeEditors();
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
