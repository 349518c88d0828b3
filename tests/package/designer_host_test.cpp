// The designer host with the real package library loaded from its path (over
// the fake engine): palette, placing each class, editing through the grid's
// editors, renaming, the About ellipsis, saving and reopening a form.
#include "designer_window.h"
#include "fake_engine_control.h"
#include "package/design/form_events.h"
#include "package_loader.h"
#include "toolkit/scripted_user_interaction.h"
#include "ws/engine_binding.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QTabWidget>
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

TEST(DesignerHost, EventsTabNamesHandlersThatTheFormKeeps)
{
    toolkit::ScriptedUserInteraction ui;
    designer::DesignerWindow window;
    ASSERT_TRUE(window.loadPackage(kPackage)) << ui.errors().join(u'\n').toStdString();
    pointPackageAtFake();
    ASSERT_NE(window.addComponent(QStringLiteral("TwskWebSocketClient")), nullptr);
    ASSERT_NE(window.addComponent(QStringLiteral("TwskWebSocketServer")), nullptr);
    EXPECT_EQ(window.inspector()->tabText(1), QStringLiteral("Events"));
    EXPECT_EQ(window.eventGrid()->rowCount(), 11);  // the server's events beside its properties

    struct Step {
        const char* event;
        const char* typed;     // what the user types, or picks when `pick` is set
        bool pick;
        const char* stored;    // the handler the event then has
    };
    const Step steps[] = {
        {"OnDataIn", "ServerDataIn", false, "ServerDataIn"},
        {"OnConnected", "WebSocketServer1Connected", true, "WebSocketServer1Connected"},  // the suggested name
        {"OnError", "not a name", false, ""},                                          // refused with a message
        {"OnLog", "ServerDataIn", true, "ServerDataIn"},                               // a handler already on the form
        {"OnLog", "", false, ""},                                                      // cleared again
    };
    auto* events = window.eventGrid();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.event);
        auto* combo = events->findChild<QComboBox*>(QStringLiteral("event_") + QString::fromLatin1(step.event));
        ASSERT_NE(combo, nullptr);
        if (step.pick) {
            const int index = combo->findText(QString::fromLatin1(step.typed));
            ASSERT_GE(index, 0);
            combo->setCurrentIndex(index);
            emit combo->textActivated(combo->currentText());
        } else {
            combo->setEditText(QString::fromLatin1(step.typed));
            emit combo->lineEdit()->editingFinished();
        }
        auto* server = window.components().last();
        EXPECT_EQ(design::EventHandlerName(server, QString::fromLatin1(step.event)), QString::fromLatin1(step.stored));
    }
    EXPECT_EQ(ui.errors().size(), 1);
    ui.clear();

    const QString saved = window.formText();
    EXPECT_TRUE(saved.endsWith(QStringLiteral("object WebSocketServer1: TwskWebSocketServer\n"
                                              "  OnConnected = WebSocketServer1Connected\n  OnDataIn = ServerDataIn\nend\n")))
        << saved.toStdString();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Events.dfm"));
    ASSERT_TRUE(window.saveForm(path));
    window.newForm();
    ASSERT_TRUE(window.openForm(path));
    EXPECT_EQ(window.formText(), saved);
    window.selectComponent(window.components().last());
    EXPECT_EQ(events->findChild<QComboBox*>(QStringLiteral("event_OnDataIn"))->currentText(), QStringLiteral("ServerDataIn"));
}

TEST(DesignerHost, KeepsTheUsersWorkAndShowsNamesNotNumbers)
{
    toolkit::ScriptedUserInteraction ui;
    designer::DesignerWindow window;
    ASSERT_TRUE(window.loadPackage(kPackage)) << ui.errors().join(u'\n').toStdString();
    pointPackageAtFake();
    window.show();

    // Shortcuts of the File menu.
    QStringList shortcuts;
    for (QAction* a : window.menuBar()->actions().first()->menu()->actions())
        if (!a->shortcut().isEmpty()) shortcuts << a->shortcut().toString();
    for (auto key : {QKeySequence::New, QKeySequence::Open, QKeySequence::Save, QKeySequence::SaveAs, QKeySequence::Quit})
        if (!QKeySequence::keyBindings(key).isEmpty()) {
            EXPECT_TRUE(shortcuts.contains(QKeySequence::keyBindings(key).first().toString())) << int(key);
        }

    // A change marks the title; closing then asks, and Cancel keeps the window.
    EXPECT_FALSE(window.isWindowModified());
    EXPECT_TRUE(window.windowTitle().contains(QStringLiteral("[*]")));
    ASSERT_NE(window.addComponent(QStringLiteral("TwskWebSocketServer")), nullptr);
    ASSERT_NE(window.addComponent(QStringLiteral("TwskWebSocketClient")), nullptr);
    EXPECT_TRUE(window.isWindowModified());
    ui.answerChoice(QStringLiteral("Cancel"));
    EXPECT_FALSE(window.close());
    EXPECT_EQ(ui.requests().size(), 1);

    // A name another component has is refused with a message.
    auto* name = cell<QLineEdit>(window, "edit_Name");
    name->setText(QStringLiteral("WebSocketServer1"));
    emit name->editingFinished();
    ASSERT_EQ(ui.errors().size(), 1);
    EXPECT_TRUE(ui.errors()[0].contains(QStringLiteral("WebSocketServer1")));
    EXPECT_EQ(window.components().last()->name(), QStringLiteral("WebSocketClient1"));

    // Integer codes with a meaning show their names, and take them.
    struct Code {
        const char* property;
        const char* shown;
        const char* picked;
        int value;
    };
    const Code codes[] = {{"SSLCertStoreType", "0 (user store)", "6 (PEM file)", 6},
                          {"DataFormat", "0 (automatic)", "2 (binary)", 2}};
    for (const Code& c : codes) {
        SCOPED_TRACE(c.property);
        auto* combo = cell<QComboBox>(window, (std::string("edit_") + c.property).c_str());
        ASSERT_NE(combo, nullptr);
        EXPECT_EQ(combo->currentText(), QString::fromLatin1(c.shown));
        emit combo->textActivated(QString::fromLatin1(c.picked));
        auto* client = window.components().last();
        EXPECT_EQ(client->property(c.property).toInt(), c.value);
    }

    // Saving clears the mark; a further change sets it, and Discard lets the window close.
    QTemporaryDir dir;
    ASSERT_TRUE(window.saveForm(dir.filePath(QStringLiteral("Kept.dfm"))));
    EXPECT_FALSE(window.isWindowModified());
    EXPECT_TRUE(window.formText().contains(QStringLiteral("  DataFormat = 2\n")));
    window.deleteSelected();
    EXPECT_TRUE(window.isWindowModified());
    ui.answerChoice(QStringLiteral("Discard"));
    EXPECT_TRUE(window.close());
}

}  // namespace
