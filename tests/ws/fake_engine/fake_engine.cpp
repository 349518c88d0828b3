// A stand-in for libcorvanews20.so that the component tests load in its place.
// It exports the engine functions of all four objects (client, server, proxy,
// certificate manager) and the two shared ones, records every call with its
// numbers and arguments as one line of text, keeps what is Set so that Get
// returns it, answers with scripted results, and raises events through the
// sink on request. The FakeEngine_ functions steer it; tests reach them through
// the same module handle the component's binding opened.
#define CORVANEWS20_BUILDING
#include "engine/include/corvanews20.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#define FAKE_API extern "C" __attribute__((visibility("default")))

namespace {

struct Value {
    std::intptr_t integer = 0;
    std::u16string text;
    std::string bytes;
    std::u16string altText;  // the UTF-16 form handed out for n + 20000
};

struct Object {
    const std::set<int>* byteIds = nullptr;
    CorvaneWS_EventSink sink = nullptr;
    void* user = nullptr;
    std::map<std::pair<int, int>, Value> values;
    std::string lastError;
    std::u16string configAnswer;
    int configMethod = 3;  // Config is method 3 in the client, 2 in the others
    std::u16string scratch;
};

struct Failure {
    int code;
    std::string text;
};

struct State {
    std::vector<std::string> calls;
    std::vector<std::unique_ptr<Object>> objects;
    std::map<std::pair<std::string, int>, Failure> failNext;  // (function, number)
    std::map<int, std::pair<int, int>> indexCounts;            // id -> (count, code)
    int failCreates = 0;
    bool hasEventErrorResult = false;
    int eventErrorResult = 0;
    std::string configAnswer = "Config answer";
};

State& state()
{
    static State s;
    return s;
}

// Byte-array property numbers of each object; the rest hold integers or texts.
const std::set<int> kClientByteIds = {14, 38, 39, 40, 44};
const std::set<int> kServerByteIds = {8, 24, 25};
const std::set<int> kProxyByteIds = {29, 30};
const std::set<int> kCertMgrByteIds = {2, 27, 28, 31};

std::string utf8(const std::u16string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size()) c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string utf16(const std::string& s)
{
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        char32_t c;
        int n;
        if (b < 0x80) {
            c = b;
            n = 1;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            n = 2;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            n = 3;
        } else {
            c = b & 0x07;
            n = 4;
        }
        for (int k = 1; k < n && i + k < s.size(); ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += n;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += char16_t(0xD800 + (c >> 10));
            out += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            out += char16_t(c);
        }
    }
    return out;
}

std::string quotedWide(const void* p, int length)
{
    if (p == nullptr) return "null";
    const auto* s = static_cast<const char16_t*>(p);
    std::u16string text = length > 0 ? std::u16string(s, size_t(length)) : std::u16string(s);
    return "\"" + utf8(text) + "\"";
}

std::string hexBytes(const void* p, int length)
{
    if (p == nullptr) return "null";
    static const char* digits = "0123456789abcdef";
    std::string out = "bytes:";
    const auto* b = static_cast<const unsigned char*>(p);
    for (int i = 0; i < length; ++i) {
        out += digits[b[i] >> 4];
        out += digits[b[i] & 15];
    }
    return out;
}

void record(std::string line) { state().calls.push_back(std::move(line)); }

bool takeFailure(const char* fn, int number, Object* o, int& code)
{
    auto& fails = state().failNext;
    auto it = fails.find({fn, number});
    if (it == fails.end()) return false;
    code = it->second.code;
    o->lastError = it->second.text;
    fails.erase(it);
    return true;
}

Object* object(void* h) { return static_cast<Object*>(h); }

}  // namespace

// ---- the engine interface ---------------------------------------------------

namespace {

// The client's lines carry no object name (its tests came first); the other
// objects' lines start with theirs.
void* create(const char* objectName, const std::set<int>& byteIds, CorvaneWS_EventSink sink, void* user,
             void* reserved, int flags)
{
    record(std::string(objectName) + "Create reserved=" + std::string(reserved ? "set" : "0") +
           " flags=" + std::to_string(flags));
    if (state().failCreates > 0) {
        --state().failCreates;
        return nullptr;
    }
    auto o = std::make_unique<Object>();
    o->byteIds = &byteIds;
    if (&byteIds != &kClientByteIds) o->configMethod = 2;
    o->sink = sink;
    o->user = user;
    state().objects.push_back(std::move(o));
    return state().objects.back().get();
}

int destroy(void* h)
{
    record("Destroy");
    auto& objects = state().objects;
    for (auto it = objects.begin(); it != objects.end(); ++it)
        if (it->get() == h) {
            objects.erase(it);
            return 0;
        }
    return 1;
}

int checkIndex(void* h, int id, int index)
{
    (void)h;
    record("CheckIndex " + std::to_string(id) + " " + std::to_string(index));
    const auto it = state().indexCounts.find(id);
    if (it == state().indexCounts.end()) return 0;
    return index >= 0 && index < it->second.first ? 0 : it->second.second;
}

void* get(void* h, int id, int index, int* length_out, long long* value64_out)
{
    record("Get " + std::to_string(id) + " " + std::to_string(index) + (value64_out ? " v64" : ""));
    Object* o = object(h);
    if (id >= 20000) {
        Value& v = o->values[{id - 20000, index}];
        v.altText = utf16(v.bytes);
        if (length_out) *length_out = int(v.altText.size());
        return v.altText.data();
    }
    if (id >= 10000) {
        Value& v = o->values[{id - 10000, index}];
        return v.text.data();
    }
    Value& v = o->values[{id, index}];
    if (o->byteIds->count(id)) {
        if (length_out) *length_out = int(v.bytes.size());
        return v.bytes.data();
    }
    return reinterpret_cast<void*>(v.integer);
}

int set(void* h, int id, int index, const void* value, int length)
{
    Object* o = object(h);
    std::string line = "Set " + std::to_string(id) + " " + std::to_string(index) + " ";
    if (id >= 20000) {
        line += quotedWide(value, length) + " " + std::to_string(length);
        if (value) o->values[{id - 20000, index}].bytes = utf8(std::u16string(static_cast<const char16_t*>(value), size_t(length)));
    } else if (id >= 10000) {
        line += quotedWide(value, 0);
        if (value) o->values[{id - 10000, index}].text = static_cast<const char16_t*>(value);
    } else if (o->byteIds->count(id)) {
        line += hexBytes(value, length) + " " + std::to_string(length);
        o->values[{id, index}].bytes = value ? std::string(static_cast<const char*>(value), size_t(length)) : std::string();
    } else {
        line += std::to_string(reinterpret_cast<std::intptr_t>(value));
        o->values[{id, index}].integer = reinterpret_cast<std::intptr_t>(value);
    }
    record(line);
    int code = 0;
    return takeFailure("Set", id, o, code) ? code : 0;
}

int doMethod(void* h, int method, int argc, void** argv, int* arglen, void* reserved)
{
    Object* o = object(h);
    std::string line = "Do " + std::to_string(method) + " " + std::to_string(argc);
    for (int k = 0; k < argc; ++k) {
        line += " ";
        if (method == 2003 && k == 0)
            line += hexBytes(argv[k], arglen[k]) + "/" + std::to_string(arglen[k]);
        else if (method == 2003 && k == 1)
            line += argv[k] ? "buffer/" + std::to_string(arglen[k]) : "null";
        else if (arglen[k] == 0 && argv[k] != nullptr && reinterpret_cast<std::uintptr_t>(argv[k]) < 0x10000)
            line += "int:" + std::to_string(reinterpret_cast<std::uintptr_t>(argv[k]));  // no text lives that low
        else if (arglen[k] == 0)
            line += quotedWide(argv[k], 0);
        else
            line += hexBytes(argv[k], arglen[k]) + "/" + std::to_string(arglen[k]);
    }
    if (argv == nullptr || arglen == nullptr)
        line += " argv=null";
    else if (argv[argc] != nullptr || arglen[argc] != 0)
        line += " result-slot-dirty";
    if (reserved) line += " reserved";
    record(line);
    int code = 0;
    if (takeFailure("Do", method, o, code)) return code;
    if (method == 2003) {
        const std::u16string text = utf16(std::string(static_cast<const char*>(argv[0]), size_t(arglen[0])));
        if (argv[1] == nullptr) {
            argv[2] = reinterpret_cast<void*>(std::intptr_t(text.size()));
        } else {
            const size_t n = std::min(text.size(), size_t(arglen[1]));
            std::memcpy(argv[1], text.data(), n * sizeof(char16_t));
        }
    } else if (method == 10000 + o->configMethod) {
        o->configAnswer = utf16(state().configAnswer);
        argv[1] = o->configAnswer.data();
    }
    return 0;
}

const char* getLastError(void* h)
{
    record("GetLastError");
    Object* o = object(h);
    return o->lastError.empty() ? nullptr : o->lastError.c_str();
}

int setEventErrorAndCode(void* h, int code, const char* text)
{
    (void)h;
    record("SetEventErrorAndCode " + std::to_string(code) + " \"" + (text ? text : "") + "\"");
    return state().hasEventErrorResult ? state().eventErrorResult : code;
}

}  // namespace

#define FAKE_EXPORT __attribute__((visibility("default")))
#define FAKE_OBJECT(Object, prefix, byteIds)                                                                         \
    extern "C" {                                                                                                     \
    FAKE_EXPORT void* CorvaneWS_##Object##_Create(CorvaneWS_EventSink sink, void* user, void* reserved, int flags)              \
    {                                                                                                                \
        return create(prefix, byteIds, sink, user, reserved, flags);                                                 \
    }                                                                                                                \
    FAKE_EXPORT int CorvaneWS_##Object##_Destroy(void* h) { return destroy(h); }                                                 \
    FAKE_EXPORT int CorvaneWS_##Object##_CheckIndex(void* h, int id, int index) { return checkIndex(h, id, index); }             \
    FAKE_EXPORT void* CorvaneWS_##Object##_Get(void* h, int id, int index, int* length_out, long long* value64_out)             \
    {                                                                                                                \
        return get(h, id, index, length_out, value64_out);                                                           \
    }                                                                                                                \
    FAKE_EXPORT int CorvaneWS_##Object##_Set(void* h, int id, int index, const void* value, int length)                          \
    {                                                                                                                \
        return set(h, id, index, value, length);                                                                     \
    }                                                                                                                \
    FAKE_EXPORT int CorvaneWS_##Object##_Do(void* h, int method, int argc, void** argv, int* arglen, void* reserved)             \
    {                                                                                                                \
        return doMethod(h, method, argc, argv, arglen, reserved);                                                    \
    }                                                                                                                \
    FAKE_EXPORT const char* CorvaneWS_##Object##_GetLastError(void* h) { return getLastError(h); }                               \
    FAKE_EXPORT int CorvaneWS_##Object##_GetLastErrorCode(void*) { return 0; }                                                   \
    FAKE_EXPORT int CorvaneWS_##Object##_SetLastErrorAndCode(void*, int code, const char*) { return code; }                      \
    FAKE_EXPORT const char* CorvaneWS_##Object##_GetEventError(void*) { return nullptr; }                                        \
    FAKE_EXPORT int CorvaneWS_##Object##_GetEventErrorCode(void*) { return 0; }                                                  \
    FAKE_EXPORT int CorvaneWS_##Object##_SetEventErrorAndCode(void* h, int code, const char* text)                               \
    {                                                                                                                \
        return setEventErrorAndCode(h, code, text);                                                                  \
    }                                                                                                                \
    }

FAKE_OBJECT(WebSocketClient, "", kClientByteIds)
FAKE_OBJECT(WebSocketServer, "Server ", kServerByteIds)
FAKE_OBJECT(WebSocketProxy, "Proxy ", kProxyByteIds)
FAKE_OBJECT(CertMgr, "CertMgr ", kCertMgrByteIds)

extern "C" {

// Event strings are handed to the sink as pointers to this structure, so the
// component's reads and write-backs show up in the call record.
struct FakeEventString {
    std::u16string text;
};

void* CorvaneWS_EvtStr(void* value, int action, void* text, int encoding)
{
    record("EvtStr " + std::to_string(action) + " " + std::to_string(encoding) +
           (action == 2 ? " " + quotedWide(text, 0) : std::string()));
    auto* s = static_cast<FakeEventString*>(value);
    if (s == nullptr) return nullptr;
    if (action == 0) return s->text.data();
    if (action == 1) return reinterpret_cast<void*>(std::intptr_t(s->text.size()));
    if (action == 2) s->text = text ? static_cast<const char16_t*>(text) : u"";
    return value;
}

int CorvaneWS_Stream(void*, int, void*, int*) { return 0; }

}  // extern "C"

// Event strings for tests: made here, read back after the sink returned.
FAKE_API void* FakeEngine_NewEventString(const char* utf8Text)
{
    static std::vector<std::unique_ptr<FakeEventString>> strings;
    strings.push_back(std::make_unique<FakeEventString>());
    strings.back()->text = utf16(utf8Text);
    return strings.back().get();
}
FAKE_API const char* FakeEngine_EventStringText(void* value)
{
    static std::string out;
    out = utf8(static_cast<FakeEventString*>(value)->text);
    return out.c_str();
}

// ---- steering -----------------------------------------------------------------

FAKE_API void FakeEngine_Clear()
{
    State& s = state();
    s.calls.clear();
    s.failNext.clear();
    s.indexCounts.clear();
    s.failCreates = 0;
    s.hasEventErrorResult = false;
    s.configAnswer = "Config answer";
}
FAKE_API int FakeEngine_CallCount() { return int(state().calls.size()); }
FAKE_API const char* FakeEngine_Call(int i) { return state().calls.at(size_t(i)).c_str(); }
FAKE_API int FakeEngine_LiveObjects() { return int(state().objects.size()); }
FAKE_API void FakeEngine_FailNext(const char* function, int number, int code, const char* text)
{
    state().failNext[{function, number}] = {code, text ? text : ""};
}
FAKE_API void FakeEngine_FailCreates(int count) { state().failCreates = count; }
FAKE_API void FakeEngine_SetIndexCount(int id, int count, int code) { state().indexCounts[id] = {count, code}; }
FAKE_API void FakeEngine_SetEventErrorResult(int result)
{
    state().hasEventErrorResult = true;
    state().eventErrorResult = result;
}
FAKE_API void FakeEngine_SetConfigAnswer(const char* text) { state().configAnswer = text; }
FAKE_API void FakeEngine_PutInt(void* h, int id, int index, long long value)
{
    object(h)->values[{id, index}].integer = std::intptr_t(value);
}
FAKE_API void FakeEngine_PutText(void* h, int id, int index, const char* text)
{
    object(h)->values[{id, index}].text = utf16(text);
}
FAKE_API void FakeEngine_PutBytes(void* h, int id, int index, const void* data, int length)
{
    object(h)->values[{id, index}].bytes.assign(static_cast<const char*>(data), size_t(length));
}
FAKE_API int FakeEngine_Raise(void* h, int event, int argc, void** argv, int* arglen)
{
    Object* o = object(h);
    return o->sink(o->user, event, argc, argv, arglen);
}
