// ini_document [UNKNOWN_KEYS=600000] [NAIVE_SHARE=1]
// Writes a settings file just under the 16 MiB the tool opens: the seven
// sections with every key the tool knows, and UNKNOWN_KEYS keys it does not
// know spread over them (what a vendor tool or a damaged card can leave).
// Then, each in a child process of its own so that peak memory is its own:
//  1. this tool: readSettingsFile, then writeSettingsFile with one value changed;
//  2. the naive line scan the tool used before (peer), the same work, on a
//     file with NAIVE_SHARE of the unknown keys, scaled linearly when below 1;
//  3. QSettings (peer): every key read; every key set and synced.
// Prints times, peak RSS and the ratios. Never fails.
#include "naive_ini.h"
#include "settings/settings_file.h"
#include "settings/settings_schema.h"
#include "toolkit/ini_document.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

struct Result {
    double read = 0, save = 0, peakMiB = 0;
    bool valuesAgree = true;
};

double peakRssMiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024.0;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every known key in its section, and `unknown` other keys spread over the sections,
// with values padded so the file ends just under the limit.
QByteArray settingsFile(qint64 unknown, qint64 limit)
{
    QByteArray known;
    for (const char* section : settings::kSections) {
        known += "[" + QByteArray(section) + "]\r\n";
        for (const auto& k : settings::settingsSchema())
            if (qstrcmp(k.section, section) == 0) known += QByteArray(k.key) + "=" + k.defaultValue + "\r\n";
        known += "\r\n";
    }
    const qint64 perLine = unknown > 0 ? (limit - known.size() - 4096) / unknown : 0;
    const qint64 valueLength = std::max<qint64>(1, perLine - 11);  // "U0000000=" + value + CRLF
    QByteArray out;
    out.reserve(known.size() + unknown * (valueLength + 12));
    qint64 written = 0;
    const qint64 sections = std::size(settings::kSections);
    for (qint64 s = 0; s < sections; ++s) {
        const QByteArray header = "[" + QByteArray(settings::kSections[s]) + "]\r\n";
        const qsizetype from = known.indexOf(header);
        const qsizetype to = s + 1 < sections ? known.indexOf("[" + QByteArray(settings::kSections[s + 1]) + "]")
                                              : known.size();
        out += known.mid(from, to - from - 2);  // the section without its blank line
        const qint64 here = (unknown * (s + 1)) / sections - written;
        for (qint64 i = 0; i < here; ++i, ++written) {
            char key[32];
            std::snprintf(key, sizeof key, "U%07lld=", static_cast<long long>(written));
            out += key;
            out += QByteArray(valueLength, char('a' + written % 26));
            out += "\r\n";
        }
        out += "\r\n";
    }
    return out;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Runs work in a child process; the child's own peak RSS comes back with its times.
Result inChild(const std::function<Result()>& work)
{
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Result r = work();
        r.peakMiB = peakRssMiB();
        if (write(fds[1], &r, sizeof r) != sizeof r) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    Result r;
    if (read(fds[0], &r, sizeof r) != sizeof r) r.valuesAgree = false;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return r;
}

QString keyPath(const settings::SettingKey& k) { return QLatin1String(k.section) + u'/' + QLatin1String(k.key); }

}  // namespace

int main(int argc, char** argv)
{
    const qint64 unknown = argc > 1 ? std::atoll(argv[1]) : 600000;
    const double naiveShare = argc > 2 ? std::atof(argv[2]) : 1.0;
    const qint64 limit = toolkit::IniDocument::kLargestFile;

    QTemporaryDir dir;
    const QByteArray file = settingsFile(unknown, limit);
    const QString source = dir.filePath(QStringLiteral("setting.ini"));
    if (!writeFile(source, file)) {
        std::printf("ini_document: cannot write %s\n", qPrintable(source));
        return 0;
    }
    std::printf("settings file: %.2f MiB (limit %.0f MiB), %lld unknown keys, %zu known keys\n",
                file.size() / 1048576.0, limit / 1048576.0, static_cast<long long>(unknown),
                settings::settingsSchema().size());

    settings::SettingsValues expected;
    settings::readSettingsFile(source, expected);

    // What a child costs before it does anything (it shares the file's bytes with this process).
    const Result idle = inChild([] { return Result{}; });
    std::printf("peak RSS of an idle child: %.1f MiB\n", idle.peakMiB);

    // 1. This tool.
    const Result tool = inChild([&] {
        Result r;
        const QString path = dir.filePath(QStringLiteral("tool.ini"));
        writeFile(path, file);
        QElapsedTimer t;
        t.start();
        settings::SettingsValues v;
        settings::readSettingsFile(path, v);
        r.read = t.nsecsElapsed() / 1e9;
        r.valuesAgree = v == expected;
        v.set(QStringLiteral("SPEEDING_LIMIT"), QStringLiteral("97"));
        t.restart();
        settings::writeSettingsFile(path, v);
        r.save = t.nsecsElapsed() / 1e9;
        const QByteArray saved = readAll(path);
        // "120" became "97": one byte less, every other line as it was.
        r.valuesAgree = r.valuesAgree && saved.size() == file.size() - 1 && saved.contains("\r\nSPEEDING_LIMIT=97\r\n");
        return r;
    });

    // 2. The naive line scan, on a file with a share of the unknown keys.
    const qint64 naiveUnknown = qint64(unknown * naiveShare);
    const QByteArray naiveFile = naiveShare >= 1 ? file : settingsFile(naiveUnknown, qint64(limit * naiveShare) + 8192);
    const double scale = naiveUnknown > 0 ? double(unknown) / naiveUnknown : 1;
    const Result naive = inChild([&] {
        Result r;
        const QString path = dir.filePath(QStringLiteral("naive.ini"));
        writeFile(path, naiveFile);
        QElapsedTimer t;
        t.start();
        const NaiveIni doc = NaiveIni::fromBytes(readAll(path));
        settings::SettingsValues v;
        const auto schema = settings::settingsSchema();
        for (std::size_t i = 0; i < schema.size(); ++i)
            v.setAt(i, doc.value(QLatin1String(schema[i].section), QLatin1String(schema[i].key))
                           .value_or(QString::fromLatin1(schema[i].defaultValue)));
        r.read = t.nsecsElapsed() / 1e9;
        r.valuesAgree = v == expected;
        v.set(QStringLiteral("SPEEDING_LIMIT"), QStringLiteral("97"));
        t.restart();
        NaiveIni out = NaiveIni::fromBytes(readAll(path));
        for (std::size_t i = 0; i < schema.size(); ++i)
            out.setValue(QLatin1String(schema[i].section), QLatin1String(schema[i].key), v.at(i));
        QSaveFile f(path);
        r.valuesAgree = r.valuesAgree && f.open(QIODevice::WriteOnly) && f.write(out.toBytes()) > 0 && f.commit();
        r.save = t.nsecsElapsed() / 1e9;
        return r;
    });

    // 3. QSettings.
    const Result qs = inChild([&] {
        Result r;
        const QString path = dir.filePath(QStringLiteral("qsettings.ini"));
        writeFile(path, file);
        QElapsedTimer t;
        t.start();
        settings::SettingsValues v;
        {
            QSettings s(path, QSettings::IniFormat);
            const auto schema = settings::settingsSchema();
            for (std::size_t i = 0; i < schema.size(); ++i)
                v.setAt(i, s.value(keyPath(schema[i]), QString::fromLatin1(schema[i].defaultValue)).toString());
        }
        r.read = t.nsecsElapsed() / 1e9;
        r.valuesAgree = v == expected;
        v.set(QStringLiteral("SPEEDING_LIMIT"), QStringLiteral("97"));
        t.restart();
        {
            QSettings s(path, QSettings::IniFormat);
            const auto schema = settings::settingsSchema();
            for (std::size_t i = 0; i < schema.size(); ++i) s.setValue(keyPath(schema[i]), v.at(i));
            s.sync();
            r.valuesAgree = r.valuesAgree && s.status() == QSettings::NoError;
        }
        r.save = t.nsecsElapsed() / 1e9;
        return r;
    });

    // This tool on the degenerate files that cost the previous code gigabytes, cut to the limit:
    // blank lines (no per-line cost at all) and 10-byte key lines (one index entry each).
    const auto degenerate = [&](const QByteArray& body) {
        return inChild([&] {
            Result r;
            const QString path = dir.filePath(QStringLiteral("degenerate.ini"));
            writeFile(path, body);
            QElapsedTimer t;
            t.start();
            settings::SettingsValues v;
            settings::readSettingsFile(path, v);
            r.read = t.nsecsElapsed() / 1e9;
            t.restart();
            settings::writeSettingsFile(path, v);
            r.save = t.nsecsElapsed() / 1e9;
            return r;
        });
    };
    const qint64 room = limit - 16 * 1024;  // what the keys the tool adds need
    const Result blank = degenerate(QByteArray(room, '\n'));
    QByteArray shortLines = "[EVENT]\n";
    shortLines.reserve(room);
    for (qint64 i = 0; shortLines.size() + 10 <= room; ++i) shortLines += QByteArray::number(1000000 + i) + "=ab\n";

    const auto line = [](const char* name, const Result& r, double scale) {
        std::printf("%-34s read %8.3f s   save %8.3f s   peak RSS %7.1f MiB   values %s\n", name, r.read * scale,
                    r.save * scale, r.peakMiB, r.valuesAgree ? "as expected" : "DIFFER");
    };
    line("this tool (indexed document):", tool, 1);
    if (scale > 1) {
        std::printf("naive line scan measured on %lld unknown keys, times scaled x%.1f (its cost is linear in lines):\n",
                    static_cast<long long>(naiveUnknown), scale);
    }
    line("naive line scan (previous code):", naive, scale);
    line("QSettings (reorders, drops comments):", qs, 1);
    const Result tenByte = degenerate(shortLines);
    line("this tool, 16 MiB of blank lines:", blank, 1);
    line("this tool, 16 MiB of 10-byte keys:", tenByte, 1);
    std::printf("ratio naive / this tool: read %.0f x, save %.0f x\n", naive.read * scale / tool.read,
                naive.save * scale / tool.save);
    std::printf("ratio QSettings / this tool: read %.1f x, save %.1f x\n", qs.read / tool.read, qs.save / tool.save);
    return 0;
}
