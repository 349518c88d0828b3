#include "binding_codecs.h"

#include "toolkit/number_text.h"

#include <cstdlib>

namespace settings {

using toolkit::StrToInt;

QString timeZoneText(int minutes)
{
    if (minutes == 0) return QStringLiteral("UTC");
    // 64 bits: a file can hold -2147483648, whose magnitude no int holds.
    const qint64 magnitude = std::abs(qint64(minutes));
    const qint64 hours = magnitude / 60;
    const qint64 rest = magnitude % 60;
    return QStringLiteral("UTC%1%2:%3")
        .arg(QChar(minutes < 0 ? u'-' : u'+'))
        .arg(hours, 2, 10, QLatin1Char('0'))
        .arg(rest == 0 ? QStringLiteral("00") : QString::number(rest));
}

QString timeZoneMinutes(const QString& text)
{
    if (text == QLatin1String("UTC")) return QStringLiteral("0");
    const int hours = StrToInt(text.mid(4, 2));
    const int minutes = StrToInt(text.mid(7, 2));
    const int total = 60 * hours + minutes;
    return QString::number(text.mid(3, 1) == QLatin1String("-") ? -total : total);
}

DstFields parseDstCode(const QString& code)
{
    DstFields f;
    f.month = code.mid(0, 2);
    f.order = code.mid(3, 2);
    f.weekday = StrToInt(code.mid(7, 1));
    f.hour = code.mid(9, 2);
    return f;
}

QString dstCode(const QString& month, const QString& order, int weekday, const QString& hour)
{
    return month + u'.' + order + QStringLiteral(".0") + QString::number(weekday) + u'.' + hour;
}

QString manualTimeCode(const QDate& date, const QString& hour, const QString& minute, const QString& second)
{
    return date.toString(QStringLiteral("dd.MM.yy")) + u'.' + hour + u'.' + minute + u'.' + second;
}

std::optional<UploadBoxes> uploadBoxesFor(const QString& code, bool hasHz100)
{
    if (code == QLatin1String("0")) return UploadBoxes{false, false, false};
    if (code == QLatin1String("1")) return UploadBoxes{true, false, false};
    if (code == QLatin1String("2")) return UploadBoxes{true, true, false};
    if (hasHz100 && code == QLatin1String("3")) return UploadBoxes{true, true, true};
    if (hasHz100 && code == QLatin1String("4")) return UploadBoxes{true, false, true};
    return std::nullopt;
}

QString uploadCodeFor(const UploadBoxes& b, bool hasHz100)
{
    if (!hasHz100) return QString::number(int(b.trigger) + int(b.transmit));
    if (!b.trigger) return QStringLiteral("0");
    if (b.hz100) return b.transmit ? QStringLiteral("3") : QStringLiteral("4");
    return b.transmit ? QStringLiteral("2") : QStringLiteral("1");
}

QString encodeEncryption(const QString& number) { return QString::fromLatin1(number.toUtf8().toBase64()); }

QString decodeEncryption(const QString& stored)
{
    return QString::fromUtf8(QByteArray::fromBase64(stored.toLatin1()));
}

QString frameRateText(int videoQualityIndex, const QString& stored)
{
    // The editor starts with no frame rate and saves it so; its own file must load again.
    if (stored.trimmed().isEmpty()) return QString();
    const int fps = StrToInt(stored);
    if (is1080pQuality(videoQualityIndex) && fps > 15) return QStringLiteral("15");
    return QString::number(fps);
}

}  // namespace settings
