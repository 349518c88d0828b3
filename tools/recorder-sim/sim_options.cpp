#include "sim_options.h"

#include <functional>

namespace recsim {

namespace {

enum class Arg { None, Text, Int, Size };

struct OptionRow {
    const char* name;
    Arg arg;
    const char* help;
    std::function<bool(SimOptions&, const QString& text, qint64 number)> apply;
};

const std::vector<OptionRow>& optionTable()
{
    static const std::vector<OptionRow> rows = {
        {"--host", Arg::Text, "address to listen on (default 127.0.0.1)",
         [](SimOptions& o, const QString& t, qint64) { o.host = t; return !t.isEmpty(); }},
        {"--port", Arg::Int, "port to listen on, 0 for any free one (default 5000)",
         [](SimOptions& o, const QString&, qint64 n) { o.port = int(n); return n >= 0 && n <= 65535; }},
        {"--tls", Arg::Text, "serve wss with the certificate and key of this PEM file",
         [](SimOptions& o, const QString& t, qint64) { o.tlsPemFile = t; return !t.isEmpty(); }},
        {"--id", Arg::Text, "account the session request must name (default installer)",
         [](SimOptions& o, const QString& t, qint64) { o.id = t; return true; }},
        {"--password", Arg::Text, "password of that account (default 0000)",
         [](SimOptions& o, const QString& t, qint64) { o.password = t; return true; }},
        {"--require-session", Arg::None, "serve nothing but the session request before a session",
         [](SimOptions& o, const QString&, qint64) { o.requireSession = true; return true; }},
        {"--mmv-size", Arg::Size, "size of the MMV video served (default 1M)",
         [](SimOptions& o, const QString&, qint64 n) { o.mmvSize = n; return n >= 0 && n <= 900'000'000; }},
        {"--drv-max-records", Arg::Int, "most records of a DRV file, one a second (default 3600)",
         [](SimOptions& o, const QString&, qint64 n) { o.drvMaxRecords = int(n); return n >= 1 && n <= 1'000'000; }},
        {"--fragment", Arg::Size, "send each reply in pieces of this size (default: whole)",
         [](SimOptions& o, const QString&, qint64 n) { o.fragmentSize = n; return n >= 0; }},
        {"--latency", Arg::Int, "milliseconds to wait before each reply",
         [](SimOptions& o, const QString&, qint64 n) { o.latencyMs = int(n); return n >= 0 && n <= 600'000; }},
        {"--bandwidth", Arg::Size, "bytes per second at most (default: unlimited)",
         [](SimOptions& o, const QString&, qint64 n) { o.bandwidth = n; return n >= 0; }},
        {"--cut-after", Arg::Size, "cut the first longer reply after this many bytes and disconnect (once)",
         [](SimOptions& o, const QString&, qint64 n) { o.cutAfter = n; return n >= 0; }},
        {"--wrong-length", Arg::Int, "upload responses declare this many bytes more (negative: fewer)",
         [](SimOptions& o, const QString&, qint64 n) { o.wrongLength = int(n); return n >= -1'000'000 && n <= 1'000'000; }},
        {"--no-ack", Arg::None, "do not wait for the acknowledgement of upload responses",
         [](SimOptions& o, const QString&, qint64) { o.noAck = true; return true; }},
        {"--ack-timeout", Arg::Int, "milliseconds to wait for an acknowledgement (default 5000)",
         [](SimOptions& o, const QString&, qint64 n) { o.ackTimeoutMs = int(n); return n >= 0 && n <= 600'000; }},
        {"--quiet", Arg::None, "do not print the counters after every request",
         [](SimOptions& o, const QString&, qint64) { o.countersOnStdout = false; return true; }},
    };
    return rows;
}

}  // namespace

std::optional<qint64> parseSize(const QString& text)
{
    QString t = text.trimmed();
    qint64 factor = 1;
    if (!t.isEmpty()) {
        switch (t.back().toLower().unicode()) {
        case 'k': factor = qint64(1) << 10; break;
        case 'm': factor = qint64(1) << 20; break;
        case 'g': factor = qint64(1) << 30; break;
        default: break;
        }
        if (factor != 1) t.chop(1);
    }
    bool ok = false;
    const qint64 n = t.toLongLong(&ok);
    if (!ok || n < 0 || n > (qint64(1) << 40) / factor) return std::nullopt;
    return n * factor;
}

ParsedOptions parseOptions(const QStringList& arguments)
{
    ParsedOptions result;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString name = arguments[i];
        QString value;
        bool inlineValue = false;
        if (const qsizetype eq = name.indexOf(u'='); name.startsWith(u"--") && eq > 0) {
            value = name.mid(eq + 1);
            name.truncate(eq);
            inlineValue = true;
        }
        if (name == u"--help" || name == u"-h") {
            result.help = true;
            return result;
        }
        const OptionRow* row = nullptr;
        for (const OptionRow& r : optionTable())
            if (name == QLatin1String(r.name)) row = &r;
        if (!row) {
            result.error = QStringLiteral("Unknown option %1 (see --help).").arg(arguments[i]);
            return result;
        }
        if (row->arg != Arg::None && !inlineValue) {
            if (i + 1 >= arguments.size()) {
                result.error = QStringLiteral("Option %1 needs a value.").arg(name);
                return result;
            }
            value = arguments[++i];
        } else if (row->arg == Arg::None && inlineValue) {
            result.error = QStringLiteral("Option %1 takes no value.").arg(name);
            return result;
        }
        qint64 number = 0;
        bool ok = true;
        if (row->arg == Arg::Int) {
            number = value.trimmed().toLongLong(&ok);
        } else if (row->arg == Arg::Size) {
            const auto size = parseSize(value);
            ok = size.has_value();
            number = size.value_or(0);
        }
        if (!ok || !row->apply(result.options, value, number)) {
            result.error = QStringLiteral("Option %1 cannot take the value \"%2\".").arg(name, value);
            return result;
        }
    }
    return result;
}

QString helpText()
{
    QString text = QStringLiteral(
        "Usage: recorder-sim [options]\n"
        "A Brindle recorder on a WebSocket port, for trying and testing BrindleConfigTool.\n"
        "Connect the tool's console (Device > Connection Console...) to ws://127.0.0.1:5000.\n\n");
    for (const OptionRow& r : optionTable()) {
        QString name = QLatin1String(r.name);
        if (r.arg == Arg::Int) name += QStringLiteral(" N");
        if (r.arg == Arg::Size) name += QStringLiteral(" SIZE");
        if (r.arg == Arg::Text) name += QStringLiteral(" TEXT");
        text += QStringLiteral("  %1%2\n").arg(name.leftJustified(24), QLatin1String(r.help));
    }
    text += QStringLiteral("SIZE takes the suffixes k, M and G (powers of 1024).\n");
    return text;
}

}  // namespace recsim
