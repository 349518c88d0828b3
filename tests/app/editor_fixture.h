#pragma once
// The program's windows, made as the program makes them, in a scratch working
// folder with scripted dialogs, for the editor and window tests.

#include "app_windows.h"
#include "main_window.h"
#include "settings/settings_document.h"
#include "settings_file_actions.h"
#include "settings/settings_file.h"
#include "toolkit/display_scale.h"
#include "toolkit/scripted_user_interaction.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <memory>

// A settings file holding every key: the file defaults, NET_3G_AUTH "0" so the
// controls can show every value, then the overrides.
inline QByteArray settingsFileText(const std::map<QString, QString>& overrides = {})
{
    settings::SettingsValues v;
    settings::readSettingsFile(QStringLiteral("/nonexistent.ini"), v);
    v.set(QStringLiteral("NET_3G_AUTH"), QStringLiteral("0"));
    for (const auto& [key, value] : overrides) v.set(key, value);
    QByteArray out;
    QByteArray section;
    const auto schema = settings::settingsSchema();
    for (std::size_t i = 0; i < schema.size(); ++i) {
        if (section != schema[i].section) {
            section = schema[i].section;
            out += "[" + section + "]\r\n";
        }
        out += QByteArray(schema[i].key) + "=" + v.at(i).toUtf8() + "\r\n";
    }
    return out;
}

// Ten filled Wi-Fi slots: "net-n" and "secret-n".
inline std::map<QString, QString> filledWifiSlots()
{
    std::map<QString, QString> wifi;
    for (int n = 1; n <= settings::kWifiSlots; ++n) {
        wifi[settings::wifiSsidKey(n)] = QStringLiteral("net-%1").arg(n);
        wifi[settings::wifiPasswordKey(n)] = QStringLiteral("secret-%1").arg(n);
    }
    return wifi;
}

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
        window = nullptr;
        app.reset();
        QDir::setCurrent(previous);
        toolkit::setScreenDpiOverride(std::nullopt);
    }

    TFormWebsocketclientf& makeWindow()
    {
        app = std::make_unique<AppWindows>();
        window = app->mainWindow.get();
        return *window;
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    settings::SettingsDocument& doc() const { return *app->document; }
    const settings::SettingsValues& values() const { return app->document->values(); }
    // A load as start-up does it (no notice), and a save without the checks of the Save button.
    void load(const QString& file) const { app->document->load(file); }
    void save(const QString& file) const
    {
        window->commitEdits();
        app->document->save(file);
    }

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
    std::unique_ptr<AppWindows> app;
    TFormWebsocketclientf* window = nullptr;  // app's main window
};
