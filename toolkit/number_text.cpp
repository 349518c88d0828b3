#include "number_text.h"

#include "exceptions.h"

#include <charconv>
#include <limits>

namespace toolkit {

namespace {

bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

QStringView trimBlanks(QStringView text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.mid(begin, end - begin);
}

}  // namespace

int StrToInt(const QString& text)
{
    const QStringView t = trimBlanks(text);
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
        negative = t[i] == u'-';
        ++i;
    }
    if (i == t.size())
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    long long value = 0;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c < u'0' || c > u'9')
            throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
        value = value * 10 + (c.unicode() - u'0');
        if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1)
            throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return static_cast<int>(value);
}

double StrToFloat(const QString& text)
{
    const QStringView t = trimBlanks(text);
    // Grammar: [sign] digits [. digits] [(e|E) [sign] digits], at least one mantissa digit.
    qsizetype i = 0;
    auto digits = [&] {
        const qsizetype start = i;
        while (i < t.size() && t[i] >= u'0' && t[i] <= u'9') ++i;
        return i - start;
    };
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) ++i;
    qsizetype mantissa = digits();
    if (i < t.size() && t[i] == u'.') {
        ++i;
        mantissa += digits();
    }
    bool ok = mantissa > 0;
    if (ok && i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
        ++i;
        if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) ++i;
        ok = digits() > 0;
    }
    ok = ok && i == t.size();
    double value = 0;
    if (ok) {
        // from_chars is locale-independent: the separator is a point whatever LC_NUMERIC says.
        QByteArray ascii = t.toLatin1();
        if (ascii.startsWith('+')) ascii.remove(0, 1);
        const auto [end, ec] = std::from_chars(ascii.constData(), ascii.constData() + ascii.size(), value);
        ok = ec == std::errc() && end == ascii.constData() + ascii.size();
    }
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return value;
}

QString FormatFloat(const char* printfFormat, double value)
{
    // QString::asprintf ignores the C locale, so the separator is always a point.
    return QString::asprintf(printfFormat, value);
}

}  // namespace toolkit
