#pragma once
// The download dialog "DVR/MMV/LOG": asks the recorder for recorded data of one
// kind over a time range. The main window's link handles the answer and
// reports into this dialog's labels, memo and progress bar. The status line
// says what became of the last request: waiting, saved, a size mismatch, a
// failure, or a connection lost before the download finished.

#include "device/upload_response.h"

#include <QDialog>
#include <QPointer>
#include <QTimeZone>

#include <optional>

class DeviceLink;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QRadioButton;
class BoundedLog;

class TformDownload : public QDialog {
    Q_OBJECT

public:
    explicit TformDownload(QWidget* parent = nullptr);

    // Shows what the link reports and sends the requests through it.
    void attach(DeviceLink* link);

    void FormShow();
    void rbUploadDrvClick();
    void rbUploadMMVClick();
    void rbUploadSystemLogClick();
    void btnUploadRequestClick();

    // The date and time text of the edits: the locale's short date with a
    // four-digit year, a blank and its long time without a zone name.
    static QString dateTimeFormat(const QLocale& locale);
    // Tests: the zone the entered times are read in (the system's by default).
    void setTimeZone(const QTimeZone& zone) { zone_ = zone; }

    template <class W>
    W* control(const char* name) const
    {
        return findChild<W*>(QLatin1String(name));
    }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void showUploadResponse(const device::UploadResponseRecord& record);
    void showSaved(const QString& line);
    void showCompared(qint64 consumed);
    void showFailure(const QString& text);
    void showRecorderError(int code, const QString& text);
    void endWithoutFile(const QString& status);
    void showConnection(bool connected, const QString& text);
    void setStatus(const QString& text);
    void resetProgress();
    qint64 countOf(const QLineEdit* edit) const;
    void enableTimes(bool enabled);

    QPointer<DeviceLink> link_;
    QTimeZone zone_;
    QRadioButton* rbUploadDrv = nullptr;
    QRadioButton* rbUploadMMV = nullptr;
    QRadioButton* rbUploadSystemLog = nullptr;
    QLineEdit* maskEdFromTime = nullptr;
    QLineEdit* maskEdToTime = nullptr;
    QPlainTextEdit* memoUpload = nullptr;
    QProgressBar* progressBarDownload = nullptr;
    BoundedLog* uploadLog_ = nullptr;
    // Requests sent and not yet answered, and the answer being handled.
    int outstanding_ = 0;
    std::optional<device::UploadResponseRecord> current_;
    bool currentSaved_ = false;
};
