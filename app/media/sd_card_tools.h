#pragma once
// The main window's two SD card buttons: "Initialize SD Card" and "Eject SD Card".
// The disk service is reached only when a button is pressed, so a machine
// without one starts the tool as usual.

#include "drive_ejector.h"
#include "removable_media.h"
#include "sd_card_initializer.h"

#include <QObject>

#include <memory>

namespace media {

class SdCardTools : public QObject {
    Q_OBJECT

public:
    // `log` receives the lines of the window's hidden log.
    SdCardTools(QWidget* window, SdCardInitializer::Log log, QObject* parent = nullptr);
    ~SdCardTools() override;

    void initializeSdCard();
    void ejectSdCard();
    bool busy() const { return initializer_.running() || ejector_.running(); }

    // UDisks2 on the system bus unless a test put something else here.
    RemovableMedia& media();
    void setMedia(std::unique_ptr<RemovableMedia> media) { media_ = std::move(media); }
    SdCardInitializer& initializer() { return initializer_; }

signals:
    // A button's work is under way (true) or over, its messages shown (false).
    void busyChanged(bool busy);

private:
    std::unique_ptr<RemovableMedia> media_;
    SdCardInitializer initializer_;
    DriveEjector ejector_;
};

}  // namespace media
