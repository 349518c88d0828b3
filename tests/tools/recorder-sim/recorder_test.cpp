// What the simulated recorder answers, read back with the tool's own codec
// and DRV reader, and checked against real gzip/tar where that is the format.
#include "camera_scene.h"
#include "log_archive.h"
#include "recorder.h"

#include "device/device_message.h"
#include "device/upload_response.h"
#include "drv/drv_format.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace recsim;

namespace {

class RecorderTest : public ::testing::Test {
protected:
    std::vector<Reply> ask(const QByteArray& request) { return recorder.answer(request, peer); }
    QByteArray only(const QByteArray& request)
    {
        auto replies = ask(request);
        EXPECT_EQ(replies.size(), 1u);
        return replies.empty() ? QByteArray() : replies.front().message;
    }
    static device::ErrorRecord errorOf(const QByteArray& reply)
    {
        EXPECT_EQ(device::messageCode(reply), device::kError);
        EXPECT_EQ(device::declaredLength(reply), std::uint32_t(reply.size()));
        return device::readErrorRecord(reply);
    }

    SimOptions options;
    Recorder recorder{options};
    Peer peer;
};

TEST_F(RecorderTest, SessionWithTheRightAccountGetsTheThreeTextsAndAWrongOneAnError)
{
    const QByteArray accepted = only(device::sessionRequest("installer", "0000"));
    ASSERT_EQ(device::messageCode(accepted), device::kSessionAccepted);
    ASSERT_GE(accepted.size(), device::kSessionRecordSize);
    const auto record = device::readSessionRecord(accepted);
    EXPECT_EQ(record.first, Recorder::mainFirmwareName());
    EXPECT_EQ(record.second, Recorder::mcuFirmwareName());
    EXPECT_EQ(record.third, Recorder::deviceId());
    EXPECT_TRUE(peer.session);

    const auto refused = errorOf(only(device::sessionRequest("installer", "1234")));
    EXPECT_EQ(refused.code, kErrWrongAccount);
    EXPECT_FALSE(peer.session);
    EXPECT_EQ(recorder.counters().sessionRequests, 2);
    EXPECT_EQ(recorder.counters().sessionsAccepted, 1);
    EXPECT_EQ(recorder.counters().errorsSent, 1);
}

TEST(RecorderSessionPolicy, ServesWithoutASessionUnlessOneIsRequired)
{
    Peer peer;
    Recorder open{SimOptions{}};
    EXPECT_EQ(device::messageCode(open.answer(device::gSensorInitRequest(), peer).front().message),
              device::kCommandComplete);

    SimOptions strict;
    strict.requireSession = true;
    Recorder guarded{strict};
    const QByteArray refused = guarded.answer(device::cameraImageRequest(), peer).front().message;
    EXPECT_EQ(device::readErrorRecord(refused).code, kErrNoSession);
    guarded.answer(device::sessionRequest("installer", "0000"), peer);
    const QByteArray image = guarded.answer(device::cameraImageRequest(), peer).front().message;
    EXPECT_EQ(device::readFileRecord(image).kind, device::kFileKindImage);
    EXPECT_EQ(guarded.counters().imageRequests, 2);
}

TEST_F(RecorderTest, CameraImagesAreJpegRoadScenesWhoseHoodEdgeMoves)
{
    QImage images[2];
    for (QImage& image : images) {
        const QByteArray reply = only(device::cameraImageRequest());
        const auto file = device::readFileRecord(reply);
        EXPECT_EQ(file.kind, device::kFileKindImage);
        EXPECT_EQ(device::declaredLength(reply), std::uint32_t(reply.size()));
        ASSERT_TRUE(image.loadFromData(file.data, "JPG"));
        EXPECT_EQ(image.size(), QSize(kCameraWidth, kCameraHeight));
    }
    EXPECT_NE(images[0], images[1]);
    EXPECT_EQ(recorder.imagesSent(), 2);

    for (int frame = 0; frame < 8; ++frame) {
        const QImage scene = cameraScene(frame);
        const int x = kCameraWidth / 2 + 60;
        EXPECT_LT(qGray(scene.pixel(x, hoodEdgeRow(frame) + 2)), 50) << frame;   // bonnet
        EXPECT_GT(qGray(scene.pixel(x, hoodEdgeRow(frame) - 3)), 55) << frame;   // road
        const QRgb sky = scene.pixel(10, horizonRow() - 2), ground = scene.pixel(10, horizonRow() + 2);
        EXPECT_GT(qBlue(sky), qRed(sky));
        EXPECT_GT(qGreen(ground), qBlue(ground));
    }
    EXPECT_NE(hoodEdgeRow(0), hoodEdgeRow(1));
}

TEST_F(RecorderTest, SettingsAreItsOwnUntilOneIsUploadedThenTheUploadedOne)
{
    auto file = device::readFileRecord(only(device::settingsRequest()));
    EXPECT_EQ(file.kind, device::kFileKindSettings);
    EXPECT_TRUE(file.data.contains("[DEVICE]"));
    EXPECT_TRUE(file.data.contains("SPEEDING_LIMIT=110\r\n"));

    const QByteArray edited = QByteArray(file.data).replace("SPEEDING_LIMIT=110", "SPEEDING_LIMIT=95");
    const QByteArray done = only(device::settingsUpload(edited));
    EXPECT_EQ(device::messageCode(done), device::kCommandComplete);
    EXPECT_EQ(done.size(), device::kEmptyMessageSize);
    EXPECT_EQ(device::readFileRecord(only(device::settingsRequest())).data, edited);

    EXPECT_EQ(errorOf(only(device::settingsUpload({}))).code, kErrNoData);
    EXPECT_EQ(recorder.settingsFile(), edited);
    EXPECT_EQ(recorder.counters().settingsUploads, 2);
    EXPECT_EQ(recorder.counters().settingsRequests, 2);
}

TEST_F(RecorderTest, DrvUploadIsARealDrvFileOfOneRecordASecondOverTheRange)
{
    const std::uint32_t from = 1741357530, to = from + 99;  // 2025-03-07 14:25:30 UTC
    const auto replies = ask(device::uploadRequest(device::kDataDrv, from, to));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].awaitsAck);
    const QByteArray& m = replies[0].message;
    const auto r = device::readUploadResponse(m);
    EXPECT_TRUE(r.sizeMatches());
    EXPECT_EQ(r.fileName, "DRV_20250307_142530");
    EXPECT_EQ(r.frameCount, 100u);
    EXPECT_EQ(r.dataLength, 22u + 100 * 120);

    const auto drvFile = drv::DrvFile::read(m.mid(r.fileOffset(), r.fileSize()), drv::ReadOptions{0, true});
    EXPECT_EQ(drvFile.count(), 100);
    EXPECT_FALSE(drvFile.endsEarly());
    EXPECT_EQ(drvFile.drvHeader().startTime, from);
    EXPECT_EQ(drvFile.drvHeader().rate, 1);
    double lastLat = 0;
    for (qint64 i = 0; i < drvFile.count(); ++i) {
        const drv::DrvRecord rec = drv::decodeRecord(drvFile.record(i));
        EXPECT_EQ(rec.timeSec, std::int32_t(from + i));
        EXPECT_NEAR(rec.latitude, 48.14, 0.2);
        EXPECT_NEAR(rec.longitude, 11.58, 0.2);
        if (i > 30) {
            EXPECT_NE(rec.latitude, lastLat) << "the car moves";
        }
        lastLat = rec.latitude;
    }
}

TEST_F(RecorderTest, DrvRangesAreCappedAndAnInvertedRangeIsAnError)
{
    SimOptions small;
    small.drvMaxRecords = 10;
    Recorder capped{small};
    const auto r = device::readUploadResponse(capped.answer(device::uploadRequest(1, 1000, 5000), peer)[0].message);
    EXPECT_EQ(r.frameCount, 10u);

    EXPECT_EQ(errorOf(only(device::uploadRequest(device::kDataDrv, 5000, 4999))).code, kErrNoData);
    const auto single = device::readUploadResponse(only(device::uploadRequest(device::kDataDrv, 5000, 5000)));
    EXPECT_EQ(single.frameCount, 1u);
}

TEST(RecorderMmv, SyntheticVideoOfTheConfiguredSizeAwaitingAnAckUnlessTold)
{
    Peer peer;
    SimOptions o;
    o.mmvSize = 300'000;
    Recorder recorder{o};
    const auto replies = recorder.answer(device::uploadRequest(device::kDataMmv, 10, 20), peer);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].awaitsAck);
    const auto r = device::readUploadResponse(replies[0].message);
    EXPECT_EQ(r.dataLength, 300'000u);
    EXPECT_TRUE(r.sizeMatches());
    EXPECT_EQ(replies[0].message.mid(r.fileOffset(), r.fileSize()), mmvBytes(300'000));
    EXPECT_TRUE(mmvBytes(16).startsWith("MMV1"));

    o.noAck = true;
    Recorder relaxed{o};
    EXPECT_FALSE(relaxed.answer(device::uploadRequest(device::kDataMmv, 10, 20), peer)[0].awaitsAck);
}

TEST_F(RecorderTest, SystemLogIsATgzThatTarReads)
{
    const QByteArray m = only(device::uploadRequest(device::kDataSystemLog, 1741357530, 1741361130));
    const auto r = device::readUploadResponse(m);
    ASSERT_TRUE(r.sizeMatches());
    const QByteArray tgz = m.mid(r.fileOffset(), r.fileSize());
    ASSERT_TRUE(tgz.startsWith("\x1f\x8b"));

    if (QStandardPaths::findExecutable("tar").isEmpty()) GTEST_SKIP() << "no tar to read the archive";
    QTemporaryDir dir;
    QFile file(dir.filePath("logs.tgz"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(tgz);
    file.close();
    QProcess tar;
    tar.setWorkingDirectory(dir.path());
    tar.start("tar", {"-xzf", "logs.tgz"});
    ASSERT_TRUE(tar.waitForFinished(20000));
    ASSERT_EQ(tar.exitCode(), 0) << tar.readAllStandardError().toStdString();
    for (const ArchiveEntry& e : systemLogs(1741357530, 1741361130)) {
        QFile extracted(dir.filePath(e.name));
        ASSERT_TRUE(extracted.open(QIODevice::ReadOnly)) << e.name.toStdString();
        EXPECT_EQ(extracted.readAll(), e.contents);
    }
    QFile system(dir.filePath("log/system.log"));
    ASSERT_TRUE(system.open(QIODevice::ReadOnly));
    EXPECT_TRUE(system.readAll().contains("2025-03-07 14:25:30 kernel:"));
}

TEST(RecorderArchive, TarHeadersCarryValidChecksumsAndBlockPadding)
{
    const QByteArray tar = tarArchive({{"a.txt", "hello\n", 100}, {"b.txt", QByteArray(512, 'x'), 200}});
    // Header, one data block, header, one data block, two end blocks.
    ASSERT_EQ(tar.size(), 6 * 512);
    for (int header : {0, 1024}) {
        unsigned sum = 0;
        for (int i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? ' ' : uchar(tar[header + i]);
        EXPECT_EQ(tar.mid(header + 148, 6).toUInt(nullptr, 8), sum);
        EXPECT_EQ(tar.mid(header + 257, 5), "ustar");
    }
    EXPECT_EQ(tar.mid(124, 11).toUInt(nullptr, 8), 6u);
    EXPECT_EQ(tar.mid(512, 6), "hello\n");
}

TEST_F(RecorderTest, WhatItCannotServeIsAnErrorReplyWithCodeAndText)
{
    const auto type = errorOf(only(device::uploadRequest(4, 0, 10)));
    EXPECT_EQ(type.code, kErrUnknownDataType);
    EXPECT_EQ(type.text, "Unknown data type 4");

    const auto code = errorOf(only(device::frame(9, 14)));
    EXPECT_EQ(code.code, kErrUnknownRequest);
    EXPECT_EQ(code.text, "Unknown request code 9");

    // An upload request cut short, with a header that says so.
    EXPECT_EQ(errorOf(only(device::frame(device::kUploadRequest, 20))).code, kErrMalformed);
    EXPECT_EQ(errorOf(only(device::frame(device::kSessionRequest, 30))).code, kErrMalformed);
    EXPECT_EQ(recorder.counters().malformedRequests, 2);
    EXPECT_EQ(recorder.counters().unknownRequests, 2);
    EXPECT_EQ(recorder.counters().errorsSent, 4);
}

TEST_F(RecorderTest, AcknowledgementsAreCountedAndNotAnswered)
{
    EXPECT_TRUE(ask(device::acknowledgement()).empty());
    EXPECT_EQ(recorder.counters().acknowledgements, 1);
    EXPECT_EQ(recorder.counters().requests, 1);
    EXPECT_EQ(recorder.counters().toJson().value("acknowledgements").toInt(), 1);
}

TEST(RecorderWrongLength, TheDeclaredLengthDiffersFromTheContentsButTheMessageIsThatLong)
{
    Peer peer;
    for (int delta : {4, -4}) {
        SimOptions o;
        o.wrongLength = delta;
        o.mmvSize = 1000;
        Recorder recorder{o};
        const QByteArray m = recorder.answer(device::uploadRequest(device::kDataMmv, 1, 2), peer)[0].message;
        EXPECT_EQ(qint64(device::declaredLength(m)), m.size());
        EXPECT_EQ(m.size(), 76 + 1000 + delta);
        EXPECT_TRUE(m.endsWith(QByteArray::fromHex("0200504d")));
        if (delta > 0) {
            const auto r = device::readUploadResponse(m);
            EXPECT_FALSE(r.sizeMatches());
            EXPECT_EQ(r.consumedSize(), 1076);
        } else {
            EXPECT_THROW(device::readUploadResponse(m), device::MessageRangeError);
        }
    }
}

}  // namespace
