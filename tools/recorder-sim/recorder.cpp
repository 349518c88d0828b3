#include "recorder.h"

#include "camera_scene.h"
#include "drv_route.h"
#include "log_archive.h"

#include "device/device_message.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <cstring>

namespace recsim {

using namespace device;

QJsonObject Counters::toJson() const
{
    static constexpr struct {
        const char* name;
        qint64 Counters::*field;
    } kFields[] = {
        {"connections", &Counters::connections},
        {"disconnects", &Counters::disconnects},
        {"bytesReceived", &Counters::bytesReceived},
        {"requests", &Counters::requests},
        {"sessionRequests", &Counters::sessionRequests},
        {"sessionsAccepted", &Counters::sessionsAccepted},
        {"imageRequests", &Counters::imageRequests},
        {"gSensorInits", &Counters::gSensorInits},
        {"settingsRequests", &Counters::settingsRequests},
        {"settingsUploads", &Counters::settingsUploads},
        {"drvRequests", &Counters::drvRequests},
        {"mmvRequests", &Counters::mmvRequests},
        {"logRequests", &Counters::logRequests},
        {"acknowledgements", &Counters::acknowledgements},
        {"unknownRequests", &Counters::unknownRequests},
        {"malformedRequests", &Counters::malformedRequests},
        {"errorsSent", &Counters::errorsSent},
        {"repliesSent", &Counters::repliesSent},
        {"bytesSent", &Counters::bytesSent},
        {"ackTimeouts", &Counters::ackTimeouts},
        {"cuts", &Counters::cuts},
        {"readPauses", &Counters::readPauses},
        {"waitingBytesPeak", &Counters::waitingBytesPeak},
        {"replyQueuePeak", &Counters::replyQueuePeak},
    };
    QJsonObject o;
    for (const auto& f : kFields) o.insert(QLatin1String(f.name), double(this->*f.field));
    return o;
}

QString Recorder::mainFirmwareName() { return QStringLiteral("BRD_MAIN_2.4.1_SIM.bin"); }
QString Recorder::mcuFirmwareName() { return QStringLiteral("BRD_MCU_1.07_SIM.bin"); }
QString Recorder::deviceId() { return QStringLiteral("SIM-0001"); }

Recorder::Recorder(SimOptions options) : options_(std::move(options))
{
    QFile own(QStringLiteral(":/recorder-sim/setting.ini"));
    if (own.open(QIODevice::ReadOnly)) settings_ = own.readAll();
}

QByteArray mmvBytes(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    char* p = bytes.data();
    static constexpr char kMagic[] = "MMV1";
    for (qint64 i = 0; i < size; ++i) p[i] = i < 4 ? kMagic[i] : char((i * 31 + (i >> 12)) % 251);
    return bytes;
}

Reply Recorder::error(std::uint32_t code, const QString& text)
{
    ++counters_.errorsSent;
    return {errorMessage(code, text), false};
}

std::vector<Reply> Recorder::answer(const QByteArray& request, Peer& peer)
{
    ++counters_.requests;
    try {
        return answerChecked(request, peer);
    } catch (const MessageRangeError& e) {
        ++counters_.malformedRequests;
        return {error(kErrMalformed, QStringLiteral("Request too short"))};
    }
}

std::vector<Reply> Recorder::answerChecked(const QByteArray& request, Peer& peer)
{
    const std::uint8_t code = messageCode(request);
    if (code == kCommandComplete) {
        // The tool's acknowledgement of an upload response.
        ++counters_.acknowledgements;
        return {};
    }
    if (code == kSessionRequest) {
        ++counters_.sessionRequests;
        const SessionRequest account = readSessionRequest(request);
        if (account.id != options_.id || account.password != options_.password) {
            peer.session = false;
            return {error(kErrWrongAccount, QStringLiteral("Wrong ID or password"))};
        }
        peer.session = true;
        ++counters_.sessionsAccepted;
        return {{sessionAccepted(mainFirmwareName(), mcuFirmwareName(), deviceId()), false}};
    }
    if (options_.requireSession && !peer.session) {
        if (code == kCameraImageRequest) ++counters_.imageRequests;
        return {error(kErrNoSession, QStringLiteral("No session: send the session request first"))};
    }
    switch (code) {
    case kCameraImageRequest: {
        ++counters_.imageRequests;
        const QByteArray jpeg = cameraJpeg(frame_);
        if (jpeg.isEmpty()) return {error(kErrNoData, QStringLiteral("The camera has no image"))};
        ++frame_;
        return {{fileMessage(kFileKindImage, jpeg), false}};
    }
    case kSettingsRequest:
        ++counters_.settingsRequests;
        return {{fileMessage(kFileKindSettings, settings_), false}};
    case kSettingsUpload: {
        const FileRecord file = readFileRecord(request);
        ++counters_.settingsUploads;
        if (file.data.isEmpty()) return {error(kErrNoData, QStringLiteral("The settings file is empty"))};
        settings_ = file.data;
        return {{commandComplete(), false}};
    }
    case kGSensorInit:
        ++counters_.gSensorInits;
        return {{commandComplete(), false}};
    case kUploadRequest: {
        const UploadRequestRecord r = readUploadRequest(request);
        return {uploadResponse(r.dataType, r.from, r.to)};
    }
    default:
        ++counters_.unknownRequests;
        return {error(kErrUnknownRequest, QStringLiteral("Unknown request code %1").arg(code))};
    }
}

Reply Recorder::uploadResponse(std::uint32_t dataType, std::uint32_t from, std::uint32_t to)
{
    const QString stamp =
        QDateTime::fromSecsSinceEpoch(from, Qt::UTC).toString(QStringLiteral("yyyyMMdd_HHmmss"));
    QByteArray message;
    switch (dataType) {
    case kDataDrv: {
        ++counters_.drvRequests;
        const DrvTrack track = generateDrvTrack(from, to, options_.drvMaxRecords);
        if (track.records == 0)
            return error(kErrNoData, QStringLiteral("No recorded data in the requested time range"));
        message = device::uploadResponse(
            kDataDrv, recordedFileHeader(QStringLiteral("DRV_") + stamp, std::uint32_t(track.data.size()), track.records),
            track.data);
        break;
    }
    case kDataMmv: {
        ++counters_.mmvRequests;
        if (to < from) return error(kErrNoData, QStringLiteral("No recorded data in the requested time range"));
        const QByteArray video = mmvBytes(options_.mmvSize);
        // A frame every 64 KiB of video, as far as the count matters to the tool.
        const auto frames = std::uint32_t((video.size() + 65535) / 65536);
        message = device::uploadResponse(
            kDataMmv, recordedFileHeader(QStringLiteral("MMV_") + stamp, std::uint32_t(video.size()), frames), video);
        break;
    }
    case kDataSystemLog: {
        ++counters_.logRequests;
        // The recorder sends its logs whatever the range; the range only picks the lines.
        const QByteArray archive = systemLogArchive(from, to);
        message = device::uploadResponse(
            kDataSystemLog, recordedFileHeader(QStringLiteral("SYSLOG_") + stamp, std::uint32_t(archive.size()), 3),
            archive);
        break;
    }
    default:
        ++counters_.unknownRequests;
        return error(kErrUnknownDataType, QStringLiteral("Unknown data type %1").arg(dataType));
    }
    if (options_.wrongLength != 0) {
        // Declare a different length and make the message that long, so it still
        // arrives whole and the tool's own size check has to catch it.
        const qint64 declared = std::max<qint64>(kEmptyMessageSize, message.size() + options_.wrongLength);
        const QByteArray end = message.right(kEndMarkSize);
        message.resize(declared - kEndMarkSize, '\0');
        message += end;
        putU32(message, kLengthOffset, std::uint32_t(declared));
    }
    return {message, !options_.noAck};
}

}  // namespace recsim
