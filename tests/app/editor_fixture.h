#pragma once
// A main window in a scratch working folder, with scripted dialogs, for the editor tests.

#include "main_window.h"
#include "toolkit/display_scale.h"
#include "toolkit/scripted_user_interaction.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        toolkit::setScreenDpiOverride(std::pair{96.0, 96.0});
    }
    void TearDown() override
    {
        window.reset();
        QDir::setCurrent(previous);
        toolkit::setScreenDpiOverride(std::nullopt);
    }

    TFormWebsocketclientf& makeWindow()
    {
        window = std::make_unique<TFormWebsocketclientf>();
        return *window;
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    void writeFile(const QString& name, const QByteArray& bytes) const
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QByteArray readFile(const QString& name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    template <class W>
    W* ctl(const char* name) const
    {
        W* w = window->control<W>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    QTemporaryDir dir;
    QString previous;
    toolkit::ScriptedUserInteraction dialogs;
    std::unique_ptr<TFormWebsocketclientf> window;
};
