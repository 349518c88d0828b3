// An engine object with every kind of Config setting and no behaviour of its
// own, so the fuzzers reach the generic Config walk and method 2003 without a
// socket behind them.
#pragma once

#include "engine/objects/engine_object.h"
#include "engine/protocol/errors.h"

#include <limits>

namespace corvane::engine {

class FuzzObject : public EngineObject {
public:
    static constexpr ConfigDef kConfig[] = {
        CORVANE_COMMON_CONFIG,
        {"MaxMessageSize", ConfigType::Int, 0, std::numeric_limits<int64_t>::max(), 0, ""},
        {"Offset", ConfigType::Int, std::numeric_limits<int64_t>::min(), -1, -5, ""},
        {"KeepAlive", ConfigType::Bool, 0, 1, 1, ""},
        {"CloseDescription", ConfigType::String, 0, 0, 0, "bye"},
    };

    FuzzObject() : EngineObject(nullptr, nullptr, {}, kConfig) {}

    using EngineObject::configInt;
    using EngineObject::configText;
    using EngineObject::configure;

protected:
    int invoke(int, int, void**, int*) override { return 0; }
};

} // namespace corvane::engine
