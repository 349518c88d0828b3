#pragma once
// The camera angle panel: the recorder's camera image with the vanishing and
// hood lines the installer moves over it, the guide band placed from the
// camera height, single image requests and the timed image stream. It is a
// tool window of its own, so opening it never reshapes the editor.
//
// A line's value is a row of the camera image. The image is stretched onto
// the picture, so row r of an image H rows tall lies on picture row
// r x (picture height) / H; the read-outs and "OK" carry the row itself.

#include <QFrame>
#include <QPointer>
#include <QSize>

#include <functional>
#include <optional>

class DeviceLink;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

class CameraAnglePanel : public QFrame {
    Q_OBJECT

public:
    // `editor` is the window whose settings fields the panel reads and fills;
    // `parent` holds the panel (the editor finds the read-outs below it).
    explicit CameraAnglePanel(QWidget* editor, QWidget* parent = nullptr);

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
    // How long the stream waits for an image before it asks again.
    static constexpr qint64 kAnswerWaitMs = 2000;
    // Tests: a monotonic clock in milliseconds for that wait.
    void setClock(std::function<qint64()> msecs) { clock_ = std::move(msecs); }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Line {
        const char* marker;
        const char* readOut;
        const char* editorField;
    };
    static const Line kVanishing;
    static const Line kHood;

    void stepLine(const Line& line, int step);
    void setRow(const Line& line, int row);
    std::optional<int> rowOf(const Line& line) const;
    void takeRowFromEditor(const Line& line, const QString& text);
    // Puts both lines where their rows are on the picture.
    void placeLines();
    void placeLinesSoon();
    // The camera image's height in rows: the last image's, else the editor's
    // image height, else the picture's own height at 100 %.
    int imageRows() const;
    int pictureTop() const;
    int topOfRow(int row) const;     // panel y of an image row
    int firstRowAt(int y) const;     // first image row on the picture row at panel y
    const Line* lineAt(int y) const;

    void showImage(const QImage& image);
    void showRecorderError(const QString& text);
    void requestImage();
    void setStatus(const QString& text);
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
    QSize cameraImageSize_;  // of the last image shown; empty before the first
    bool placing_ = false;
    bool placeScheduled_ = false;
    const Line* dragged_ = nullptr;
    int dragOffset_ = 0;  // from the dragged marker's top to the pointer
    bool awaitingImage_ = false;
    qint64 requestedAt_ = 0;
    std::function<qint64()> clock_;
};
