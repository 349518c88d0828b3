// The exported C functions. Each object kind gets the same twelve through one
// macro, so the server, proxy and certificate manager add one line each.
#include "engine/include/corvanews20.h"

#include "engine/objects/cert_mgr.h"
#include "engine/objects/engine_object.h"
#include "engine/transport/stream.h"
#include "engine/objects/websocket_client.h"
#include "engine/objects/websocket_proxy.h"
#include "engine/objects/websocket_server.h"

#include <QIODevice>

#include <cstring>

using corvane::engine::EngineObject;
using corvane::engine::EventString;

namespace {
EngineObject* obj(void* h) { return static_cast<EngineObject*>(h); }
}

#define CORVANE_DEFINE_OBJECT(Name, Class)                                                                    \
    extern "C" CORVANEWS20_API void* CorvaneWS_##Name##_Create(CorvaneWS_EventSink sink, void* user,          \
                                                               void* /*reserved*/, int /*flags*/)             \
    {                                                                                                         \
        try {                                                                                                 \
            EngineObject::ensureApplication();                                                                \
            return static_cast<EngineObject*>(new Class(sink, user));                                         \
        } catch (...) {                                                                                       \
            return nullptr;                                                                                   \
        }                                                                                                     \
    }                                                                                                         \
    extern "C" CORVANEWS20_API int CorvaneWS_##Name##_Destroy(void* h)                                        \
    {                                                                                                         \
        EngineObject::destroy(obj(h));                                                                        \
        return 0;                                                                                             \
    }                                                                                                         \
    extern "C" CORVANEWS20_API int CorvaneWS_##Name##_CheckIndex(void* h, int id, int index)                 \
    {                                                                                                         \
        return h ? obj(h)->checkIndex(id, index) : corvane::engine::kInvalidArgument;                         \
    }                                                                                                         \
    extern "C" CORVANEWS20_API void* CorvaneWS_##Name##_Get(void* h, int id, int index, int* length_out,      \
                                                            long long* value64_out)                           \
    {                                                                                                         \
        if (!h) {                                                                                             \
            if (length_out)                                                                                   \
                *length_out = 0;                                                                              \
            return nullptr;                                                                                   \
        }                                                                                                     \
        return obj(h)->get(id, index, length_out, value64_out);                                               \
    }                                                                                                         \
    extern "C" CORVANEWS20_API int CorvaneWS_##Name##_Set(void* h, int id, int index, const void* value,      \
                                                          int length)                                         \
    {                                                                                                         \
        return h ? obj(h)->set(id, index, value, length) : corvane::engine::kInvalidArgument;                 \
    }                                                                                                         \
    extern "C" CORVANEWS20_API int CorvaneWS_##Name##_Do(void* h, int method, int argc, void** argv,          \
                                                         int* arglen, void* /*reserved*/)                     \
    {                                                                                                         \
        return h ? obj(h)->doMethod(method, argc, argv, arglen) : corvane::engine::kInvalidArgument;          \
    }                                                                                                         \
    extern "C" CORVANEWS20_API const char* CorvaneWS_##Name##_GetLastError(void* h)                           \
    {                                                                                                         \
        return h ? obj(h)->lastError() : nullptr;                                                             \
    }                                                                                                         \
    extern "C" CORVANEWS20_API int CorvaneWS_##Name##_GetLastErrorCode(void* h)                               \
    {                                                                                                         \
        return h ? obj(h)->lastErrorCode() : 0;                                                               \
    }                                                                                                         \
    extern "C" CORVANEWS20_API int CorvaneWS_##Name##_SetLastErrorAndCode(void* h, int code, const char* text) \
    {                                                                                                         \
        return h ? obj(h)->setLastErrorAndCode(code, text) : code;                                            \
    }                                                                                                         \
    extern "C" CORVANEWS20_API const char* CorvaneWS_##Name##_GetEventError(void* h)                          \
    {                                                                                                         \
        return h ? obj(h)->eventError() : nullptr;                                                            \
    }                                                                                                         \
    extern "C" CORVANEWS20_API int CorvaneWS_##Name##_GetEventErrorCode(void* h)                              \
    {                                                                                                         \
        return h ? obj(h)->eventErrorCode() : 0;                                                              \
    }                                                                                                         \
    extern "C" CORVANEWS20_API int CorvaneWS_##Name##_SetEventErrorAndCode(void* h, int code,                 \
                                                                           const char* text)                  \
    {                                                                                                         \
        return h ? obj(h)->setEventErrorAndCode(code, text) : code;                                           \
    }

CORVANE_DEFINE_OBJECT(CertMgr, corvane::engine::CertMgr)

CORVANE_DEFINE_OBJECT(WebSocketClient, corvane::engine::WebSocketClient)
CORVANE_DEFINE_OBJECT(WebSocketServer, corvane::engine::WebSocketServer)
CORVANE_DEFINE_OBJECT(WebSocketProxy, corvane::engine::WebSocketProxy)

extern "C" CORVANEWS20_API void* CorvaneWS_EvtStr(void* value, int action, void* text, int encoding)
{
    auto* s = static_cast<EventString*>(value);
    if (s == nullptr)
        return nullptr;
    switch (action) {
    case 0:
        if (encoding == 2)
            return const_cast<char16_t*>(reinterpret_cast<const char16_t*>(s->text.utf16()));
        s->utf8 = s->text.toUtf8();
        return s->utf8.data();
    case 1:
        return reinterpret_cast<void*>(static_cast<intptr_t>(encoding == 2 ? s->text.size() : s->text.toUtf8().size()));
    case 2:
        if (text == nullptr)
            s->text.clear();
        else if (encoding == 2)
            s->text = QString::fromUtf16(static_cast<const char16_t*>(text));
        else
            s->text = QString::fromUtf8(static_cast<const char*>(text));
        return value;
    default:
        return nullptr;
    }
}

extern "C" CORVANEWS20_API int CorvaneWS_Stream(void* stream, int action, void* buffer, int* length)
{
    using namespace corvane::engine;
    auto* s = static_cast<EngineStream*>(stream);
    if (s == nullptr)
        return kInvalidArgument;
    switch (action) {
    case kStreamRead:
    case kStreamWrite: {
        if (length == nullptr || *length < 0 || (buffer == nullptr && *length > 0))
            return kInvalidArgument;
        const int64_t n = action == kStreamRead ? s->read(buffer, *length) : s->write(buffer, *length);
        if (n < 0) {
            *length = 0;
            return kFileError;
        }
        *length = int(n);
        return 0;
    }
    case kStreamSize: {
        if (length == nullptr)
            return kInvalidArgument;
        const int64_t n = s->size();
        *length = n > INT32_MAX ? INT32_MAX : int(n);
        return 0;
    }
    case kStreamClose:
        s->close();
        return 0;
    default:
        return kInvalidArgument;
    }
}

namespace corvane::engine {
int64_t DeviceStream::read(void* buffer, int64_t max) { return device_->read(static_cast<char*>(buffer), max); }
int64_t DeviceStream::write(const void* buffer, int64_t n) { return device_->write(static_cast<const char*>(buffer), n); }
int64_t DeviceStream::size() const { return device_->isSequential() ? -1 : device_->size(); }
void DeviceStream::close() { device_->close(); }
} // namespace corvane::engine
