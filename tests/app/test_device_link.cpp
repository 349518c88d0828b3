// The device link in the running program: the windows AppWindows makes, the
// camera angle panel, transfers and the download and console windows, with a
// fake client in place of the WebSocket so that every byte sent is seen.
#include "editor_fixture.h"

#include "device/bounded_log.h"
#include "device/camera_angle_panel.h"
#include "device/data_folders.h"
#include "device/device_link.h"
#include "device/device_message.h"
#include "device/form_download.h"
#include "device/form_websocket.h"
#include "drv/drv_viewer.h"

#include <QAction>
#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest/QTest>

#include <csignal>
#include <functional>
#include <stdexcept>

#include <sys/resource.h>

namespace {

class FakeConnection final : public device::DeviceConnection {
public:
    struct State {
        bool connected = false;
        std::vector<QByteArray> sent;
        Handlers handlers;
        QString refuse;  // a connect fails with this text when set
        bool receivePaused = false;
    };
    explicit FakeConnection(State& state) : s(state) {}
    void setHandlers(Handlers handlers) override { s.handlers = std::move(handlers); }
    bool connected() const override { return s.connected; }
    void send(const QByteArray& bytes) override { s.sent.push_back(bytes); }
    void connectTo(const QString&) override
    {
        if (!s.refuse.isEmpty()) throw std::runtime_error(s.refuse.toStdString());
        s.connected = true;
    }
    void disconnectFromRecorder() override
    {
        s.connected = false;
        if (s.handlers.disconnected) s.handlers.disconnected(1000, QString());
    }
    void setReceivePaused(bool paused) override { s.receivePaused = paused; }
    State& s;
};

QByteArray jpeg(int width = 64, int height = 48)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkGray);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return bytes;
}

const QDateTime kAt(QDate(2025, 3, 7), QTime(14, 25, 30));

}  // namespace

class DeviceLinkTest : public EditorTest {
protected:
    void SetUp() override
    {
        EditorTest::SetUp();
        makeWindow();
        link().setConnection(std::make_unique<FakeConnection>(fake));
        link().setDataFolderBase(path(QStringLiteral("data")));
        link().setClock([] { return kAt; });
    }
    DeviceLink& link() { return *app->deviceLink; }
    CameraAnglePanel& panel() { return window->cameraAnglePanel(); }
    TformDownload& download() { return *app->download; }
    TformWebsocket& console() { return *app->console; }
    // One data event; files it brings are on disk when this returns.
    // One data event; files it brings are on disk and the error box it asked
    // for is shown when this returns.
    void receive(const QByteArray& bytes)
    {
        fake.handlers.dataIn(bytes);
        QTRY_VERIFY_WITH_TIMEOUT(!link().savesPending(), 60000);
        QCoreApplication::processEvents();
    }
    // A log as shown once its lines are in.
    QStringList memo(QWidget& w, const char* name) const
    {
        auto* view = w.findChild<QPlainTextEdit*>(QLatin1String(name));
        if (auto* log = view->findChild<BoundedLog*>()) log->flush();
        return view->toPlainText().split(u'\n', Qt::SkipEmptyParts);
    }
    QString label(QWidget& w, const char* name) const { return w.findChild<QLabel*>(QLatin1String(name))->text(); }
    void click(QWidget& w, const char* name) { w.findChild<QPushButton*>(QLatin1String(name))->click(); }
    QByteArray fileBytes(const QString& name) const { return readFile(name); }

    FakeConnection::State fake;
};

TEST_F(DeviceLinkTest, TheProgramsWindowsAndTheDeviceMenu)
{
    ASSERT_TRUE(app->drvViewer && app->download && app->console && app->about && app->preferences && app->textView);
    EXPECT_EQ(download().windowTitle(), QStringLiteral("DVR/MMV/LOG"));
    EXPECT_EQ(console().windowTitle(), QStringLiteral("W-Fi Configuration"));
    EXPECT_FALSE(download().isVisible());
    EXPECT_FALSE(console().isVisible());

    auto action = [&](const char* name) { return window->findChild<QAction*>(QLatin1String(name)); };
    ASSERT_NE(action("actionConnectionConsole"), nullptr);
    EXPECT_EQ(action("actionConnectionConsole")->text(), QStringLiteral("Connection Console..."));
    action("actionConnectionConsole")->trigger();
    EXPECT_TRUE(console().isVisible());
    action("actionDownload")->trigger();
    EXPECT_TRUE(download().isVisible());
    action("actionCameraAngle")->trigger();
    EXPECT_TRUE(panel().isVisible() || panel().isVisibleTo(window));

    // The console reaches the download dialog and the DRV viewer too.
    download().hide();
    click(console(), "Button16");
    EXPECT_TRUE(download().isVisible());
    click(console(), "Button14");
    EXPECT_TRUE(app->drvViewer->isVisible());
    for (const char* name : {"Button8", "Button4", "Button12", "Button13", "bEcho"}) {
        auto* b = console().findChild<QPushButton*>(QLatin1String(name));
        EXPECT_FALSE(b->isEnabled()) << name;
        EXPECT_TRUE(b->toolTip().contains(QStringLiteral("Not supported"))) << name;
    }
    EXPECT_EQ(label(console(), "lblStatus"), QStringLiteral("Not Connected"));
    EXPECT_TRUE(console().findChild<QLineEdit*>("txtServer")->text().startsWith(QStringLiteral("ws://192.168.")));
    EXPECT_EQ(console().findChild<QLineEdit*>("edPassword")->text().size(), 4);
}

TEST_F(DeviceLinkTest, DisplayScaleSetsThePanelGeometry)
{
    for (const int scale : {100, 125}) {
        SCOPED_TRACE(scale);
        app = std::make_unique<AppWindows>(scale);
        window = app->mainWindow.get();
        EXPECT_EQ(ctl<QWidget>("imageCameraAngle")->geometry(),
                  scale == 100 ? QRect(5, 0, 385, 305) : QRect(6, 0, 481, 381));
        // The guide band for a 150 cm camera.
        ctl<QLineEdit>("maskEdCameraHeight")->setText(QStringLiteral("150"));
        // A window of its own: opening and closing it leaves the editor's size alone.
        const QSize editor = window->minimumSizeHint();
        panel().btnCameraImageClick();
        EXPECT_TRUE(panel().isWindow());
        EXPECT_EQ(window->minimumSizeHint(), editor);
        EXPECT_EQ(ctl<QWidget>("shapeVerticalHigh")->y(), scale == 100 ? 128 : 160);
        EXPECT_EQ(ctl<QWidget>("shapeVerticalLow")->y(), scale == 100 ? 147 : 183);
        panel().close();
        EXPECT_FALSE(panel().isVisible());
        EXPECT_EQ(window->minimumSizeHint(), editor);
    }
}

TEST_F(DeviceLinkTest, GuideBandLinesAndTakingTheReadOuts)
{
    const std::tuple<const char*, int, int> bands[] = {{"140", 138, 157}, {"141", 128, 147}, {"160", 128, 147}, {"161", 118, 138}};
    for (const auto& [height, high, low] : bands) {
        ctl<QLineEdit>("maskEdCameraHeight")->setText(QLatin1String(height));
        panel().btnCameraImageClick();
        EXPECT_EQ(ctl<QWidget>("shapeVerticalHigh")->y(), high) << height;
        EXPECT_EQ(ctl<QWidget>("shapeVerticalLow")->y(), low) << height;
    }
    EXPECT_TRUE(panel().isVisibleTo(window));

    // The lines start at the file defaults, 342 and 720 of 720 rows.
    click(panel(), "SpeedButton3");
    EXPECT_EQ(label(panel(), "lbVerticalLine"), QStringLiteral("338"));
    click(panel(), "SpeedButton1");
    EXPECT_EQ(label(panel(), "lbHoodLine"), QStringLiteral("718"));

    click(panel(), "btnRepeatRequest");
    ASSERT_TRUE(panel().streaming());
    click(panel(), "Button3");
    EXPECT_FALSE(panel().isVisibleTo(window));
    EXPECT_FALSE(panel().streaming()) << "OK stops the stream";
    EXPECT_EQ(ctl<QLineEdit>("maskEdVanishingLine")->text(), QStringLiteral("338"));
    EXPECT_EQ(ctl<QLineEdit>("maskEdHoodLine")->text(), QStringLiteral("718"));
    EXPECT_EQ(ctl<QLineEdit>("maskEdImageHeight")->text(), QStringLiteral("720")) << "no image came: the fields' own";
    EXPECT_EQ(ctl<QLineEdit>("maskEdImageWidth")->text(), QStringLiteral("1280"));

    // Closed from its title bar: nothing taken, the stream stopped.
    panel().btnCameraImageClick();
    click(panel(), "btnRepeatRequest");
    click(panel(), "SpeedButton3");
    panel().close();
    EXPECT_FALSE(panel().streaming());
    EXPECT_EQ(ctl<QLineEdit>("maskEdVanishingLine")->text(), QStringLiteral("338"));

    // A height that is no number: the conversion error, the panel already open.
    ctl<QLineEdit>("maskEdCameraHeight")->setText(QStringLiteral("abc"));
    panel().hide();
    window->findChild<QAction*>("actionCameraAngle")->trigger();
    EXPECT_TRUE(panel().isVisibleTo(window));
    EXPECT_EQ(dialogs.errors(), QStringList{QStringLiteral("'abc' is not a valid integer value")});
}

TEST_F(DeviceLinkTest, RequestsGoOutOnlyWhileConnected)
{
    click(panel(), "btnRequestImage");
    click(console(), "Button11");
    click(console(), "btnSessionRequest");
    EXPECT_TRUE(fake.sent.empty());
    EXPECT_FALSE(link().gImageReceived);
    EXPECT_TRUE(dialogs.messages().isEmpty()) << "nothing is shown either";

    click(console(), "bConnect");
    EXPECT_TRUE(label(console(), "lblStatus").startsWith(QStringLiteral("Connected to ws://")));
    click(panel(), "btnRequestImage");
    click(console(), "Button11");
    console().findChild<QLineEdit*>("edId")->setText(QStringLiteral("fitter"));
    console().findChild<QLineEdit*>("edPassword")->setText(QStringLiteral("4321"));
    click(console(), "btnSessionRequest");
    click(console(), "btnDownRequestSetting");
    ASSERT_EQ(fake.sent.size(), 4u);
    EXPECT_EQ(fake.sent[0], device::cameraImageRequest());
    EXPECT_EQ(fake.sent[1], device::gSensorInitRequest());
    EXPECT_EQ(fake.sent[2], device::sessionRequest(QStringLiteral("fitter"), QStringLiteral("4321")));
    EXPECT_EQ(fake.sent[3], device::settingsRequest());

    receive(device::sessionAccepted(QStringLiteral("main_ap_1.1.4.bin"), QStringLiteral("mcu_2.0.bin"), QStringLiteral("BR-0042")));
    EXPECT_EQ(label(console(), "lbDeviceId"), QStringLiteral("BR-0042"));
    EXPECT_EQ(link().sessionRecord().first, QStringLiteral("main_ap_1.1.4.bin"));
    EXPECT_EQ(memo(console(), "txtReceived"), QStringList{QStringLiteral("Session Accepted")});
    EXPECT_EQ(label(console(), "lbGetDataLength"), QString::number(device::sessionAccepted({}, {}, {}).size()));
}

TEST_F(DeviceLinkTest, AFailedConnectShowsItsReason)
{
    fake.refuse = QStringLiteral("151: Could not connect: Connection refused.");
    click(console(), "bConnect");
    EXPECT_EQ(label(console(), "lblStatus"), fake.refuse);
    EXPECT_TRUE(console().findChild<QPushButton*>("bConnect")->isEnabled());
    EXPECT_TRUE(dialogs.errors().isEmpty());
}

TEST_F(DeviceLinkTest, TheImageStreamIsPacedByArrivingImages)
{
    qint64 now = 1000;
    panel().setClock([&] { return now; });
    auto status = [&] { return label(panel(), "lbImageStatus"); };
    fake.connected = true;
    click(panel(), "btnRepeatRequest");
    EXPECT_EQ(fake.sent.size(), 1u);
    EXPECT_FALSE(panel().findChild<QPushButton*>("btnRequestImage")->isEnabled());
    EXPECT_FALSE(panel().findChild<QPushButton*>("btnTimerStop")->isHidden());
    now += CameraAnglePanel::kAnswerWaitMs - 1;
    panel().timerStreamImageTimer();
    EXPECT_EQ(fake.sent.size(), 1u) << "no image yet, no second request";

    // An image lost on the way: after the wait the image is asked for again.
    now += 1;
    panel().timerStreamImageTimer();
    EXPECT_EQ(fake.sent.size(), 2u);
    EXPECT_TRUE(status().startsWith(QStringLiteral("No image came within 2 s"))) << status().toStdString();
    // An error in place of the image: its text on the panel, and again after the wait.
    receive(device::errorMessage(7, QStringLiteral("camera busy")));
    EXPECT_EQ(status(), QStringLiteral("The recorder answered: camera busy"));
    panel().timerStreamImageTimer();
    EXPECT_EQ(fake.sent.size(), 2u);
    now += CameraAnglePanel::kAnswerWaitMs;
    panel().timerStreamImageTimer();
    EXPECT_EQ(fake.sent.size(), 3u);
    EXPECT_EQ(status(), QStringLiteral("The recorder answered: camera busy"));

    const QByteArray image = jpeg();
    const QByteArray message = device::fileMessage(device::kFileKindImage, image);
    receive(message.left(40));
    receive(message.mid(40));
    EXPECT_TRUE(link().gImageReceived);
    EXPECT_EQ(status(), QString()) << "an image clears what the panel said";
    EXPECT_EQ(fileBytes(QStringLiteral("Image.jpg")), image);
    EXPECT_EQ(panel().findChild<QLabel*>("imageCameraAngle")->pixmap().size(), QSize(64, 48));
    // A message in pieces drives the download dialog's bar and memo too.
    EXPECT_EQ(memo(download(), "memoUpload").last(),
              QStringLiteral("Meassage Size = %1 Package Size = %2 gReceiveLength = %1").arg(message.size()).arg(message.size() - 40));
    EXPECT_EQ(download().findChild<QProgressBar*>("progressBarDownload")->value(), message.size());

    panel().timerStreamImageTimer();
    EXPECT_EQ(fake.sent.size(), 4u) << "the next tick after an image asks at once";
    EXPECT_FALSE(link().gImageReceived);
    click(panel(), "btnTimerStop");
    EXPECT_FALSE(panel().streaming());
    EXPECT_TRUE(panel().findChild<QPushButton*>("btnRepeatRequest")->isEnabled());

    // An image that does not decode: shown as an error, no file, the flag stays false.
    QFile::remove(path(QStringLiteral("Image.jpg")));
    receive(device::fileMessage(device::kFileKindImage, "not a jpeg"));
    EXPECT_EQ(dialogs.errors().size(), 1);
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("Image.jpg"))));
    EXPECT_FALSE(link().gImageReceived);
    EXPECT_EQ(link().reassembly().gReceiveState(), device::ReceiveState::Idle);

    // Once the image asked for came, an error answers something else: not the panel's.
    receive(message);
    receive(device::errorMessage(8, QStringLiteral("no such file")));
    EXPECT_EQ(status(), QString());
}

// Settings the recorder sends are checked before "./setting.ini" is touched,
// replace edits not yet saved only when the user says so, and are named in the
// console either way.
TEST_F(DeviceLinkTest, SettingsFromTheRecorderReplaceTheEditorsAndGoBackUp)
{
    click(console(), "bConnect");
    const QByteArray mine = settingsFileText({{QStringLiteral("CONTINUOUS_RATIO"), QStringLiteral("55")}});
    const QString target = QFileInfo(path(QStringLiteral("setting.ini"))).absoluteFilePath();
    const QByteArray theirs = settingsFileText({{QStringLiteral("CONTINUOUS_RATIO"), QStringLiteral("40")}});
    const QByteArray elf = QByteArray("\x7f" "ELF\x02\x01\x01\0", 8) + QByteArray(300, '\x90');
    const struct {
        const char* what;
        QByteArray sent;
        bool editFirst;
        const char* answer;  // to the question about unsaved edits; nullptr: none asked
        bool taken;
        const char* consoleLine;
    } cases[] = {
        {"nothing edited", theirs, false, nullptr, true, "Settings from the recorder replaced %1."},
        {"edits kept", theirs, true, "Keep My Changes", false,
         "Settings from the recorder not taken: the window keeps its changes; %1 was not changed."},
        {"edits replaced", theirs, true, "Take the Recorder's Settings", true, "Settings from the recorder replaced %1."},
        {"no settings file", elf, false, nullptr, false, "Settings from the recorder refused; %1 was not changed: "},
        {"a value the editor cannot show", settingsFileText({{QStringLiteral("VIDEO_FPS"), QStringLiteral("abc")}}), true,
         nullptr, false, "Settings from the recorder refused; %1 was not changed: VIDEO_FPS in [RECORD]"},
    };
    for (const auto& c : cases) {
        writeFile(QStringLiteral("setting.ini"), mine);
        load(path(QStringLiteral("setting.ini")));
        if (c.editFirst) ctl<QLineEdit>("maskEdTimeVehicleNumber")->setText(QStringLiteral("EDIT-1"));
        dialogs.clear();
        if (c.answer) dialogs.answerChoice(QLatin1String(c.answer));
        receive(device::fileMessage(2, c.sent));
        QCoreApplication::processEvents();  // the error box comes from the event loop too

        EXPECT_EQ(dialogs.requestsOf(toolkit::ScriptedUserInteraction::Kind::Choice).size(), c.answer ? 1 : 0) << c.what;
        EXPECT_EQ(fileBytes(QStringLiteral("setting.ini")), c.taken ? c.sent : mine) << c.what;
        EXPECT_EQ(ctl<QLabel>("lbContinuousRatio")->text(), c.taken ? QStringLiteral("40") : QStringLiteral("55")) << c.what;
        EXPECT_EQ(ctl<QLineEdit>("maskEdTimeVehicleNumber")->text(),
                  c.editFirst && !c.taken ? QStringLiteral("EDIT-1") : QString())
            << c.what;
        EXPECT_EQ(dialogs.errors().size(), c.taken || c.answer ? 0 : 1) << c.what;
        EXPECT_TRUE(memo(console(), "memoMessage").last().startsWith(QString::fromLatin1(c.consoleLine).arg(target)))
            << c.what << ": " << memo(console(), "memoMessage").last().toStdString();
    }

    // Asked from the event loop, not inside the data event: two files before it
    // turns make one question, and the newer file is the one taken.
    writeFile(QStringLiteral("setting.ini"), mine);
    load(path(QStringLiteral("setting.ini")));
    ctl<QLineEdit>("maskEdTimeVehicleNumber")->setText(QStringLiteral("EDIT-2"));
    dialogs.clear();
    dialogs.answerChoice(QStringLiteral("Take the Recorder's Settings"));
    const QByteArray newer = settingsFileText({{QStringLiteral("CONTINUOUS_RATIO"), QStringLiteral("45")}});
    fake.handlers.dataIn(device::fileMessage(2, theirs));
    fake.handlers.dataIn(device::fileMessage(2, newer));
    EXPECT_TRUE(dialogs.requestsOf(toolkit::ScriptedUserInteraction::Kind::Choice).isEmpty()) << "not inside the data event";
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.requestsOf(toolkit::ScriptedUserInteraction::Kind::Choice).size(), 1);
    EXPECT_EQ(fileBytes(QStringLiteral("setting.ini")), newer);

    click(console(), "Button1");  // "Upload Setting"
    ASSERT_EQ(fake.sent.size(), 1u);
    const device::FileRecord sent = device::readFileRecord(fake.sent[0]);
    EXPECT_EQ(fake.sent[0][4], char(device::kSettingsUpload));
    EXPECT_TRUE(sent.data.contains("CONTINUOUS_RATIO=45"));
}

TEST_F(DeviceLinkTest, RecordedDataIsSavedUnderItsTimeStampedNameAndAcknowledged)
{
    fake.connected = true;
    const QByteArray data(1200, 'x');
    receive(device::uploadResponse(device::kDataDrv, device::recordedFileHeader(QStringLiteral("A"), 0, 7), data));
    const QString drv = path(QStringLiteral("data/DRV/A__2025-03-07 142530.drv"));
    ASSERT_TRUE(QFile::exists(drv));
    EXPECT_EQ(QFileInfo(drv).size(), 1258);
    ASSERT_EQ(fake.sent.size(), 1u);
    EXPECT_EQ(fake.sent[0], device::acknowledgement());
    EXPECT_EQ(memo(download(), "memoUpload"),
              (QStringList{QStringLiteral("UploadResponce DRV.. Size = 1258"), QDir::toNativeSeparators(drv)}));
    EXPECT_EQ(label(download(), "lbUploadStatus"), QStringLiteral("DRV File: A is saved."));
    EXPECT_EQ(label(download(), "lbUploadtSize"), QStringLiteral("1276"));
    EXPECT_EQ(label(download(), "lbUploadFileSize"), QStringLiteral("1200"));
    EXPECT_EQ(label(download(), "lbUploadFrameCount"), QStringLiteral("7"));
    EXPECT_EQ(label(download(), "lbCompareUploadSize"), QStringLiteral("1276"));
    EXPECT_EQ(label(download(), "lbCompareUploadFileSize"), QStringLiteral("1200"));
    EXPECT_TRUE(memo(*window, "Memo1").contains(QStringLiteral("Upload Responce")));

    receive(device::uploadResponse(device::kDataMmv, device::recordedFileHeader(QStringLiteral("C:\\rec\\A"), 0, 1), data));
    EXPECT_EQ(QFileInfo(path(QStringLiteral("data/MMV/A_2025-03-07_142530.MMV"))).size(), 1200);
    receive(device::uploadResponse(device::kDataSystemLog, device::recordedFileHeader(QStringLiteral("A"), 0, 1), data));
    EXPECT_EQ(QFileInfo(path(QStringLiteral("data/SystemLog/A__2025-03-07 142530.tgz"))).size(), 1200);
    EXPECT_EQ(fake.sent.size(), 3u);
    EXPECT_EQ(label(download(), "lbUploadStatus"), QStringLiteral("SystemLog File: A is saved."));
}

TEST_F(DeviceLinkTest, MismatchesUnsafeNamesAndWriteFailuresAreNotAcknowledged)
{
    fake.connected = true;
    QByteArray m = device::uploadResponse(device::kDataDrv, device::recordedFileHeader(QStringLiteral("A"), 0, 1), QByteArray(100, 'y'));
    device::putU32(m, 5, 180);
    m.append(4, '\0');
    receive(m);
    EXPECT_TRUE(fake.sent.empty());
    EXPECT_EQ(memo(download(), "memoUpload").last(),
              QStringLiteral(" UploadResponce Size has to be 180 byte. but this Size = 176byte."));

    receive(device::uploadResponse(4, device::recordedFileHeader(QStringLiteral("A"), 0, 1), QByteArray(10, 'z')));
    EXPECT_EQ(label(download(), "lbCompareUploadSize"), QStringLiteral("14"));
    EXPECT_EQ(label(download(), "lbCompareUploadFileSize"), QStringLiteral("-62"));
    EXPECT_TRUE(fake.sent.empty());

    for (const char* name : {"..", ""}) {
        receive(device::uploadResponse(device::kDataDrv, device::recordedFileHeader(QLatin1String(name), 0, 1), "q"));
        EXPECT_TRUE(memo(download(), "memoUpload").last().startsWith(QStringLiteral("Refused file name"))) << name;
    }
    EXPECT_TRUE(fake.sent.empty());
    EXPECT_FALSE(QDir(path(QStringLiteral("data"))).exists(QStringLiteral("DRV/.._2025-03-07 142530.drv")));

    // A file that cannot be written (a folder stands in its place): shown, not acknowledged.
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("data/DRV/W__2025-03-07 142530.drv"))));
    receive(device::uploadResponse(device::kDataDrv, device::recordedFileHeader(QStringLiteral("W"), 0, 1), "data"));
    EXPECT_EQ(dialogs.errors().size(), 1);
    EXPECT_TRUE(fake.sent.empty());
    EXPECT_NE(label(download(), "lbUploadStatus"), QStringLiteral("DRV File: W is saved."));

    // A folder that cannot be made: the error is shown, nothing acknowledged, the link idle.
    writeFile(QStringLiteral("blocker"), "file");
    link().setDataFolderBase(path(QStringLiteral("blocker")));
    receive(device::uploadResponse(device::kDataMmv, device::recordedFileHeader(QStringLiteral("B"), 0, 1), "data"));
    EXPECT_EQ(dialogs.errors().size(), 2);
    EXPECT_TRUE(fake.sent.empty());
    EXPECT_EQ(link().reassembly().gReceiveState(), device::ReceiveState::Idle);
}

TEST_F(DeviceLinkTest, ADisconnectDropsACutMessageAndTheNextConnectionStartsClean)
{
    click(console(), "bConnect");
    const QByteArray m = device::uploadResponse(device::kDataMmv, device::recordedFileHeader(QStringLiteral("A"), 0, 1), QByteArray(500, 'm'));
    receive(m.left(200));
    EXPECT_EQ(link().reassembly().gReceiveState(), device::ReceiveState::Collecting);
    fake.connected = false;
    fake.handlers.disconnected(1006, QStringLiteral("connection dropped"));
    EXPECT_EQ(link().reassembly().gReceiveState(), device::ReceiveState::Idle);
    EXPECT_TRUE(label(console(), "lblStatus").startsWith(QStringLiteral("Not Connected")));

    click(console(), "bConnect");
    receive(device::commandComplete());
    EXPECT_EQ(memo(*window, "Memo1").last(), QStringLiteral("Command Complete"));
    EXPECT_EQ(label(console(), "lbGetDataLength"), QStringLiteral("14")) << "counted per connection";
}

// A recorded file goes to disk as it arrives, never held whole, and is put in
// place when the whole message is in; a cut link or a failed write leaves no
// file behind, and nothing is acknowledged.
TEST_F(DeviceLinkTest, RecordedDataGoesToDiskAsItArrives)
{
    fake.connected = true;
    QByteArray data(20000, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i) data[i] = char(i * 13);
    const QByteArray m = device::uploadResponse(device::kDataMmv, device::recordedFileHeader(QStringLiteral("A"), 0, 1), data);
    const QString folder = path(QStringLiteral("data/MMV"));
    const QString file = folder + QStringLiteral("/A_2025-03-07_142530.MMV");
    auto filesLeft = [&] { return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System); };
    enum class End { Whole, Cut, WriteFails };
    for (End end : {End::Whole, End::Cut, End::WriteFails}) {
        SCOPED_TRACE(int(end));
        QFile::remove(file);
        fake.sent.clear();
        const qsizetype errors = dialogs.errors().size();
        // Writes past 4 KiB fail (EFBIG) while the limit holds.
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        if (end == End::WriteFails) {
            rlimit small = before;
            small.rlim_cur = 4096;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        const qsizetype piece = 2000, sent = end == End::Cut ? 3 * piece : m.size();
        for (qsizetype at = 0; at < sent; at += piece) {
            fake.handlers.dataIn(device::DataEvent(m.mid(at, piece), at + piece >= m.size(), device::kBinaryFormat));
            EXPECT_LE(link().reassembly().gReceiveBuffer().size(), device::kUploadDataOffset);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!link().savesPending(), 60000);
        if (end == End::Cut) {
            EXPECT_TRUE(link().reassembly().handingOn());
            fake.handlers.disconnected(1006, QStringLiteral("connection dropped"));
        }
        if (end == End::WriteFails) QTRY_COMPARE_WITH_TIMEOUT(dialogs.errors().size(), errors + 1, 60000);
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldSignal);

        if (end == End::Whole) {
            EXPECT_EQ(readFile(QStringLiteral("data/MMV/A_2025-03-07_142530.MMV")), data);
            EXPECT_EQ(fake.sent, std::vector<QByteArray>{device::acknowledgement()});
            EXPECT_EQ(filesLeft(), QStringList{QStringLiteral("A_2025-03-07_142530.MMV")});
        } else {
            EXPECT_TRUE(fake.sent.empty());
            EXPECT_TRUE(filesLeft().isEmpty()) << filesLeft().join(' ').toStdString();
        }
        if (end == End::WriteFails) {
            EXPECT_TRUE(dialogs.errors().last().contains(QStringLiteral("Cannot write file")));
        }
        EXPECT_EQ(link().reassembly().gReceiveState(), device::ReceiveState::Idle);
    }

    // More than the writer's queue holds in one piece: the link stops taking
    // bytes until the writer has room, instead of waiting for the disk; it
    // lets go again on its own, and when the upload ends early.
    const QByteArray big(int(device::StreamedFile::kQueueLimit) + (1 << 20), 'b');
    const QByteArray bm = device::uploadResponse(device::kDataMmv, device::recordedFileHeader(QStringLiteral("A"), 0, 1), big);
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut);
        QFile::remove(file);
        fake.sent.clear();
        const qsizetype first = bm.size() - 100;
        fake.handlers.dataIn(device::DataEvent(bm.left(first), false, device::kBinaryFormat));
        EXPECT_TRUE(fake.receivePaused);
        if (cut) {
            fake.handlers.disconnected(1006, QStringLiteral("connection dropped"));
            EXPECT_FALSE(fake.receivePaused);
            QTRY_VERIFY_WITH_TIMEOUT(!link().savesPending(), 60000);
            EXPECT_TRUE(filesLeft().isEmpty());
            continue;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!fake.receivePaused, 60000);
        fake.handlers.dataIn(device::DataEvent(bm.mid(first), true, device::kBinaryFormat));
        QTRY_VERIFY_WITH_TIMEOUT(!link().savesPending(), 60000);
        EXPECT_EQ(QFileInfo(file).size(), big.size());
        EXPECT_EQ(fake.sent, std::vector<QByteArray>{device::acknowledgement()});
    }
}

TEST_F(DeviceLinkTest, ErrorsFromTheRecorderAreLogged)
{
    receive(device::errorMessage(7, QStringLiteral("busy")));
    EXPECT_EQ(memo(*window, "Memo1"), (QStringList{QStringLiteral("Error Code = 7"), QStringLiteral("busy")}));
    EXPECT_EQ(memo(console(), "txtReceived"), (QStringList{QStringLiteral("Error Code = 7"), QStringLiteral("busy")}));
    // A session record cut short: a range error shown, the link carries on.
    receive(device::frame(device::kSessionAccepted, 100));
    EXPECT_EQ(dialogs.errors().size(), 1);
    receive(device::commandComplete());
    EXPECT_EQ(memo(*window, "Memo1").last(), QStringLiteral("Command Complete"));
}

TEST_F(DeviceLinkTest, DownloadRequestFromTheEnteredTimes)
{
    fake.connected = true;
    download().setTimeZone(QTimeZone(0));
    download().show();
    const QString format = TformDownload::dateTimeFormat(QLocale());
    auto* from = download().findChild<QLineEdit*>("maskEdFromTime");
    auto* to = download().findChild<QLineEdit*>("maskEdToTime");
    const QDateTime shownTo = QLocale().toDateTime(to->text(), format);
    const QDateTime shownFrom = QLocale().toDateTime(from->text(), format);
    ASSERT_TRUE(shownTo.isValid()) << to->text().toStdString();
    EXPECT_EQ(shownFrom.secsTo(shownTo), 60);

    from->setText(QLocale().toString(QDateTime(QDate(2000, 3, 1), QTime(0, 0)), format));
    to->setText(QLocale().toString(QDateTime(QDate(2000, 3, 1), QTime(0, 1)), format));
    download().findChild<QRadioButton*>("rbUploadMMV")->click();
    click(download(), "btnUploadRequest");
    EXPECT_EQ(memo(download(), "memoUpload").last(), QStringLiteral("UtcFromTime = 951868800, UtcToTime = 951868860"));
    ASSERT_EQ(fake.sent.size(), 1u);
    EXPECT_EQ(fake.sent[0], device::uploadRequest(device::kDataMmv, 951868800, 951868860));

    download().findChild<QRadioButton*>("rbUploadSystemLog")->click();
    EXPECT_FALSE(from->isEnabled());
    EXPECT_FALSE(to->isEnabled());
    click(download(), "btnUploadRequest");
    EXPECT_EQ(device::readUploadRequest(fake.sent.at(1)).dataType, 3u) << "sent with the times it keeps";
    download().findChild<QRadioButton*>("rbUploadDrv")->click();
    EXPECT_TRUE(from->isEnabled());

    // Each showing refills both times, whatever was typed.
    download().hide();
    download().show();
    EXPECT_NE(from->text(), QLocale().toString(QDateTime(QDate(2000, 3, 1), QTime(0, 0)), format));

    from->setText(QStringLiteral("yesterday"));
    click(download(), "btnUploadRequest");
    EXPECT_EQ(dialogs.errors(), QStringList{QStringLiteral("'yesterday' is not a valid date and time")});
    EXPECT_EQ(fake.sent.size(), 2u) << "nothing sent, nothing logged";
}

// After a download that worked, the next request and what becomes of it: the
// status line and the bar never keep telling of the file before.
TEST_F(DeviceLinkTest, TheDownloadDialogSaysWhatBecameOfTheLastRequest)
{
    const QByteArray good =
        device::uploadResponse(device::kDataMmv, device::recordedFileHeader(QStringLiteral("A"), 0, 1), QByteArray(1000, 'm'));
    QByteArray longer = good + QByteArray(500, '\0');  // declares 500 bytes more than it accounts for
    device::putU32(longer, device::kLengthOffset, std::uint32_t(longer.size()));
    QByteArray shorter = good.left(good.size() - 500);  // declares 500 fewer: the file is cut
    device::putU32(shorter, device::kLengthOffset, std::uint32_t(shorter.size()));
    auto* bar = download().findChild<QProgressBar*>("progressBarDownload");
    auto status = [&] { return label(download(), "lbUploadStatus"); };
    download().show();

    const struct {
        const char* what;
        std::function<void()> after;
        QString status;  // what it starts with
        bool barAtZero;
        int errorBoxes;
    } cases[] = {
        {"no answer yet", [] {}, QStringLiteral("Waiting Upload Response.."), true, 0},
        {"Disconnect in the middle", [&] { receive(good.left(300)); click(console(), "bDisconnect"); },
         QStringLiteral("Download not finished: the connection was lost (Not Connected)."), true, 0},
        {"the link dropped before the answer",
         [&] {
             fake.connected = false;
             fake.handlers.disconnected(1006, QStringLiteral("gone"));
         },
         QStringLiteral("Download not finished: the connection was lost (Not Connected (1006: gone))."), true, 0},
        {"declares 500 bytes more", [&] { receive(longer); },
         QStringLiteral(" UploadResponce Size has to be %1 byte. but this Size = %2byte.").arg(longer.size()).arg(good.size()),
         false, 0},
        {"declares 500 bytes fewer", [&] { receive(shorter); }, QStringLiteral("Download failed: "), true, 1},
        {"the recorder answers with an error", [&] { receive(device::errorMessage(9, QStringLiteral("no recording"))); },
         QStringLiteral("The recorder answered with an error: no recording (code 9)"), true, 0},
    };
    for (const auto& c : cases) {
        if (!link().isConnected()) click(console(), "bConnect");
        click(download(), "btnUploadRequest");
        receive(good);
        ASSERT_EQ(status(), QStringLiteral("MMV File: A is saved.")) << c.what;
        EXPECT_EQ(bar->value(), bar->maximum()) << c.what;
        dialogs.clear();

        click(download(), "btnUploadRequest");
        for (const char* size : {"lbUploadtSize", "lbCompareUploadSize", "lbCompareUploadFileSize"})
            EXPECT_EQ(label(download(), size), QStringLiteral("0")) << c.what << ": " << size << " of the file before";
        c.after();
        EXPECT_TRUE(status().startsWith(c.status)) << c.what << ": " << status().toStdString();
        if (c.barAtZero) {
            EXPECT_EQ(bar->value(), 0) << c.what;
        }
        EXPECT_EQ(dialogs.errors().size(), c.errorBoxes) << c.what;
    }

    click(console(), "bDisconnect");
    const qsizetype sent = qsizetype(fake.sent.size());
    click(download(), "btnUploadRequest");
    EXPECT_EQ(status(), QStringLiteral("Not connected: nothing was requested."));
    EXPECT_EQ(qsizetype(fake.sent.size()), sent);
}

// The console's requests need the connection; what it showed of a recorder
// goes with the connection; the URL typed stays for the program's life.
TEST_F(DeviceLinkTest, TheConsoleFollowsTheConnection)
{
    const char* const requests[] = {"btnSessionRequest", "btnDownRequestSetting", "Button1", "Button11"};
    auto enabled = [&](const char* name) { return console().findChild<QPushButton*>(QLatin1String(name))->isEnabled(); };
    auto* url = console().findChild<QLineEdit*>("txtServer");
    url->setText(QStringLiteral("ws://10.0.0.7:5000"));

    for (int round = 0; round < 2; ++round) {
        for (const char* name : requests) EXPECT_FALSE(enabled(name)) << name << " before connecting, round " << round;
        EXPECT_TRUE(enabled("bConnect"));
        click(console(), "bConnect");
        EXPECT_EQ(label(console(), "lblStatus"), QStringLiteral("Connected to ws://10.0.0.7:5000"));
        for (const char* name : requests) EXPECT_TRUE(enabled(name)) << name;
        receive(device::sessionAccepted(QStringLiteral("main_ap.bin"), QStringLiteral("mcu.bin"), QStringLiteral("BR-7")));
        EXPECT_EQ(label(console(), "lbDeviceId"), QStringLiteral("BR-7"));

        click(console(), "bDisconnect");
        for (const char* name : {"lbMainApFileName", "lbMCUFileName", "lbDeviceId"})
            EXPECT_EQ(label(console(), name), QStringLiteral("None")) << name;
        EXPECT_TRUE(link().sessionRecord().third.isEmpty());
        // Closed and opened again from the menu: the URL is the one typed.
        console().close();
        window->findChild<QAction*>("actionConnectionConsole")->trigger();
        EXPECT_EQ(url->text(), QStringLiteral("ws://10.0.0.7:5000"));
    }
    fake.refuse = QStringLiteral("151: Could not connect.");
    click(console(), "bConnect");
    EXPECT_EQ(url->text(), QStringLiteral("ws://10.0.0.7:5000"));
    for (const char* name : requests) EXPECT_FALSE(enabled(name)) << name << " after a failed connect";
}

// A recorder that floods the tool with messages: both logs keep the last lines
// under one that counts the rest, and take them in batches, not line by line.
TEST_F(DeviceLinkTest, AFloodOfMessagesLeavesTheLogsBounded)
{
    click(console(), "bConnect");
    auto* memo1 = window->findChild<QPlainTextEdit*>("Memo1");
    const int blocksBefore = memo1->blockCount();
    const int flood = BoundedLog::kDefaultLimit * 5 / 2;
    const QByteArray message = device::commandComplete();
    for (int i = 0; i < flood; ++i) fake.handlers.dataIn(message);
    EXPECT_EQ(memo1->blockCount(), blocksBefore) << "nothing shown line by line";

    for (const auto& [w, name] : {std::pair<QWidget*, const char*>{window, "Memo1"}, {&console(), "txtReceived"}}) {
        const QStringList lines = memo(*w, name);
        ASSERT_EQ(lines.size(), BoundedLog::kDefaultLimit + 1) << name;
        EXPECT_EQ(lines.first(), BoundedLog::droppedLine(flood - BoundedLog::kDefaultLimit)) << name;
        EXPECT_EQ(lines.last(), QStringLiteral("Command Complete")) << name;
        EXPECT_LE(w->findChild<QPlainTextEdit*>(QLatin1String(name))->blockCount(), BoundedLog::kDefaultLimit + 1);
    }
    // Lines already shown make room the same way.
    for (int i = 0; i < 10; ++i) receive(device::errorMessage(7, QStringLiteral("busy")));
    const QStringList lines = memo(*window, "Memo1");
    EXPECT_EQ(lines.size(), BoundedLog::kDefaultLimit + 1);
    EXPECT_EQ(lines.first(), BoundedLog::droppedLine(flood - BoundedLog::kDefaultLimit + 20));
    EXPECT_EQ(lines.last(), QStringLiteral("busy"));
}

namespace {
// An error box that stays open while more data comes in, as the real one does
// with its own event loop.
class OpenErrorBox final : public toolkit::UserInteraction {
public:
    std::function<void()> whileOpen;
    QStringList shown;
    void error(QWidget*, const QString& text, const QString&) override
    {
        shown << text;
        if (whileOpen) std::exchange(whileOpen, nullptr)();
    }
    void information(QWidget*, const QString&, const QString&) override {}
    bool confirm(QWidget*, const QString&, const QString&) override { return false; }
    void notice(QWidget*, const QString&, const QString&, const QString&) override {}
    int choose(QWidget*, const QString&, const QString&, const QStringList&) override { return -1; }
    std::optional<QStringList> openFiles(const toolkit::FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> saveFile(const toolkit::FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> chooseFolder(QWidget*, const QString&, const QString&) override { return std::nullopt; }
};
}  // namespace

// Bad messages in a row open one box, not one each, and never from inside the
// data event: what comes after is read meanwhile.
TEST_F(DeviceLinkTest, ManyBadMessagesOpenOneErrorBox)
{
    click(console(), "bConnect");
    const struct {
        const char* what;
        QByteArray bad;
        const char* error;
    } cases[] = {
        {"a session record of 15 bytes", device::frame(device::kSessionAccepted, 15), "Range check error"},
        {"an image that does not decode", device::fileMessage(device::kFileKindImage, "not a jpeg"), "The camera image cannot be decoded"},
    };
    for (const auto& c : cases) {
        dialogs.clear();
        for (int i = 0; i < 2000; ++i) fake.handlers.dataIn(c.bad);
        fake.handlers.dataIn(device::commandComplete());
        EXPECT_TRUE(dialogs.errors().isEmpty()) << c.what << ": no box inside the data event";
        EXPECT_EQ(memo(*window, "Memo1").last(), QStringLiteral("Command Complete")) << c.what;
        QCoreApplication::processEvents();
        ASSERT_EQ(dialogs.errors().size(), 1) << c.what;
        EXPECT_TRUE(dialogs.errors()[0].startsWith(QLatin1String(c.error))) << dialogs.errors()[0].toStdString();
        EXPECT_TRUE(dialogs.errors()[0].contains(QStringLiteral("1999 more errors"))) << c.what;
    }

    // Errors while the box is open are counted into the console, and the next
    // error after it closed has a box of its own.
    OpenErrorBox box;
    box.whileOpen = [&] {
        for (int i = 0; i < 3; ++i) fake.handlers.dataIn(cases[0].bad);
        fake.handlers.dataIn(device::commandComplete());
    };
    toolkit::setUserInteraction(&box);
    receive(cases[0].bad);
    EXPECT_EQ(box.shown.size(), 1);
    EXPECT_EQ(memo(console(), "txtReceived").last(), QStringLiteral("3 more errors while the error box was open."));
    receive(cases[1].bad);
    EXPECT_EQ(box.shown.size(), 2);
    toolkit::setUserInteraction(&dialogs);
}

// Names and texts from the recorder reach files, lines and labels with their
// control characters replaced.
TEST_F(DeviceLinkTest, ControlCharactersFromTheRecorderAreReplaced)
{
    click(console(), "bConnect");
    const QString name = QStringLiteral("A\nB\tC\u202Etxt");
    receive(device::uploadResponse(device::kDataMmv, device::recordedFileHeader(name, 0, 1), QByteArray(10, 'm')));
    const QString saved = path(QStringLiteral("data/MMV/A_B_C_txt_2025-03-07_142530.MMV"));
    EXPECT_TRUE(QFile::exists(saved));
    EXPECT_EQ(memo(download(), "memoUpload"),
              (QStringList{QStringLiteral("UploadResponce MMV.. Size = 10"), QDir::toNativeSeparators(saved)}));
    EXPECT_EQ(label(download(), "lbUploadStatus"), QStringLiteral("MMV File: A\uFFFDB\uFFFDC\uFFFDtxt is saved."));

    receive(device::errorMessage(7, QStringLiteral("busy\r\nSession Accepted")));
    EXPECT_EQ(memo(*window, "Memo1").last(), QStringLiteral("busy\uFFFD\uFFFDSession Accepted"));
    receive(device::sessionAccepted(QStringLiteral("main\n.bin"), QStringLiteral("mcu"), QStringLiteral("BR\x1b[2J-1")));
    EXPECT_EQ(label(console(), "lbMainApFileName"), QStringLiteral("main\uFFFD.bin"));
    EXPECT_EQ(label(console(), "lbDeviceId"), QStringLiteral("BR\uFFFD[2J-1"));
    fake.connected = false;
    fake.handlers.disconnected(1001, QStringLiteral("bye\nnow"));
    EXPECT_EQ(label(console(), "lblStatus"), QStringLiteral("Not Connected (1001: bye\uFFFDnow)"));
    EXPECT_EQ(memo(console(), "memoMessage").last(), QStringLiteral("Not Connected (1001: bye\uFFFDnow)"));
}

// On Linux the data folders are made in the working folder, beside
// setting.ini; the console names it and the DRV viewer opens there.
TEST_F(DeviceLinkTest, DownloadsLandInTheWorkingFolder)
{
    link().setDataFolderBase(QString());
    click(console(), "bConnect");
    const QString here = QDir::currentPath();
    EXPECT_EQ(memo(console(), "memoMessage").last(),
              QStringLiteral("Downloads are saved in the folders DRV, MMV and SystemLog in %1.").arg(QDir::toNativeSeparators(here)));
    receive(device::uploadResponse(device::kDataDrv, device::recordedFileHeader(QStringLiteral("A"), 0, 1), QByteArray(10, 'd')));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("DRV/A__2025-03-07 142530.drv"))));
    EXPECT_EQ(device::dataFolder(QStringLiteral("MMV")), QDir(here).filePath(QStringLiteral("MMV")));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("MMV"))).isDir());

    app->drvViewer->btnDrvFileOpenClick();
    EXPECT_EQ(dialogs.requestsOf(toolkit::ScriptedUserInteraction::Kind::OpenFiles).last().file.directory,
              QDir(here).filePath(QStringLiteral("DRV")));
}
