// The recorder's messages on bytes: the requests byte for byte, the
// reassembly at every split, and the dispatch by code.
#include "device/dispatch.h"
#include "device/reassembly.h"
#include "device/upload_response.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <stdexcept>
#include <utility>
#include <vector>

using namespace device;

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

// Records everything the reassembly and the dispatch report, in order. Upload
// responses arrive in pieces; they are put back together here to be compared.
class Recorder final : public ReassemblyObserver, public MessageHandler {
public:
    void progressMaximum(std::uint32_t m) override { maxima.push_back(m); }
    void progressPosition(std::uint32_t p) override { positions.push_back(p); }
    void sizeLine(const QString& line) override { memoUpload << line; }
    void messageComplete(const QByteArray& message) override
    {
        messages.push_back(message);
        EXPECT_EQ(reassembly->gReceiveState(), ReceiveState::Idle);
        dispatchMessage(message, *this);
    }
    std::uint32_t streamedHead(std::uint8_t code, std::uint32_t declared) override { return streamedHeadSize(code, declared); }
    void streamStarted(const QByteArray& head) override { dispatchStreamHead(head, *this); }
    void streamData(const QByteArray& bytes, qsizetype offset, qsizetype size) override
    {
        uploadResponseData(bytes, offset, size);
    }
    void streamComplete() override
    {
        EXPECT_EQ(reassembly->gReceiveState(), ReceiveState::Idle);
        uploadResponseComplete();
    }
    void streamDropped() override { uploadResponseLost(); }

    void logLine(const QString& line) override { memo1 << line; }
    void sessionAccepted(const SessionRecord& r) override { sessions.push_back(r); }
    void fileMessage(const QByteArray& m) override { files.push_back(m); }
    void uploadResponseHead(const QByteArray& head) override
    {
        EXPECT_TRUE(upload.isNull());
        (void)readUploadResponseHead(head);
        if (failAtHead) throw std::runtime_error("the file cannot be created");
        upload = head;
    }
    void uploadResponseData(const QByteArray& bytes, qsizetype offset, qsizetype size) override
    {
        EXPECT_FALSE(upload.isNull());
        upload.append(bytes.constData() + offset, size);
    }
    void uploadResponseComplete() override { uploads.push_back(std::exchange(upload, QByteArray())); }
    void uploadResponseLost() override
    {
        EXPECT_FALSE(upload.isNull());
        upload = QByteArray();
        ++lost;
    }

    Reassembly* reassembly = nullptr;
    bool failAtHead = false;
    std::vector<std::uint32_t> maxima, positions;
    QStringList memoUpload, memo1;
    std::vector<QByteArray> messages, uploads, files;
    QByteArray upload;  // the one being received
    int lost = 0;
    std::vector<SessionRecord> sessions;
};

// The data events a test sends: bytes, and where they stand in their WebSocket message.
enum class Part { Unknown, Middle, Last };

class ReassemblyTest : public ::testing::Test {
protected:
    void feed(const QByteArray& bytes, Part part = Part::Unknown, int format = kBinaryFormat)
    {
        if (part == Part::Unknown)
            reassembly.feed(bytes);
        else
            reassembly.feed(DataEvent(bytes, part == Part::Last, format));
    }
    void expectIdleAndClean() const
    {
        EXPECT_EQ(reassembly.gReceiveState(), ReceiveState::Idle);
        EXPECT_EQ(reassembly.gMessageSize(), 0u);
        EXPECT_EQ(reassembly.gReceiveLength(), 0u);
        EXPECT_TRUE(reassembly.gReceiveBuffer().isEmpty());
        EXPECT_TRUE(reassembly.pendingHeader().isEmpty());
    }
    Recorder sink;
    Reassembly reassembly{sink};
    void SetUp() override { sink.reassembly = &reassembly; }
};

QByteArray messageOfSize(std::uint8_t code, int total)
{
    QByteArray m = frame(code, total);
    for (int i = device::kHeaderSize; i < total - 4; ++i) m[i] = char(i * 7);
    return m;
}

}  // namespace

TEST(DeviceRequests, AreTheDocumentedBytes)
{
    EXPECT_EQ(cameraImageRequest(), hex("01 00 50 4D 03 0F 00 00 00 00 01 02 00 50 4D"));
    EXPECT_EQ(gSensorInitRequest(), hex("01 00 50 4D 07 0E 00 00 00 00 02 00 50 4D"));
    EXPECT_EQ(acknowledgement(), hex("01 00 50 4D 00 0E 00 00 00 01 02 00 50 4D"));
    EXPECT_EQ(uploadRequest(kDataMmv, 0x11223344, 951868800),
              hex("01 00 50 4D 0B 21 00 00 00 00"
                  "02 00 00 00 01 44 33 22 11 00 00 00 80 5D BC 38 00 00 00"
                  "02 00 50 4D"));
    // Counts before 1970 go out as their u32 pattern, as entered.
    EXPECT_EQ(readUploadRequest(uploadRequest(kDataDrv, -1, 0)).from, 0xFFFFFFFFu);
    EXPECT_EQ(settingsRequest(), hex("01 00 50 4D 05 0E 00 00 00 00 02 00 50 4D"));
}

TEST(DeviceRequests, OurOwnMessagesCarryTheirFieldsAndFitTheirLength)
{
    const QByteArray session = sessionRequest(QStringLiteral("installer"), QStringLiteral("1234"));
    ASSERT_EQ(session.size(), 14 + 64 + 20);
    EXPECT_EQ(declaredLength(session), std::uint32_t(session.size()));
    EXPECT_EQ(session.mid(10, 10), QByteArray("installer\0", 10));
    EXPECT_EQ(readSessionRequest(session).password, QStringLiteral("1234"));
    // A password longer than its field is cut so that it still ends with a zero byte.
    const QByteArray longOne = sessionRequest(QString(100, QLatin1Char('i')), QString(40, QLatin1Char('9')));
    EXPECT_EQ(readSessionRequest(longOne).id.size(), 63);
    EXPECT_EQ(readSessionRequest(longOne).password.size(), 19);

    const QByteArray upload = settingsUpload("[DEVICE]\r\nX=1\r\n");
    EXPECT_EQ(upload[4], char(kSettingsUpload));
    EXPECT_EQ(declaredLength(upload), std::uint32_t(34 + 15));
    const FileRecord f = readFileRecord(upload);
    EXPECT_EQ(f.kind, kFileKindSettings);
    EXPECT_EQ(f.data, QByteArray("[DEVICE]\r\nX=1\r\n"));
    EXPECT_EQ(upload.right(4), hex("02 00 50 4D"));
}

TEST_F(ReassemblyTest, AWholeMessageIsDispatchedAndLeavesEverythingAtZero)
{
    for (Part part : {Part::Unknown, Part::Last}) {
        sink.memo1.clear();
        sink.maxima.clear();
        feed(messageOfSize(kCommandComplete, 15), part);
        EXPECT_EQ(sink.memo1, QStringList{QStringLiteral("Command Complete")});
        EXPECT_TRUE(sink.memoUpload.isEmpty());
        EXPECT_EQ(sink.maxima, std::vector<std::uint32_t>{15});
        expectIdleAndClean();
    }
}

// How the two parts of a split message arrive.
struct TwoParts {
    const char* what;
    Part first, second;
};
constexpr TwoParts kSplits[] = {
    {"places unknown", Part::Unknown, Part::Unknown},
    {"one WebSocket message in two pieces", Part::Middle, Part::Last},
    {"two WebSocket messages", Part::Last, Part::Last},
};

TEST_F(ReassemblyTest, EverySplitPointGivesOneDispatchAfterTheLastFragment)
{
    const QByteArray message = messageOfSize(kCommandComplete, 100);
    for (const TwoParts& how : kSplits) {
        SCOPED_TRACE(how.what);
        for (int cut = 10; cut < message.size(); ++cut) {
            sink.messages.clear();
            sink.memoUpload.clear();
            feed(message.left(cut), how.first);
            EXPECT_EQ(reassembly.gReceiveState(), ReceiveState::Collecting);
            EXPECT_TRUE(sink.messages.empty());
            feed(message.mid(cut), how.second);
            ASSERT_EQ(sink.messages.size(), 1u) << cut;
            EXPECT_EQ(sink.messages[0], message);
            EXPECT_EQ(sink.memoUpload,
                      QStringList{QStringLiteral("Meassage Size = 100 Package Size = %1 gReceiveLength = 100").arg(100 - cut)});
            expectIdleAndClean();
        }
    }
    // The 60 + 40 case moves the progress bar to 60, 60 and 100.
    sink.positions.clear();
    feed(message.left(60));
    feed(message.mid(60));
    EXPECT_EQ(sink.positions, (std::vector<std::uint32_t>{60, 60, 100}));
}

// An upload response is never held whole: its head is gathered, the rest goes
// on as it comes, and the handler sees exactly the message's bytes once.
TEST_F(ReassemblyTest, AnUploadResponseIsHandedOnAsItArrivesAtEverySplit)
{
    const QByteArray message = uploadResponse(kDataMmv, recordedFileHeader(QStringLiteral("A"), 0, 1), QByteArray(300, 'v'));
    for (const TwoParts& how : kSplits) {
        SCOPED_TRACE(how.what);
        for (int cut = 10; cut < message.size(); ++cut) {
            sink.uploads.clear();
            sink.memo1.clear();
            sink.memoUpload.clear();
            feed(message.left(cut), how.first);
            EXPECT_TRUE(sink.uploads.empty());
            EXPECT_EQ(reassembly.handingOn(), cut >= kUploadDataOffset) << cut;
            EXPECT_EQ(reassembly.gReceiveBuffer().size(), cut < kUploadDataOffset ? cut : 0) << cut;
            feed(message.mid(cut), how.second);
            ASSERT_EQ(sink.uploads.size(), 1u) << cut;
            EXPECT_EQ(sink.uploads[0], message) << cut;
            EXPECT_EQ(sink.memo1, QStringList{QStringLiteral("Upload Responce")});
            EXPECT_EQ(sink.memoUpload,
                      QStringList{QStringLiteral("Meassage Size = 376 Package Size = %1 gReceiveLength = 376").arg(376 - cut)});
            expectIdleAndClean();
        }
    }
    EXPECT_TRUE(sink.messages.empty());

    // Whole in one event, and one byte at a time, within one WebSocket message.
    sink.uploads.clear();
    feed(message, Part::Last);
    for (int i = 0; i < message.size(); ++i) feed(message.mid(i, 1), i + 1 < message.size() ? Part::Middle : Part::Last);
    EXPECT_EQ(sink.uploads, (std::vector<QByteArray>{message, message}));
    EXPECT_EQ(sink.lost, 0);
}

TEST_F(ReassemblyTest, AMessageInSingleBytesHeaderIncluded)
{
    const QByteArray message = sessionAccepted(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"));
    for (bool oneWebSocketMessage : {false, true}) {
        for (int i = 0; i < message.size(); ++i)
            feed(message.mid(i, 1), !oneWebSocketMessage ? Part::Unknown : i + 1 < message.size() ? Part::Middle : Part::Last);
        ASSERT_EQ(sink.sessions.size(), 1u);
        EXPECT_EQ(sink.sessions[0].third, QStringLiteral("c"));
        EXPECT_EQ(sink.memo1, QStringList{QStringLiteral("Session Accepted")});
        sink.sessions.clear();
        sink.memo1.clear();
    }
}

// A header split inside one WebSocket message is joined; one whose WebSocket
// message ends first is dropped, since the rest is not its continuation.
TEST_F(ReassemblyTest, AHeaderSplitAtEveryByte)
{
    const QByteArray message = commandComplete();
    for (const TwoParts& how : kSplits) {
        SCOPED_TRACE(how.what);
        const bool joined = how.first != Part::Last;
        for (int cut = 1; cut < kHeaderSize; ++cut) {
            sink.memo1.clear();
            feed(message.left(cut), how.first);
            EXPECT_EQ(reassembly.pendingHeader().size(), joined ? cut : 0);
            feed(message.mid(cut), how.second);
            EXPECT_EQ(sink.memo1, joined ? QStringList{QStringLiteral("Command Complete")} : QStringList()) << cut;
            if (joined) expectIdleAndClean();
            reassembly.reset();
        }
    }
}

// Whatever else arrives on the link (a keep-alive, a text message, bytes after
// a message in its WebSocket message, the rest of an overrun) is dropped with
// its WebSocket message and leaves the next message intact.
TEST_F(ReassemblyTest, AStrayMessageNeverShiftsTheNextOne)
{
    QByteArray text("status: recording 40 minutes");
    putU32(text, 5, 40);  // would read as a header that declares 40 bytes
    const QByteArray fileMsg = messageOfSize(kFileTransfer, 40);
    struct Event {
        QByteArray bytes;
        Part part;
        int format = kBinaryFormat;
    };
    struct Case {
        const char* what;
        std::vector<Event> before;
        QStringList lines;  // of the stray part
    };
    const std::vector<Case> cases = {
        {"a keep-alive shorter than a header", {{"ping", Part::Last}}, {}},
        {"a header cut short by the end of its message", {{commandComplete().left(9), Part::Last}}, {}},
        {"a text message", {{text, Part::Last, kTextFormat}}, {}},
        {"a text message in pieces", {{text.left(12), Part::Middle, kTextFormat}, {text.mid(12), Part::Last, kTextFormat}}, {}},
        {"bytes after a message in the same WebSocket message",
         {{commandComplete(), Part::Middle}, {"tail", Part::Last}},
         {QStringLiteral("Command Complete")}},
        {"a second message in the same WebSocket message",
         {{commandComplete(), Part::Middle}, {commandComplete(), Part::Last}},
         {QStringLiteral("Command Complete")}},
        {"the rest of a WebSocket message after an overrun",
         {{fileMsg.left(30), Part::Middle}, {fileMsg.mid(30) + "extra", Part::Middle}, {commandComplete(), Part::Last}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sink.memo1.clear();
        for (const Event& e : c.before) feed(e.bytes, e.part, e.format);
        feed(errorMessage(7, QStringLiteral("busy")), Part::Last);
        EXPECT_EQ(sink.memo1, c.lines + QStringList({QStringLiteral("Error Code = 7"), QStringLiteral("busy")}));
        expectIdleAndClean();
        EXPECT_FALSE(reassembly.droppingRest());
    }
    EXPECT_TRUE(sink.files.empty());
}

TEST_F(ReassemblyTest, TwoMessagesBackToBackEachInPieces)
{
    const QByteArray a = errorMessage(7, QStringLiteral("busy"));
    const QByteArray b = commandComplete();
    feed(a.left(50));
    feed(a.mid(50));
    feed(b);
    EXPECT_EQ(sink.memo1, (QStringList{QStringLiteral("Error Code = 7"), QStringLiteral("busy"),
                                       QStringLiteral("Command Complete")}));
}

TEST_F(ReassemblyTest, DropsLeaveTheStateIdleAndClean)
{
    QByteArray tooLong = messageOfSize(kCommandComplete, 20);
    putU32(tooLong, 5, 15);  // a first fragment longer than it declares
    feed(tooLong);
    expectIdleAndClean();

    const QByteArray nine("\x01\x00PM\x00\x0E\x00\x00", 9);
    feed(nine);  // shorter than a header: waits for the rest
    EXPECT_EQ(reassembly.pendingHeader().size(), 9);
    reassembly.reset();
    expectIdleAndClean();
    feed(nine, Part::Last);  // its WebSocket message is over: dropped
    expectIdleAndClean();

    QByteArray huge = messageOfSize(kCommandComplete, 14);
    putU32(huge, 5, kMaxDeclaredLength + 1);
    feed(huge);
    expectIdleAndClean();
    EXPECT_TRUE(sink.messages.empty());

    // An overrun drops what was collected and the fragment; no line is written.
    // A handed-on message is reported lost.
    const QByteArray upload = uploadResponse(kDataDrv, recordedFileHeader(QStringLiteral("A"), 0, 1), QByteArray(50, 'u'));
    for (const QByteArray& m : {messageOfSize(kFileTransfer, 40), upload}) {
        feed(m.left(m.size() - 10));
        feed(m.right(10) + "extra");
        expectIdleAndClean();
    }
    EXPECT_TRUE(sink.memoUpload.isEmpty());
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_TRUE(sink.uploads.empty());
    EXPECT_EQ(sink.lost, 1);

    // The next message starts clean.
    feed(commandComplete());
    EXPECT_EQ(sink.memo1, (QStringList{QStringLiteral("Upload Responce"), QStringLiteral("Command Complete")}));
}

TEST_F(ReassemblyTest, TheLimitItselfStartsCollecting)
{
    QByteArray first = messageOfSize(kFileTransfer, 14);
    putU32(first, 5, kMaxDeclaredLength);
    feed(first);
    EXPECT_EQ(reassembly.gReceiveState(), ReceiveState::Collecting);
    EXPECT_EQ(reassembly.gMessageSize(), kMaxDeclaredLength);
    reassembly.reset();
    expectIdleAndClean();
}

TEST_F(ReassemblyTest, ResetDropsAMessageCutOffByADisconnect)
{
    const QByteArray upload = uploadResponse(kDataMmv, recordedFileHeader(QStringLiteral("A"), 0, 1), QByteArray(200, 'm'));
    for (const QByteArray& m : {messageOfSize(kFileTransfer, 200), upload}) {
        sink.memo1.clear();
        feed(m.left(120), Part::Middle);
        reassembly.reset();
        expectIdleAndClean();
        // Without the reset this whole message would be glued to the cut one
        // and lost; the new connection starts at the start of a WebSocket message.
        feed(commandComplete(), Part::Last);
        EXPECT_EQ(sink.memo1.last(), QStringLiteral("Command Complete"));
    }
    EXPECT_EQ(sink.lost, 1);
    EXPECT_TRUE(sink.files.empty());
    EXPECT_TRUE(sink.uploads.empty());
}

// A handler that fails at the head (a file that cannot be created, a file
// longer than the message declares) hears nothing more of that message, whose
// rest is dropped; the next message is read as usual.
TEST_F(ReassemblyTest, AHandlerThatFailsAtTheHeadDropsTheRestOfItsMessage)
{
    const QByteArray good = uploadResponse(kDataMmv, recordedFileHeader(QStringLiteral("A"), 0, 1), QByteArray(200, 'm'));
    QByteArray short_ = good;
    putU32(short_, 5, 200);  // declares less than the file needs
    short_.truncate(200);
    struct Case {
        const char* what;
        QByteArray message;
        bool failAtHead;
    };
    for (const Case& c : {Case{"the handler fails", good, true}, Case{"the file is longer than the message", short_, false}}) {
        SCOPED_TRACE(c.what);
        sink.failAtHead = c.failAtHead;
        sink.memo1.clear();
        EXPECT_ANY_THROW(feed(c.message.left(100), Part::Middle));
        EXPECT_EQ(reassembly.gReceiveState(), ReceiveState::Collecting);
        EXPECT_FALSE(reassembly.handingOn());
        feed(c.message.mid(100), Part::Last);
        expectIdleAndClean();
        EXPECT_TRUE(sink.uploads.empty());
        EXPECT_TRUE(sink.upload.isNull());
        feed(commandComplete(), Part::Last);
        EXPECT_EQ(sink.memo1, (QStringList{QStringLiteral("Upload Responce"), QStringLiteral("Command Complete")}));
    }
    // Failing on a message that came whole leaves the state clean too.
    sink.failAtHead = true;
    EXPECT_ANY_THROW(feed(good, Part::Last));
    expectIdleAndClean();
    EXPECT_EQ(sink.lost, 0);
}

TEST_F(ReassemblyTest, CodesOutsideTheTableAreDroppedAndFileAndUploadGoToTheirHandlers)
{
    feed(messageOfSize(99, 20));
    feed(messageOfSize(kCameraImageRequest, 15));
    EXPECT_TRUE(sink.memo1.isEmpty());
    feed(fileMessage(kFileKindImage, "jpeg"));
    const QByteArray upload = uploadResponse(kDataDrv, recordedFileHeader(QStringLiteral("A"), 0, 1), "data");
    feed(upload);
    EXPECT_EQ(sink.files.size(), 1u);
    EXPECT_EQ(sink.uploads, std::vector<QByteArray>{upload});
    EXPECT_EQ(sink.memo1, QStringList{QStringLiteral("Upload Responce")});
}

TEST(DeviceDispatch, MessagesShorterThanTheirCodeReadsRaiseARangeError)
{
    Recorder sink;
    EXPECT_THROW(dispatchMessage(messageOfSize(kError, 81), sink), MessageRangeError);
    EXPECT_TRUE(sink.memo1.isEmpty());
    EXPECT_THROW(dispatchMessage(messageOfSize(kSessionAccepted, 157), sink), MessageRangeError);
    EXPECT_TRUE(sink.sessions.empty());
    // A file message that promises more data than it holds, or ends inside its record.
    QByteArray file = fileMessage(kFileKindImage, "abc");
    putU32(file, 11, 100);
    EXPECT_THROW(readFileRecord(file), MessageRangeError);
    EXPECT_THROW(readFileRecord(file.left(12)), MessageRangeError);
    // Too short to hold a code: nothing to route.
    EXPECT_NO_THROW(dispatchMessage(QByteArray("\x01\x00", 2), sink));
    // An upload response too short for its head comes whole, and raises.
    EXPECT_THROW(dispatchMessage(messageOfSize(kUploadResponse, kUploadDataOffset - 1), sink), MessageRangeError);
    EXPECT_TRUE(sink.uploads.empty());
    EXPECT_EQ(streamedHeadSize(kUploadResponse, kUploadDataOffset - 1), 0u);
    EXPECT_EQ(streamedHeadSize(kUploadResponse, kUploadDataOffset), std::uint32_t(kUploadDataOffset));
    EXPECT_EQ(streamedHeadSize(kFileTransfer, kMaxDeclaredLength), 0u);
}

TEST(DeviceDispatch, FileKindOneIsAnImageAndEveryOtherKindTheSettingsFile)
{
    for (std::uint8_t kind : {0, 1, 2, 255}) {
        const FileRecord f = readFileRecord(fileMessage(kind, "xyz"));
        EXPECT_EQ(f.kind, kind);
        EXPECT_EQ(f.data, QByteArray("xyz"));
    }
}

TEST(DeviceDispatch, TextsStopAtTheirZeroByteOrTheirFieldEnd)
{
    QByteArray m = errorMessage(1, QString());
    for (int i = 14; i < 82; ++i) m[i] = 'x';  // no zero byte in the field
    EXPECT_EQ(readErrorRecord(m).text, QString(68, QLatin1Char('x')));
}
