// brindle-drv FILE [--no-file-header] [--prefix N] (--csv | --gpx | --summary)
// Writes to standard output. Exit 0 on success (a file that ends before its
// declared records is still read, with a note on standard error), 1 for a file
// it cannot read, 2 for a bad command line, 3 when the output was written but
// most records hold impossible values (the file does not look like a DRV track).
#include "app/drv/drv_export.h"
#include "app/drv/drv_format.h"
#include "app/drv/drv_plausibility.h"
#include "app/drv/drv_text.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <optional>

namespace {

const char kUsage[] = "usage: brindle-drv FILE [--no-file-header] [--prefix N] (--csv | --gpx | --summary)\n";

const char kHelp[] =
    "Reads a DRV track file of the Brindle recorder and writes it to standard output.\n"
    "\n"
    "A DRV file holds the recorder's track: an optional server message prefix, a\n"
    "58-byte file header (in files saved by BrindleConfigTool), a 22-byte DRV header\n"
    "and one 120-byte record per sample (GPS position, speed, engine values, time,\n"
    "G-sensor readings and driver-assistance events).\n"
    "\n"
    "Output, exactly one of:\n"
    "  --csv             a table: a header row with the 35 column names of the\n"
    "                    DRV viewer, then one row per record (RFC 4180, CRLF lines;\n"
    "                    numbers use the locale's decimal separator, times local)\n"
    "  --gpx             a GPX 1.1 track of the records whose GPS is active, with\n"
    "                    altitude (m) and UTC times; opens in map programs\n"
    "  --summary         records, start and end (local time), rate (Hz), distance\n"
    "                    (km), top speed (km/h) and the count of each event\n"
    "\n"
    "Reading options:\n"
    "  --prefix N        skip N bytes of server message prefix before the headers\n"
    "                    (data saved from a server message; the viewer's default is 23)\n"
    "  --no-file-header  the file starts (after any prefix) with the 22-byte DRV\n"
    "                    header, as raw recorder data does; the record count is then\n"
    "                    the DRV header's length / 120\n"
    "  -h, --help        this text\n"
    "\n"
    "Examples:\n"
    "  brindle-drv 20250307_090503.drv --summary\n"
    "  brindle-drv 20250307_090503.drv --csv > trip.csv\n"
    "  brindle-drv upload.bin --prefix 23 --gpx > trip.gpx\n"
    "  brindle-drv raw.drv --no-file-header --summary\n"
    "\n"
    "Exit status: 0 done; 1 the file cannot be read; 2 bad command line;\n"
    "3 written, but most records hold impossible positions or times, so the file\n"
    "does not look like a DRV track (or the options do not match it).\n";

int usage(const QString& problem)
{
    std::fprintf(stderr, "brindle-drv: %s\n%s", qPrintable(problem), kUsage);
    return 2;
}

enum class Output { Csv, Gpx, Summary };

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);

    QString path;
    drv::ReadOptions options;
    std::optional<Output> output;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto setOutput = [&](Output o) {
            if (output) return false;
            output = o;
            return true;
        };
        if (a == QLatin1String("--no-file-header")) {
            options.fileHeader = false;
        } else if (a == QLatin1String("--prefix")) {
            if (++i == args.size()) return usage(QStringLiteral("--prefix needs a number of bytes"));
            bool ok = false;
            options.prefixLength = args[i].trimmed().toLongLong(&ok);
            // A prefix is part of the file, so it cannot be longer than the largest file read.
            if (!ok || options.prefixLength < 0 || options.prefixLength > drv::kLargestFile)
                return usage(QStringLiteral("'%1' is not a valid prefix length (0 to %2 bytes)")
                                 .arg(args[i])
                                 .arg(drv::kLargestFile));
        } else if (a == QLatin1String("--csv") || a == QLatin1String("--gpx") || a == QLatin1String("--summary")) {
            const Output o = a == QLatin1String("--csv") ? Output::Csv
                             : a == QLatin1String("--gpx") ? Output::Gpx
                                                           : Output::Summary;
            if (!setOutput(o)) return usage(QStringLiteral("choose one of --csv, --gpx and --summary"));
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            std::fputs("\n", stdout);
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a.startsWith(u'-') && a != QLatin1String("-")) {
            return usage(QStringLiteral("unknown option %1").arg(a));
        } else if (path.isEmpty()) {
            path = a;
        } else {
            return usage(QStringLiteral("only one FILE"));
        }
    }
    if (path.isEmpty()) return usage(QStringLiteral("no FILE given"));
    if (!output) return usage(QStringLiteral("choose one of --csv, --gpx and --summary"));

    std::optional<drv::DrvFile> file;
    try {
        file = drv::DrvFile::read(drv::DrvBytes::readFile(path, options), options);
    } catch (const drv::DrvError& e) {
        std::fprintf(stderr, "brindle-drv: %s: %s\n", qPrintable(path), e.what());
        return 1;
    }
    if (file->endsEarly())
        std::fprintf(stderr, "brindle-drv: %s: %s\n", qPrintable(path), qPrintable(drv::shortFileLine(*file)));
    const drv::Plausibility plausibility = drv::checkPlausibility(*file);
    if (!plausibility.looksLikeDrv())
        std::fprintf(stderr, "brindle-drv: warning: %s\n", qPrintable(drv::implausibleMessage(path, plausibility)));

    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly)) {
        std::fprintf(stderr, "brindle-drv: cannot write to standard output\n");
        return 1;
    }
    bool ok = true;
    switch (*output) {
    case Output::Csv: ok = drv::writeCsv(out, *file, drv::systemDecimalPoint()); break;
    case Output::Gpx: ok = drv::writeGpx(out, *file, QFileInfo(path).completeBaseName()); break;
    case Output::Summary: {
        QByteArray text = drv::summaryLines(drv::summarize(*file), drv::systemDecimalPoint()).join(u'\n').toUtf8();
        text += '\n';
        ok = out.write(text) == text.size();
        break;
    }
    }
    ok = out.flush() && ok;
    if (!ok) {
        std::fprintf(stderr, "brindle-drv: cannot write to standard output\n");
        return 1;
    }
    return plausibility.looksLikeDrv() ? 0 : 3;
}
