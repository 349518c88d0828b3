// The recorder's messages on bytes: the requests byte for byte, the
// reassembly at every split, and the dispatch by code.
#include "device/dispatch.h"
#include "device/reassembly.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <vector>

using namespace device;

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

// Records everything the reassembly and the dispatch report, in order.
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
    void logLine(const QString& line) override { memo1 << line; }
    void sessionAccepted(const SessionRecord& r) override { sessions.push_back(r); }
    void uploadResponse(const QByteArray& m) override { uploads.push_back(m); }
    void fileMessage(const QByteArray& m) override { files.push_back(m); }

    Reassembly* reassembly = nullptr;
    std::vector<std::uint32_t> maxima, positions;
    QStringList memoUpload, memo1;
    std::vector<QByteArray> messages, uploads, files;
    std::vector<SessionRecord> sessions;
};

class ReassemblyTest : public ::testing::Test {
protected:
    void feed(const QByteArray& bytes) { reassembly.feed(bytes); }
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
    feed(messageOfSize(kCommandComplete, 15));
    EXPECT_EQ(sink.memo1, QStringList{QStringLiteral("Command Complete")});
    EXPECT_TRUE(sink.memoUpload.isEmpty());
    EXPECT_EQ(sink.maxima, std::vector<std::uint32_t>{15});
    expectIdleAndClean();
}

TEST_F(ReassemblyTest, EverySplitPointGivesOneDispatchAfterTheLastFragment)
{
    const QByteArray message = messageOfSize(kUploadResponse, 100);
    for (int cut = 10; cut < message.size(); ++cut) {
        sink.messages.clear();
        sink.memoUpload.clear();
        feed(message.left(cut));
        EXPECT_EQ(reassembly.gReceiveState(), ReceiveState::Collecting);
        EXPECT_TRUE(sink.messages.empty());
        feed(message.mid(cut));
        ASSERT_EQ(sink.messages.size(), 1u) << cut;
        EXPECT_EQ(sink.messages[0], message);
        EXPECT_EQ(sink.memoUpload,
                  QStringList{QStringLiteral("Meassage Size = 100 Package Size = %1 gReceiveLength = 100").arg(100 - cut)});
        expectIdleAndClean();
    }
    // The 60 + 40 case moves the progress bar to 60, 60 and 100.
    sink.positions.clear();
    feed(message.left(60));
    feed(message.mid(60));
    EXPECT_EQ(sink.positions, (std::vector<std::uint32_t>{60, 60, 100}));
}

TEST_F(ReassemblyTest, AMessageInSingleBytesHeaderIncluded)
{
    const QByteArray message = sessionAccepted(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"));
    for (int i = 0; i < message.size(); ++i) feed(message.mid(i, 1));
    ASSERT_EQ(sink.sessions.size(), 1u);
    EXPECT_EQ(sink.sessions[0].third, QStringLiteral("c"));
    EXPECT_EQ(sink.memo1, QStringList{QStringLiteral("Session Accepted")});
}

TEST_F(ReassemblyTest, AHeaderSplitAtEveryByteStillGivesTheMessage)
{
    const QByteArray message = commandComplete();
    for (int cut = 1; cut < message.size(); ++cut) {
        sink.memo1.clear();
        feed(message.left(cut));
        feed(message.mid(cut));
        EXPECT_EQ(sink.memo1, QStringList{QStringLiteral("Command Complete")}) << cut;
        expectIdleAndClean();
    }
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

    feed(QByteArray("\x01\x00PM\x00\x0E\x00\x00", 9));  // shorter than a header: waits for the rest
    EXPECT_EQ(reassembly.pendingHeader().size(), 9);
    reassembly.reset();
    expectIdleAndClean();

    QByteArray huge = messageOfSize(kCommandComplete, 14);
    putU32(huge, 5, kMaxDeclaredLength + 1);
    feed(huge);
    expectIdleAndClean();
    EXPECT_TRUE(sink.messages.empty());

    // An overrun drops what was collected and the fragment; no line is written.
    const QByteArray m = messageOfSize(kFileTransfer, 40);
    feed(m.left(30));
    feed(m.mid(30) + "extra");
    expectIdleAndClean();
    EXPECT_TRUE(sink.memoUpload.isEmpty());
    EXPECT_TRUE(sink.messages.empty());

    // The next message starts clean.
    feed(commandComplete());
    EXPECT_EQ(sink.memo1, QStringList{QStringLiteral("Command Complete")});
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
    const QByteArray m = messageOfSize(kUploadResponse, 200);
    feed(m.left(120));
    reassembly.reset();
    // Without the reset this whole message would be glued to the cut one and lost.
    feed(commandComplete());
    EXPECT_EQ(sink.memo1, QStringList{QStringLiteral("Command Complete")});
}

TEST_F(ReassemblyTest, CodesOutsideTheTableAreDroppedAndFileAndUploadGoToTheirHandlers)
{
    feed(messageOfSize(99, 20));
    feed(messageOfSize(kCameraImageRequest, 15));
    EXPECT_TRUE(sink.memo1.isEmpty());
    feed(fileMessage(kFileKindImage, "jpeg"));
    feed(uploadResponse(kDataDrv, recordedFileHeader(QStringLiteral("A"), 0, 1), "data"));
    EXPECT_EQ(sink.files.size(), 1u);
    EXPECT_EQ(sink.uploads.size(), 1u);
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
