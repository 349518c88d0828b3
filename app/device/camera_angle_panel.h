#pragma once
// The camera angle panel: the recorder's camera image with the vanishing and
// hood lines the installer moves over it, the guide band placed from the
// camera height, single image requests and the timed image stream.

#include <QFrame>
#include <QPointer>

class DeviceLink;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

class CameraAnglePanel : public QFrame {
    Q_OBJECT

public:
    // `editor` is the window whose settings fields the panel reads and fills.
    explicit CameraAnglePanel(QWidget* editor);

    void attach(DeviceLink* link);
    // Places every control at its 100 % geometry times the display scale.
    void applyDisplayScale(int scalePercent);

    void btnCameraImageClick();  // "Camera Angle Setting": opens the panel
    void btnRequestImageClick();
    void btnRepeatRequestClick();
    void timerStreamImageTimer();
    void btnTimerStopClick();
    void SpeedButton1Click();  // hood "+"
    void SpeedButton2Click();  // hood "-"
    void SpeedButton3Click();  // vanishing "+"
    void SpeedButton4Click();  // vanishing "-"
    void Button3Click();       // "OK"

    bool streaming() const;

private:
    void moveLine(const char* line, const char* readOut, int step);
    void showImage(const QImage& image);
    template <class W>
    W* part(const char* name) const
    {
        return findChild<W*>(QLatin1String(name));
    }
    template <class W>
    W* editorField(const char* name) const;

    QWidget* editor_;
    QPointer<DeviceLink> link_;
    QTimer* timerStreamImage = nullptr;
    int scale_ = 100;
};
