// Base of every engine object (client now; server, proxy and certificate
// manager reuse it): the generic numbered-property plumbing, the error state,
// the Config table walk and the event sink call with write-back.
#pragma once

#include "engine/protocol/permessage_deflate.h"

#include "engine/include/corvanews20.h"
#include "engine/include/corvanews20_tables.h"
#include "engine/protocol/errors.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace corvane::engine {

using corvanews20::Access;
using corvanews20::kRead;
using corvanews20::kReadWrite;
using corvanews20::kWrite;
using corvanews20::PropType;

// Engine-only facts of a property, keyed by its number from the object's
// public table: the accepted range and the default.
struct PropertyLimits {
    int id;
    int64_t minValue;            // Int range; min > max leaves it unchecked
    int64_t maxValue;
    int64_t defaultInt = 0;
    const char* defaultText = "";  // String and Bytes default, UTF-8
};

// One row as the generic Get/Set/CheckIndex code walks it: the public row
// (number, name, type, access, index name) joined with its limits.
struct PropertyDef {
    int id;
    const char* name;
    PropType type;
    uint8_t access;
    const char* indexName;       // nullptr: plain; else named in "Invalid array index (...)."
    int64_t minValue = 0;
    int64_t maxValue = -1;
    int64_t defaultInt = 0;
    const char* defaultText = "";
};

// Joins an object's public property table with the engine's limits (rows
// without limits are unchecked, default 0 or empty).
std::vector<PropertyDef> buildPropertyDefs(const corvanews20::ObjectTables& tables,
                                           std::span<const PropertyLimits> limits);

// One row of an object's Config table.
enum class ConfigType : uint8_t { Int, Bool, String };
struct ConfigDef {
    const char* name;
    ConfigType type;
    int64_t minValue;
    int64_t maxValue;
    int64_t defaultInt;
    const char* defaultText;
};

struct Value {
    int64_t i = 0;
    QString text;      // String
    QByteArray bytes;  // Bytes
    int form = 0;      // as set: 0 value number, 1 Str (n + 10000), 2 Alt (n + 20000)
};

// Text that an event hands out and that the host may replace (CorvaneWS_EvtStr).
struct EventString {
    QString text;
    QByteArray utf8;   // filled when read narrow
};

// Numbering of the C interface.
using corvanews20::kAltOffset;
using corvanews20::kMethodOffset;
using corvanews20::kStrOffset;
constexpr int kDecodeTextMethod = corvanews20::kDecodeTextDo;
constexpr int kAboutBoxMethod = 255;  // Do number of the about box, for every object

class EngineObject {
public:
    EngineObject(CorvaneWS_EventSink sink, void* user, std::span<const PropertyDef> properties,
                 std::span<const ConfigDef> config);
    virtual ~EngineObject();
    EngineObject(const EngineObject&) = delete;
    EngineObject& operator=(const EngineObject&) = delete;

    // ---- C interface, generic part ----
    int checkIndex(int id, int index);
    void* get(int id, int index, int* lengthOut, long long* value64Out);
    int set(int id, int index, const void* value, int length);
    int doMethod(int method, int argc, void** argv, int* arglen);

    const char* lastError() const { return lastErrorText_.empty() ? nullptr : lastErrorText_.c_str(); }
    int lastErrorCode() const { return lastErrorCode_; }
    int setLastErrorAndCode(int code, const char* text);
    const char* eventError() const { return eventErrorText_.empty() ? nullptr : eventErrorText_.c_str(); }
    int eventErrorCode() const { return eventErrorCode_; }
    int setEventErrorAndCode(int code, const char* text);

    // Destroy from the C interface: deferred while engine code is on the
    // stack (an event handler destroying its own object), immediate otherwise.
    static void destroy(EngineObject* object);

    bool destroyed() const { return zombie_; }

    // Creates the QCoreApplication when the host has none (plain C or Python hosts).
    static void ensureApplication();

protected:
    // ---- hooks for the concrete objects ----
    virtual int indexCount(const PropertyDef&) const { return 0; }
    // Whether index selects an element of an indexed property; by default a
    // position below indexCount (objects indexed by an id override it).
    virtual bool validIndex(const PropertyDef& def, int index) const { return index >= 0 && index < indexCount(def); }
    // Computed properties fill out and return true; stored ones return false.
    virtual bool readProperty(const PropertyDef&, int /*index*/, Value& /*out*/) { return false; }
    // Returns -1 to store the value generically, else 0 or an error code.
    virtual int writeProperty(const PropertyDef&, int /*index*/, Value& /*in*/) { return -1; }
    // Method m (Do number minus 10000); arguments as the host passed them.
    virtual int invoke(int method, int argc, void** argv, int* arglen) = 0;
    // Settles the object when destroyed from inside one of its own events.
    virtual void onDestroyRequested() {}

    int fail(int code, std::string_view detail = {});
    void clearError() { lastErrorCode_ = 0; lastErrorText_.clear(); }

    // Calls the sink; argv/arglen have argc + 1 slots. Returns the sink's result.
    int raise(int event, int argc, void** argv, int* arglen);
    bool hasSink() const { return sink_ != nullptr && !zombie_; }
    // The Error (ConnectionId, ErrorCode, Description), Disconnected
    // (ConnectionId, StatusCode, Description), Log (ConnectionId, LogLevel,
    // Message, LogType) and Connected (ConnectionId) events of the objects that
    // serve connections share their shapes; each object passes its own number.
    void raiseConnectionStatus(int event, int id, int code, const QString& text);
    void raiseConnectionLog(int event, int id, int level, const QString& message, const QString& type);
    void raiseConnectionOpened(int event, int id);
    // DoEvents: what is pending, then a short wait, so a host can poll.
    void doEvents();

    const PropertyDef* findProperty(int id) const;
    Value& stored(int id);
    const Value& stored(int id) const;
    int64_t intProp(int id) const { return stored(id).i; }
    bool boolProp(int id) const { return stored(id).i != 0; }
    const QString& textProp(int id) const { return stored(id).text; }
    const QByteArray& bytesProp(int id) const { return stored(id).bytes; }
    void resetStoredProperties();

    // ---- Config ----
    int configure(const QString& setting, QString& answer);
    int64_t configInt(const char* name) const;
    QString configText(const char* name) const;
    // The CORVANE_DEFLATE_CONFIG settings.
    protocol::DeflateSettings deflateSettings() const;
    virtual void onConfigChanged(const ConfigDef&) {}

    // Text of the configured code page.
    QString decodeText(const char* data, qsizetype n) const;
    QByteArray encodeText(const QString& text) const;

    // Wide text argument of Do (zero-terminated, or arglen characters).
    static QString wideArg(void* p, int len);
    static QByteArray bytesArg(void* p, int len);
    // Leaves a wide text result in argv slot k (valid until the next call).
    void setWideResult(void** argv, int* arglen, int k, const QString& text);

private:
    int decodeTextMethod(int argc, void** argv, int* arglen);
    static void showAboutBox();

    CorvaneWS_EventSink sink_;
    void* user_;
    std::span<const PropertyDef> properties_;
    std::span<const ConfigDef> configDefs_;
    std::vector<Value> values_;
    std::vector<Value> configValues_;
    int lastErrorCode_ = 0;
    std::string lastErrorText_;
    int eventErrorCode_ = 0;
    std::string eventErrorText_;
    QString resultText_;
    QByteArray resultBytes_;
    QString decodeCache_;
    const void* decodeCacheKey_ = nullptr;
    qsizetype decodeCacheSize_ = -1;
    bool zombie_ = false;
};

// Settings every object understands; objects append their own.
#define CORVANE_COMMON_CONFIG \
    {"CodePage", ConfigType::Int, 0, 65001, 65001, ""}, \
    {"LogLevel", ConfigType::Int, 0, 3, 1, ""}

// Compressed messages, for every object that speaks WebSocket; read with
// EngineObject::deflateSettings().
#define CORVANE_DEFLATE_CONFIG \
    {"PerMessageDeflate", ConfigType::Bool, 0, 1, 0, ""}, \
    {"PerMessageDeflateWindowBits", ConfigType::Int, 8, 15, 15, ""}, \
    {"PerMessageDeflateMemLevel", ConfigType::Int, 1, 9, 8, ""}, \
    {"PerMessageDeflateNoContextTakeover", ConfigType::Bool, 0, 1, 0, ""}

} // namespace corvane::engine
