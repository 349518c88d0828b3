#pragma once
// The device link: the main window's WebSocket client, the reassembly and
// dispatch of the recorder's messages, and what the transfers do with them
// (camera images, the settings file, recorded data saved and acknowledged).
// The windows show what it reports through its signals; it owns no widgets.

#include "device/data_folders.h"
#include "device/device_connection.h"
#include "device/dispatch.h"
#include "device/reassembly.h"
#include "device/upload_response.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>


class DeviceLink final : public QObject, private device::ReassemblyObserver, private device::MessageHandler {
    Q_OBJECT

public:
    // `window` parents the error boxes of failed transfers. A null connection
    // (a build without the engine) makes every request a no-op.
    //
    // A failure is logged and shown in an error box, but never from inside a
    // data event, and one box at a time: what fails while a box is waiting or
    // open is counted into it or into the log, and reading goes on.
    DeviceLink(QWidget* window, std::unique_ptr<device::DeviceConnection> connection);
    ~DeviceLink() override;

    // Replaces the client (tests put a fake one in); the link starts idle.
    void setConnection(std::unique_ptr<device::DeviceConnection> connection);
    bool hasConnection() const { return connection_ != nullptr; }
    bool isConnected() const;

    // Opens the connection to `url`; raises with the reason when it fails.
    void connectTo(const QString& url);
    void disconnectFromRecorder();

    // Requests go out only while the client reports that it is connected;
    // otherwise nothing is sent and nothing is shown. True when sent.
    bool sendIfConnected(const QByteArray& request);
    void requestCameraImage();  // also clears gImageReceived, sent or not
    void requestGSensorInit() { sendIfConnected(device::gSensorInitRequest()); }

    // One data event (the client's data handler).
    void WebSocketClient1DataIn(const device::DataEvent& event);

    bool gImageReceived = false;
    const device::SessionRecord& sessionRecord() const { return session_; }
    const device::Reassembly& reassembly() const { return reassembly_; }
    qint64 bytesReceived() const { return bytesReceived_; }
    // Received files are written off the GUI thread as they arrive, in
    // arrival order; the acknowledgement goes out once the file is in place.
    // True while received bytes are on their way to disk or a complete file
    // is being put in place.
    bool savesPending() const;

    // Runs `work`, reporting what it raises as the link reports its own
    // failures (logged, and one error box at a time) instead of letting it escape.
    void reportFailures(const std::function<void()>& work);

    // Where a settings file the recorder sent goes (checked, stored and loaded there).
    void setSettingsReceiver(std::function<void(const QByteArray& file)> receiver) { receiveSettings_ = std::move(receiver); }
    // The window the error boxes of failed transfers stand over.
    void setDialogParent(QWidget* window) { window_ = window; }
    // The folder the DRV, MMV and SystemLog folders are made in: device::dataFolderBase()
    // unless tests (or a caller) chose another.
    void setDataFolderBase(const QString& base) { dataFolderBase_ = base; }
    QString dataFolderBase() const;
    // Tests: the clock the saved files are named by.
    void setClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }

signals:
    void memoLine(const QString& line);        // the message log Memo1
    void uploadMemoLine(const QString& line);  // the download dialog's memoUpload
    void progressRange(qint64 maximum);        // its progressBarDownload
    void progressValue(qint64 position);
    void uploadResponseRead(const device::UploadResponseRecord& record);
    void uploadCompared(qint64 consumedSize);
    void uploadSaved(const QString& statusLine);
    // A download that ended without its file: the message could not be read
    // or the file not written. Shown in the error box too.
    void uploadFailed(const QString& text);
    void cameraImage(const QImage& image);
    void recorderError(int code, const QString& text);  // an error reply (code 255), also logged
    void sessionStored(const device::SessionRecord& record);
    void receivedBytes(qint64 total);
    void connectionChanged(bool connected, const QString& text);
    void serverCertificateAccepted(const QString& text);

private:
    // ReassemblyObserver
    void progressMaximum(std::uint32_t maximum) override;
    void progressPosition(std::uint32_t position) override;
    void sizeLine(const QString& line) override { emit uploadMemoLine(line); }
    void messageComplete(const QByteArray& message) override;
    std::uint32_t streamedHead(std::uint8_t code, std::uint32_t declaredLength) override;
    void streamStarted(const QByteArray& head) override;
    void streamData(const QByteArray& bytes, qsizetype offset, qsizetype size) override;
    void streamComplete() override { uploadResponseComplete(); }
    void streamDropped() override { uploadResponseLost(); }
    // MessageHandler
    void logLine(const QString& line) override { emit memoLine(line); }
    void sessionAccepted(const device::SessionRecord& record) override;
    void fileMessage(const QByteArray& message) override;
    void uploadResponseHead(const QByteArray& head) override;
    void uploadResponseData(const QByteArray& bytes, qsizetype offset, qsizetype size) override;
    void uploadResponseComplete() override;
    void uploadResponseLost() override;
    void endUpload();
    void holdReceiving(bool hold);

    void disconnected(int statusCode, const QString& description);
    void reportError(const QString& text);
    void showErrorBox();
    void failUpload(const QString& text);
    void certificate(const device::ServerCertificate& certificate);
    QString folderFor(const QString& name) const;
    void uploadFileFinished(const device::UploadResponseRecord& record, quint64 id, const QString& error);
    void finishUpload(const device::UploadResponseRecord& record, const QString& saveError);

    QPointer<QWidget> window_;
    std::unique_ptr<device::DeviceConnection> connection_;
    device::Reassembly reassembly_{*this};
    device::SessionRecord session_;
    qint64 bytesReceived_ = 0;
    std::function<void(const QByteArray&)> receiveSettings_;
    QString dataFolderBase_;
    std::function<QDateTime()> clock_ = [] { return QDateTime::currentDateTime(); };
    // The upload response being received: its head's fields, and the file its
    // data goes to (none for a data type without a file, a refused name, or
    // once writing it failed).
    struct Upload {
        device::UploadResponseRecord record;
        std::unique_ptr<device::StreamedFile> file;
        quint64 id = 0;
        qint64 received = 0;  // bytes of the message so far
    };
    QThreadPool writer_;    // before upload_: a file still open is cancelled before the writer is waited for
    std::optional<Upload> upload_;
    quint64 uploads_ = 0;
    std::uint32_t progressMaximum_ = 0, progressShown_ = 0;
    QElapsedTimer progressClock_;  // since the bar last moved
    int pendingSaves_ = 0;  // complete files not yet in place
    bool receiveHeld_ = false;  // the connection's reading is paused for the file writer
    // The error box: its text while it waits for its turn, whether it is up,
    // and the failures since it was asked for.
    QString errorBoxText_;
    bool errorBoxQueued_ = false;
    bool errorBoxOpen_ = false;
    int errorsSinceBox_ = 0;
};
