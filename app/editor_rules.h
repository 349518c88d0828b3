#pragma once
// The rules between dependent controls of the settings editor: the record
// ratio read-outs, the G-sensor mode pair, the Wi-Fi slot selector, the server
// trigger rows and the video quality's frame-rate limit.


#include <QStringList>

#include <span>

class QAbstractButton;
class QComboBox;
class QWidget;
namespace settings {
class SettingsDocument;
}

namespace editor_rules {

// A server trigger box and the boxes it governs ("Transmit Image", and
// "100Hz G-Sensor" on the G-sensor and eCall rows, otherwise null).
struct TriggerRow {
    const char* trigger;
    const char* transmit;
    const char* hz100;
};
// Taken from the binding table's image-upload entries, so the rows the rules
// govern are exactly the rows the file carries.
std::span<const TriggerRow> serverTriggerRows();

// The frame rates cbVideoFPS offers for a video quality index (-1: none chosen).
QStringList frameRatesOffered(int videoQualityIndex);
// The FPS text kept when the quality changes: the 1080P group caps it at 15.
QString frameRateKept(int videoQualityIndex, int framesPerSecond);

// The handlers, bound to the editor window's controls. They look controls up
// by name under `window` and keep the Wi-Fi slots in `document`.
class EditorRules {
public:
    EditorRules(QWidget* window, settings::SettingsDocument& document);

    // Connects every rule to its control through the standard exception display.
    void bind();

    void tbRecordRatioChange();
    void rbGsensorPresetClick();
    void rbGsensorCustomClick();
    void cbWifiSelectedChange();
    // The one handler of all fifteen trigger boxes; `sender` is the trigger box.
    void checkBoxServerTriggerClick(QAbstractButton* sender);
    void cbVideoQualityChange();

    // The slot whose values the two Wi-Fi fields hold; 0 before any slot was shown.
    int shownWifiSlot() const { return shownWifiSlot_; }
    // A fill has set the selector and, for a slot number, the fields: that slot is shown now.
    void noteWifiSlotFilled();

private:
    template <class W>
    W* control(const char* name) const;
    void applyTriggerRule(const TriggerRow& row);

    QWidget* window_;
    settings::SettingsDocument& document_;
    int shownWifiSlot_ = 0;
};

}  // namespace editor_rules
