// Values the editor shows but the user leaves alone leave the editor as the file had them.
#include "editor_fixture.h"

// An older tool wrote the SSID in Latin-1: through the editor and back, on Save
// and on Save As, its bytes stay; no U+FFFD is written in their place.
TEST_F(EditorTest, ALatin1SsidSurvivesLoadAndSaveThroughTheEditor)
{
    auto wifi = filledWifiSlots();
    wifi[settings::wifiSsidKey(1)] = QStringLiteral("Caf-latin1");
    wifi[settings::wifiSsidKey(2)] = QStringLiteral("Bar-latin1");
    QByteArray text = settingsFileText(wifi);
    text.replace("Caf-latin1", "Caf\xE9");
    text.replace("Bar-latin1", "B\xE4r");
    writeFile("old.ini", text);

    makeWindow();
    load(path("old.ini"));
    save(path("old.ini"));
    save(path("new.ini"));
    for (const char* name : {"old.ini", "new.ini"}) {
        const QByteArray saved = readFile(name);
        EXPECT_TRUE(saved.contains("\r\nWIFI_SSID1=Caf\xE9\r\n")) << name;
        EXPECT_TRUE(saved.contains("\r\nWIFI_SSID2=B\xE4r\r\n")) << name;
        EXPECT_FALSE(saved.contains("\xEF\xBF\xBD")) << name;
    }
}
