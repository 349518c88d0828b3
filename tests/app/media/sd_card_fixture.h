#pragma once
// A main window in a scratch folder that also holds the "drives": folders that
// stand for mount points. Dialogs are scripted; the window's hidden log is read back.

#include "app_windows.h"
#include "device/bounded_log.h"
#include "main_window.h"
#include "media/sd_card_tools.h"
#include "toolkit/display_scale.h"
#include "toolkit/scripted_user_interaction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// Readable failures: texts as text rather than as arrays of UTF-16 units.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

class SdCardFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = QFileInfo(dir.path()).canonicalFilePath();
        previous = QDir::currentPath();
        QDir::setCurrent(root);
        toolkit::setScreenDpiOverride(std::pair{96.0, 96.0});
        app = std::make_unique<AppWindows>();
        window = app->mainWindow.get();
    }
    void TearDown() override
    {
        window = nullptr;
        app.reset();
        QDir::setCurrent(previous);
        toolkit::setScreenDpiOverride(std::nullopt);
    }

    QString makeDir(const QString& relative) const
    {
        const QString path = root + u'/' + relative;
        EXPECT_TRUE(QDir().mkpath(path));
        return path;
    }
    QString makeFile(const QString& relative, const QByteArray& bytes = "data") const
    {
        const QString path = root + u'/' + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    static QStringList entries(const QString& path)
    {
        return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    QStringList memoLines() const
    {
        auto* memo = window->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
        if (auto* log = memo->findChild<BoundedLog*>()) log->flush();  // the log shows its lines a few times a second
        const QString text = memo->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(u'\n');
    }
    QPushButton* button(const char* name) const { return window->control<QPushButton>(name); }

    // Presses a button and lets the event loop run until its work, messages included, is over.
    void press(const char* name)
    {
        button(name)->click();
        ASSERT_TRUE(QTest::qWaitFor([this] { return !window->sdCard().busy(); }, 30000));
    }

    QTemporaryDir dir;
    QString root;
    QString previous;
    toolkit::ScriptedUserInteraction ui;
    std::unique_ptr<AppWindows> app;
    TFormWebsocketclientf* window = nullptr;
};
