// The settings reader and the value codecs the editor applies to what it read,
// under arbitrary file bytes. Oracles: a codec that accepts a value gives it
// back unchanged where the value is in its canonical form, and what the writer
// writes reads back as the same values, writing it again changes nothing.
#include "settings/binding_codecs.h"
#include "settings/settings_document.h"
#include "settings/settings_file.h"
#include "toolkit/exceptions.h"
#include "toolkit/ini_document.h"
#include "toolkit/number_text.h"

#include <QRegularExpression>

#include <cstdint>
#include <cstdio>

#define FUZZ_CHECK(cond) do { if (!(cond)) __builtin_trap(); } while (0)

using namespace settings;

namespace {

template <class F>
void tolerate(F f)
{
    try {
        f();
    } catch (const toolkit::EConvertError&) {
        // text that is not a number where a number is needed: the editor says so
    }
}

void exerciseCodecs(const SettingsValues& v)
{
    tolerate([&] {
        const int minutes = toolkit::StrToInt(v.value("TIME_OFFSET"));
        const QString text = timeZoneText(minutes);
        FUZZ_CHECK(text.startsWith(QLatin1String("UTC")));
        FUZZ_CHECK(text.count(u'-') + text.count(u'+') == (minutes != 0 ? 1 : 0));
        // The list holds offsets within a day; those come back as they went in.
        if (minutes > -24 * 60 && minutes < 24 * 60) FUZZ_CHECK(timeZoneMinutes(text) == QString::number(minutes));
    });
    for (const char* key : {"DST_START", "DST_END"}) {
        tolerate([&] {
            const QString code = v.value(QLatin1String(key));
            const DstFields f = parseDstCode(code);
            FUZZ_CHECK(f.weekday >= -9 && f.weekday <= 9);
            static const QRegularExpression canonical(QStringLiteral("^..\\...\\.0[0-9]\\...$"));
            if (canonical.match(code).hasMatch()) FUZZ_CHECK(dstCode(f.month, f.order, f.weekday, f.hour) == code);
        });
    }
    const QString number = decodeEncryption(v.value("ENCRYPTION_NO"));
    FUZZ_CHECK(decodeEncryption(encodeEncryption(number)) == number);
    tolerate([&] {
        int quality = -1;
        tolerate([&] { quality = toolkit::StrToInt(v.value("VIDEO_QUALITY")); });
        const QString fps = frameRateText(quality, v.value("VIDEO_FPS"));
        if (is1080pQuality(quality) && !fps.isEmpty()) FUZZ_CHECK(toolkit::StrToInt(fps) <= 15);
    });
    for (const SettingKey& k : settingsSchema()) {
        if (k.form != ValueForm::ImageUploadCode) continue;
        const QString key = QLatin1String(k.key);
        const bool hz100 = key.endsWith(QLatin1String("GSENSOR")) || key.endsWith(QLatin1String("ECALL"));
        if (const auto boxes = uploadBoxesFor(v.value(key), hz100)) FUZZ_CHECK(uploadCodeFor(*boxes, hz100) == v.value(key));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    toolkit::IniDocument doc = toolkit::IniDocument::fromBytes(bytes);
    SettingsValues read;
    readSettings(doc, read);
    exerciseCodecs(read);

    // Values written back unchanged keep the file's bytes; only missing keys are added.
    writeSettings(doc, read);
    const QByteArray once = doc.toBytes();
    FUZZ_CHECK(once.size() >= bytes.size());
    const toolkit::IniDocument reread = toolkit::IniDocument::fromBytes(once);
    SettingsValues again;
    readSettings(reread, again);
    for (std::size_t i = 0; i < settingsSchema().size(); ++i) {
        if (again.at(i) == read.at(i)) continue;
        std::fprintf(stderr, "%s: read \"%s\", read back \"%s\"\n", settingsSchema()[i].key,
                     qPrintable(read.at(i)), qPrintable(again.at(i)));
        __builtin_trap();
    }
    toolkit::IniDocument second = toolkit::IniDocument::fromBytes(once);
    writeSettings(second, again);
    FUZZ_CHECK(second.toBytes() == once);

    // A load is all or nothing: a refused file leaves the document as it was, an
    // accepted one can be shown in every unit without an error.
    SettingsDocument document;
    const SettingsValues before = document.values();
    try {
        document.adopt(document.checkBytes(bytes, QStringLiteral("fuzz.ini")));
    } catch (const toolkit::Exception&) {
        FUZZ_CHECK(document.values() == before && document.path().isEmpty());
        return 0;
    }
    FUZZ_CHECK(document.values() == read);
    for (DisplayUnit unit : {DisplayUnit::Inch, DisplayUnit::Mph}) {
        try {
            document.setUnit(unit);
        } catch (const toolkit::EConvertError&) {
            // a unit field that holds no number: the unit change is refused, as on screen
        }
    }
    FUZZ_CHECK(document.shown().size() == settingsSchema().size());
    return 0;
}
