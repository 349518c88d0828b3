// The designer host with the real package library loaded from its path (over
// the fake engine): palette, placing each class, editing through the grid's
// editors, renaming, the About ellipsis, saving and reopening a form.
#include "designer_window.h"
#include "fake_engine_control.h"
#include "package_loader.h"
#include "toolkit/scripted_user_interaction.h"
#include "ws/engine_binding.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>

#include <dlfcn.h>

namespace {

const QString kPackage = QStringLiteral(PACKAGE_LIBRARY_PATH);

// The package's engine bindings live in the package library; steer them to the fake.
void pointPackageAtFake()
{
    using Lookup = CorvaneWS::EngineLibrary& (*)(const char*);
    auto lookup = reinterpret_cast<Lookup>(
        dlsym(designer::packageHandle(kPackage), "_ZN9CorvaneWS7Package14packageLibraryEPKc"));
    ASSERT_NE(lookup, nullptr);
    for (const char* name : {"WebSocketClient", "WebSocketServer", "WebSocketProxy", "CertMgr"})
        lookup(name).setLibraryName(wstest::fakeEnginePath());
}

template <class W>
W* cell(designer::DesignerWindow& w, const char* name)
{
    return w.propertyGrid()->findChild<W*>(QString::fromLatin1(name));
}

TEST(DesignerHost, PackageFromAMissingPathIsToldByName)
{
    toolkit::ScriptedUserInteraction ui;
    designer::DesignerWindow window;
    EXPECT_FALSE(window.loadPackage(QStringLiteral("/nonexistent/libnothing.so")));
    ASSERT_EQ(ui.errors().size(), 1);
    EXPECT_TRUE(ui.errors()[0].contains(QStringLiteral("/nonexistent/libnothing.so")));
}

TEST(DesignerHost, ListsEditsSavesAndReopensAFormWithEveryClass)
{
    toolkit::ScriptedUserInteraction ui;
    designer::DesignerWindow window;
    ASSERT_TRUE(window.loadPackage(kPackage)) << ui.errors().join(u'\n').toStdString();
    pointPackageAtFake();

    QTreeWidgetItem* page = window.palette()->topLevelItem(0);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->text(0), QStringLiteral("Corvane WebSocket Server"));
    QStringList classes;
    for (int i = 0; i < page->childCount(); ++i) classes << page->child(i)->text(0);
    for (const QString& cls : classes) ASSERT_NE(window.addComponent(cls), nullptr) << cls.toStdString();
    EXPECT_TRUE(ui.errors().isEmpty()) << ui.errors().join(u'\n').toStdString();
    ASSERT_EQ(window.formView()->count(), classes.size());
    EXPECT_EQ(window.formView()->item(classes.indexOf("TwskWebSocketProxy"))->text(), QStringLiteral("WebSocketProxy1"));

    // The proxy: an enumeration from its list, a number typed in.
    window.formView()->setCurrentRow(int(classes.indexOf("TwskWebSocketProxy")));
    auto* firewall = cell<QComboBox>(window, "edit_FirewallType");
    ASSERT_NE(firewall, nullptr);
    EXPECT_EQ(firewall->count(), 4);
    firewall->setCurrentText(QStringLiteral("fwSOCKS5"));
    emit firewall->textActivated(QStringLiteral("fwSOCKS5"));
    auto* forwardPort = cell<QLineEdit>(window, "edit_DefaultForwardPort");
    forwardPort->setText(QStringLiteral("8080"));
    emit forwardPort->editingFinished();

    // The server: a check box, a rename, the About entry and its ellipsis.
    window.formView()->setCurrentRow(int(classes.indexOf("TwskWebSocketServer")));
    cell<QCheckBox>(window, "edit_SSLAuthenticateClients")->setChecked(true);
    auto* name = cell<QLineEdit>(window, "edit_Name");
    name->setText(QStringLiteral("EchoServer"));
    emit name->editingFinished();
    EXPECT_EQ(window.formView()->currentItem()->text(), QStringLiteral("EchoServer"));
    auto* about = cell<QLineEdit>(window, "edit_About");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), QStringLiteral("(Corvane WebSocket Server 2020 [Build 7239])"));
    EXPECT_TRUE(about->isReadOnly());
    void* fakeModule = dlopen(wstest::fakeEnginePath().toLocal8Bit().constData(), RTLD_NOW | RTLD_NOLOAD);
    wstest::FakeEngine fake(fakeModule);
    fake.clear();
    cell<QToolButton>(window, "ellipsis_About")->click();
    EXPECT_EQ(fake.calls(), QStringList{QStringLiteral("Do 255 0 argv=null")});

    // A bad number is refused with a message and the value stays.
    auto* port = cell<QLineEdit>(window, "edit_LocalPort");
    port->setText(QStringLiteral("eighty"));
    emit port->editingFinished();
    EXPECT_EQ(ui.errors().size(), 1);
    EXPECT_EQ(port->text(), QStringLiteral("0"));
    ui.clear();

    const QString saved = window.formText();
    EXPECT_TRUE(saved.contains(QStringLiteral("object EchoServer: TwskWebSocketServer\n  SSLAuthenticateClients = True\nend\n")));
    EXPECT_TRUE(saved.contains(QStringLiteral("  DefaultForwardPort = 8080\n  FirewallType = fwSOCKS5\n")));
    EXPECT_FALSE(saved.contains(QStringLiteral("About")));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Form1.dfm"));
    ASSERT_TRUE(window.saveForm(path));
    window.newForm();
    EXPECT_EQ(window.formView()->count(), 0);
    ASSERT_TRUE(window.openForm(path));
    EXPECT_TRUE(ui.errors().isEmpty()) << ui.errors().join(u'\n').toStdString();
    EXPECT_EQ(window.formView()->count(), classes.size());
    EXPECT_EQ(window.formText(), saved);
    // Reopened components are in design state: their About entry is the component.
    for (auto* c : window.components()) EXPECT_TRUE(c->designing());

    // A form with a line the designer cannot use opens with the rest, and the line is named.
    QFile bad(dir.filePath(QStringLiteral("Bad.dfm")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("object EchoServer: TwskWebSocketServer\n  LocalPort = many\n  DefaultTimeout = 5\nend\n");
    bad.close();
    ASSERT_TRUE(window.openForm(bad.fileName()));
    ASSERT_EQ(ui.errors().size(), 1);
    EXPECT_TRUE(ui.errors()[0].contains(QStringLiteral("Line 2: "))) << ui.errors()[0].toStdString();
    EXPECT_EQ(window.formText(), QStringLiteral("object EchoServer: TwskWebSocketServer\n  DefaultTimeout = 5\nend\n"));
}

}  // namespace
