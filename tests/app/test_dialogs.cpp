// The small windows opened over the editor: about box, preferences, text view,
// and the DRV viewer from the menu.
#include "editor_fixture.h"

#include "drv/drv_viewer.h"
#include "form_about.h"
#include "form_settings.h"
#include "form_show_text.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

class DialogsTest : public EditorTest {
protected:
    void SetUp() override
    {
        EditorTest::SetUp();
        makeWindow();
        window->resize(900, 600);
        window->move(100, 80);
        window->show();
        about = app->about.get();
        preferences = app->preferences.get();
        textView = app->textView.get();
    }
    void openTextView()
    {
        ctl<QPushButton>("Button2")->click();
        preferences->findChild<QPushButton*>("Button4")->click();
    }
    QColor memoColour() const { return textView->memo()->palette().color(QPalette::Text); }

    TformAbout* about = nullptr;
    TformSettings* preferences = nullptr;
    TformShowText* textView = nullptr;
};

TEST_F(DialogsTest, EachDialogIsAFixedStayOnTopWindow)
{
    struct Expected {
        TformToolDialog* dialog;
        const char* caption;
        QSize size;
    };
    for (const Expected& e : {Expected{about, "Information", {360, 311}},
                              Expected{preferences, "Settings", {344, 233}},
                              Expected{textView, "Show Text", {712, 671}}}) {
        EXPECT_EQ(e.dialog->windowTitle(), QLatin1String(e.caption));
        EXPECT_EQ(e.dialog->minimumSize(), e.size) << e.caption;
        EXPECT_EQ(e.dialog->maximumSize(), e.size) << e.caption;
        EXPECT_TRUE(e.dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) << e.caption;
        EXPECT_FALSE(e.dialog->isModal()) << e.caption;
        EXPECT_FALSE(e.dialog->isVisible()) << "hidden until asked for: " << e.caption;
    }
}

TEST_F(DialogsTest, AboutBoxDisablesTheMainWindowUntilClosedByAnyMeans)
{
    auto* aboutButton = ctl<QPushButton>("Button1");
    ASSERT_TRUE(aboutButton->isEnabled());
    aboutButton->click();
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(window->isEnabled());
    EXPECT_LE((about->frameGeometry().center() - window->frameGeometry().center()).manhattanLength(), 2)
        << "opens centred on the main window";

    about->close();  // what the close box does
    EXPECT_FALSE(about->isVisible());
    EXPECT_TRUE(window->isEnabled());

    aboutButton->click();
    about->findChild<QPushButton*>("Button1")->click();
    EXPECT_FALSE(about->isVisible());
    EXPECT_TRUE(window->isEnabled());
}

TEST_F(DialogsTest, AboutBoxShowsNameVersionsAndLogo)
{
    auto labelText = [&](const char* name) { return about->findChild<QLabel*>(name)->text(); };
    EXPECT_EQ(labelText("Label1"), QStringLiteral("Brindle Configuration Tool"));
    EXPECT_EQ(labelText("Label2"), QStringLiteral("Configuration Tool Version : 1.1.4"));
    EXPECT_EQ(labelText("Label3"), QStringLiteral("Applied FW Version : 1.1.4"));
    EXPECT_FALSE(labelText("Label4").isEmpty());
    EXPECT_FALSE(labelText("Label5").isEmpty());
    auto* logo = about->findChild<QLabel*>("Image1");
    EXPECT_FALSE(logo->pixmap().isNull()) << "the logo resource is linked in";
    EXPECT_EQ(logo->pixmap().size(), QSize(18, 19));
    EXPECT_EQ(about->findChild<QLabel*>("Label1")->font().pixelSize(), 16);
    EXPECT_TRUE(about->findChild<QLabel*>("Label1")->font().bold());
}

TEST_F(DialogsTest, PreferencesReenableTheMainWindowWhenClosedByTheCloseBox)
{
    ctl<QPushButton>("Button2")->click();
    EXPECT_TRUE(preferences->isVisible());
    EXPECT_FALSE(window->isEnabled());
    EXPECT_EQ(preferences->findChild<QComboBox*>("cbLanguage")->currentText(), QStringLiteral("English"));
    preferences->close();
    EXPECT_TRUE(window->isEnabled());
}

TEST_F(DialogsTest, PreferencesAndTextViewOpenCentredOnTheMainWindow)
{
    auto offCentre = [&](QWidget* dialog) {
        return (dialog->frameGeometry().center() - window->frameGeometry().center()).manhattanLength();
    };
    ctl<QPushButton>("Button2")->click();
    EXPECT_LE(offCentre(preferences), 2);
    preferences->move(0, 0);  // the user drags the preferences aside
    preferences->findChild<QPushButton*>("Button4")->click();
    EXPECT_LE(offCentre(textView), 2) << "over the editor, not over the dialog that opened it";
}

TEST_F(DialogsTest, EscapeClosesEachDialogAndReenablesItsOpener)
{
    ctl<QPushButton>("Button1")->click();
    QTest::keyClick(about, Qt::Key_Escape);
    EXPECT_FALSE(about->isVisible());
    EXPECT_TRUE(window->isEnabled());

    openTextView();
    QTest::keyClick(textView, Qt::Key_Escape);
    EXPECT_FALSE(textView->isVisible());
    EXPECT_TRUE(preferences->isEnabled());
    EXPECT_FALSE(window->isEnabled());
    QTest::keyClick(preferences, Qt::Key_Escape);
    EXPECT_FALSE(preferences->isVisible());
    EXPECT_TRUE(window->isEnabled());
}

TEST_F(DialogsTest, TextViewShowsTheCurrentSettingsAndRefreshesEachShowing)
{
    openTextView();
    EXPECT_TRUE(textView->isVisible());
    EXPECT_FALSE(preferences->isEnabled()) << "the text view disables the dialog that opened it";
    EXPECT_FALSE(window->isEnabled());
    const QString first = textView->memo()->toPlainText();
    EXPECT_TRUE(first.contains(QStringLiteral("ADASLOC_VEHICLE_WIDTH=180"))) << first.toStdString();
    EXPECT_TRUE(first.startsWith(QStringLiteral("[DEVICE]")));
    EXPECT_EQ(memoColour(), QColor(Qt::black));

    textView->close();  // close box
    EXPECT_TRUE(preferences->isEnabled());
    EXPECT_FALSE(window->isEnabled()) << "the main window waits for the preferences dialog";

    ctl<QLineEdit>("maskEdVehicleWidth")->setText(QStringLiteral("190"));
    preferences->findChild<QPushButton*>("Button4")->click();
    EXPECT_TRUE(textView->memo()->toPlainText().contains(QStringLiteral("ADASLOC_VEHICLE_WIDTH=190")));
    textView->findChild<QPushButton*>("Button3")->click();
    EXPECT_FALSE(textView->isVisible());
    EXPECT_TRUE(preferences->isEnabled());
}

TEST_F(DialogsTest, CopyTurnsTheTextBlueAndTheNextShowingBlackAgain)
{
    openTextView();
    QGuiApplication::clipboard()->clear();
    textView->findChild<QPushButton*>("Button1")->click();
    EXPECT_EQ(memoColour(), QColor(Qt::blue));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), textView->memo()->toPlainText());
    EXPECT_TRUE(textView->memo()->textCursor().hasSelection());

    textView->close();
    preferences->findChild<QPushButton*>("Button4")->click();
    EXPECT_EQ(memoColour(), QColor(Qt::black));
}

TEST_F(DialogsTest, TextViewKeepsItsTextWhenTheSettingsCannotBeCollected)
{
    openTextView();
    const QString before = textView->memo()->toPlainText();
    textView->close();
    QFile::remove(path("temp.ini"));
    ctl<QComboBox>("cbTimeZone")->setEditText(QStringLiteral("UTC+xx:00"));
    preferences->findChild<QPushButton*>("Button4")->click();
    EXPECT_EQ(dialogs.errors().size(), 1);
    EXPECT_FALSE(QFile::exists(path("temp.ini")));
    EXPECT_EQ(textView->memo()->toPlainText(), before);
}

TEST_F(DialogsTest, ToolsMenuOpensTheDrvViewer)
{
    TformDrvViewer& viewer = *app->drvViewer;
    QAction* action = nullptr;
    for (QAction* a : window->menuBar()->findChildren<QAction*>())
        if (a->text() == QStringLiteral("DRV Viewer...")) action = a;
    ASSERT_NE(action, nullptr);
    action->trigger();
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_TRUE(window->isEnabled()) << "the viewer is no dialog over the editor";
}
