// The Config parser ("Name=Value" lines, "Name" asks) under arbitrary UTF-16
// text, as a host passes it. Oracles: the result is success or the Config
// error; every value the object then holds is one it accepts when set again,
// and asking gives the same answer back.
#include "engine/fuzz/fuzz_engine_object.h"

#include <cstdint>

#define FUZZ_CHECK(cond) do { if (!(cond)) __builtin_trap(); } while (0)

using namespace corvane::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString settings = QString::fromUtf16(reinterpret_cast<const char16_t*>(data), qsizetype(size / 2));
    FuzzObject o;
    QString answer;
    const int rc = o.configure(settings, answer);
    FUZZ_CHECK(rc == 0 || rc == kInvalidConfig);
    FUZZ_CHECK(rc == 0 || o.lastError() != nullptr);

    for (const ConfigDef& d : FuzzObject::kConfig) {
        QString held, again, asked;
        FUZZ_CHECK(o.configure(QLatin1String(d.name), held) == 0);
        FUZZ_CHECK(o.configure(QLatin1String(d.name) + u'=' + held, again) == 0);
        FUZZ_CHECK(again == held);
        FUZZ_CHECK(o.configure(QLatin1String(d.name).toString().toLower(), asked) == 0 && asked == held);
        if (d.type == ConfigType::Int) {
            const int64_t v = o.configInt(d.name);
            FUZZ_CHECK(v >= d.minValue && v <= d.maxValue);
        }
    }
    return 0;
}
