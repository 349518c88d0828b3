// One host of the engine's C interface for the tests, over any object's
// function table: properties, methods and events go through the exported
// functions, and events are decoded by the argument types of the object's
// public table, so every event's shape is checked against it as it comes.
#pragma once

#include "engine/include/corvanews20.h"
#include "engine/include/corvanews20_certmgr.h"
#include "engine/include/corvanews20_client.h"
#include "engine/include/corvanews20_proxy.h"
#include "engine/include/corvanews20_server.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <cstring>
#include <functional>
#include <map>
#include <vector>

namespace engine_test {

inline QString wide(const void* p) { return p ? QString::fromUtf16(static_cast<const char16_t*>(p)) : QString(); }
inline intptr_t num(const void* p) { return reinterpret_cast<intptr_t>(p); }

// One object's exported functions and its numbers.
struct EngineApi {
    const corvanews20::ObjectTables& tables;
    void* (*create)(CorvaneWS_EventSink, void*, void*, int);
    int (*destroy)(void*);
    int (*checkIndex)(void*, int, int);
    void* (*get)(void*, int, int, int*, long long*);
    int (*set)(void*, int, int, const void*, int);
    int (*call)(void*, int, int, void**, int*, void*);
    const char* (*lastError)(void*);
    int (*lastErrorCode)(void*);
};

#define ENGINE_TEST_API(Object, ns)                                                                           \
    EngineApi { ns::kTables, &CorvaneWS_##Object##_Create, &CorvaneWS_##Object##_Destroy,                    \
                &CorvaneWS_##Object##_CheckIndex, &CorvaneWS_##Object##_Get, &CorvaneWS_##Object##_Set,      \
                &CorvaneWS_##Object##_Do, &CorvaneWS_##Object##_GetLastError,                                \
                &CorvaneWS_##Object##_GetLastErrorCode }

inline const EngineApi kClientApi = ENGINE_TEST_API(WebSocketClient, corvanews20::client);
inline const EngineApi kServerApi = ENGINE_TEST_API(WebSocketServer, corvanews20::server);
inline const EngineApi kProxyApi = ENGINE_TEST_API(WebSocketProxy, corvanews20::proxy);
inline const EngineApi kCertMgrApi = ENGINE_TEST_API(CertMgr, corvanews20::certmgr);

#undef ENGINE_TEST_API

// One recorded event: integers as numbers, texts (wide or event strings) as
// text, a byte block as bytes.
struct Recorded {
    int event = 0;
    std::vector<intptr_t> ints;
    QStringList texts;
    QByteArray bytes;
};

// The events a host recorded, oldest first.
struct EventLog {
    std::vector<Recorded> events;

    size_t count(int event) const
    {
        size_t n = 0;
        for (const Recorded& r : events)
            n += r.event == event;
        return n;
    }
    const Recorded* last(int event) const
    {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->event == event)
                return &*it;
        return nullptr;
    }
    std::vector<Recorded> of(int event) const
    {
        std::vector<Recorded> out;
        for (const Recorded& r : events)
            if (r.event == event)
                out.push_back(r);
        return out;
    }
};

// Pumps until pred holds or ms pass. doEvents runs the object's own DoEvents
// and returns false once there is no object left, when Qt's loop runs instead.
inline bool pumpUntil(const std::function<bool()>& pred, int ms, const std::function<bool()>& doEvents)
{
    QDeadlineTimer deadline(ms);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        if (!doEvents())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

class ObjectHost : public EventLog {
public:
    using Handler = std::function<int(int argc, void** argv, int* arglen)>;
    // A method argument, taken by the type of its row in the object's table.
    struct Arg {
        QString text{};
        QByteArray bytes{};
        intptr_t number = 0;
    };

    explicit ObjectHost(const EngineApi& api) : api_(api) { h_ = api_.create(&ObjectHost::sink, this, nullptr, 1); }
    virtual ~ObjectHost()
    {
        if (h_)
            api_.destroy(h_);
    }
    ObjectHost(const ObjectHost&) = delete;
    ObjectHost& operator=(const ObjectHost&) = delete;

    void* handle() const { return h_; }
    // The object is gone already (destroyed from elsewhere).
    void forget() { h_ = nullptr; }
    // Destroys the object now (also from inside one of its events).
    void destroy()
    {
        api_.destroy(h_);
        h_ = nullptr;
    }

    int setInt(int id, intptr_t v, int index = 0) { return api_.set(h_, id, index, reinterpret_cast<void*>(v), 0); }
    int setText(int id, const QString& text, int index = 0)
    {
        return api_.set(h_, id + corvanews20::kStrOffset, index, text.utf16(), 0);
    }
    int setBytes(int id, const QByteArray& b, int index = 0)
    {
        return api_.set(h_, id, index, b.isEmpty() ? nullptr : b.constData(), int(b.size()));
    }
    intptr_t getInt(int id, int index = 0) { return num(api_.get(h_, id, index, nullptr, nullptr)); }
    QString getText(int id, int index = 0)
    {
        return wide(api_.get(h_, id + corvanews20::kStrOffset, index, nullptr, nullptr));
    }
    QByteArray getBytes(int id, int index = 0)
    {
        int n = 0;
        void* p = api_.get(h_, id, index, &n, nullptr);
        return p ? QByteArray(static_cast<const char*>(p), n) : QByteArray();
    }
    int checkIndex(int id, int index) { return api_.checkIndex(h_, id, index); }
    QString lastError() const
    {
        const char* t = api_.lastError(h_);
        return t ? QString::fromUtf8(t) : QString();
    }
    int lastErrorCode() const { return api_.lastErrorCode(h_); }

    // Do as the host calls it: argv[argc] is where a method leaves its text.
    int doRaw(int doNumber, std::vector<void*> argv, std::vector<int> arglen = {})
    {
        const size_t argc = argv.size();
        argv.push_back(nullptr);
        arglen.resize(argc + 1, 0);
        const int rc = api_.call(h_, doNumber, int(argc), argv.data(), arglen.data(), nullptr);
        result = wide(argv[argc]);
        return rc;
    }
    // A method by its Do number, its arguments typed by its table row.
    int call(int doNumber, const std::vector<Arg>& args = {})
    {
        const corvanews20::MethodInfo* info =
            corvanews20::findMethod(api_.tables, doNumber - corvanews20::kMethodOffset);
        EXPECT_NE(info, nullptr) << api_.tables.name << " has no method " << doNumber;
        std::vector<void*> argv(args.size(), nullptr);
        std::vector<int> arglen(args.size(), 0);
        for (size_t k = 0; k < args.size(); ++k) {
            const corvanews20::ArgType type =
                info && k < info->args.size() ? info->args[k].type : corvanews20::ArgType::Int;
            switch (type) {
            case corvanews20::ArgType::WideText:
                argv[k] = const_cast<char16_t*>(reinterpret_cast<const char16_t*>(args[k].text.utf16()));
                break;
            case corvanews20::ArgType::Bytes:
                argv[k] = args[k].bytes.isEmpty() ? nullptr : const_cast<char*>(args[k].bytes.constData());
                arglen[k] = int(args[k].bytes.size());
                break;
            default: argv[k] = reinterpret_cast<void*>(args[k].number); break;
            }
        }
        return doRaw(doNumber, std::move(argv), std::move(arglen));
    }
    // Method `name` of the object's table.
    int callNamed(const char* name, const std::vector<Arg>& args = {})
    {
        return call(corvanews20::kMethodOffset + methodNumber(name), args);
    }
    QString config(const QString& setting)
    {
        lastRc = callNamed("Config", {{setting}});
        return result;
    }

    // Pumps events (through the object's DoEvents) until pred or the deadline.
    bool waitUntil(const std::function<bool()>& pred, int ms = 15000)
    {
        return pumpUntil(pred, ms, [this] {
            if (!h_)
                return false;
            callNamed("DoEvents");
            return true;
        });
    }

    std::map<int, Handler> handlers;
    bool record = true;   // false: events are not kept (long runs)
    QString result;       // the text the last method left
    int lastRc = 0;

protected:
    // A data event, before it is recorded: true when the host kept it its own way.
    virtual bool takeData(int /*event*/, void** /*argv*/, int* /*arglen*/) { return false; }
    // The host's answer to an event, after it was recorded.
    virtual int answer(int event, int argc, void** argv, int* arglen)
    {
        auto it = handlers.find(event);
        return it == handlers.end() ? 0 : it->second(argc, argv, arglen);
    }

private:
    int methodNumber(const char* name) const
    {
        for (const corvanews20::MethodInfo& m : api_.tables.methods)
            if (std::strcmp(m.name, name) == 0)
                return m.number;
        ADD_FAILURE() << api_.tables.name << " has no method " << name;
        return 0;
    }

    static int sink(void* user, int event, int argc, void** argv, int* arglen)
    {
        return static_cast<ObjectHost*>(user)->onEvent(event, argc, argv, arglen);
    }

    int onEvent(int event, int argc, void** argv, int* arglen)
    {
        const corvanews20::EventInfo* info = corvanews20::findEvent(api_.tables, event);
        EXPECT_NE(info, nullptr) << api_.tables.name << " raised unknown event " << event;
        if (info) {
            EXPECT_EQ(size_t(argc), info->args.size()) << info->name;
        }
        if (!takeData(event, argv, arglen) && record && info) {
            Recorded r;
            r.event = event;
            for (size_t k = 0; k < size_t(argc) && k < info->args.size(); ++k) {
                switch (info->args[k].type) {
                case corvanews20::ArgType::WideText: r.texts << wide(argv[k]); break;
                case corvanews20::ArgType::EventString:
                    r.texts << (argv[k] ? wide(CorvaneWS_EvtStr(argv[k], 0, nullptr, 2)) : QString());
                    break;
                case corvanews20::ArgType::Bytes:
                    r.bytes = QByteArray(static_cast<const char*>(argv[k]), arglen[k]);
                    break;
                default: r.ints.push_back(num(argv[k])); break;
                }
            }
            events.push_back(std::move(r));
        }
        return answer(event, argc, argv, arglen);
    }

    const EngineApi& api_;
    void* h_ = nullptr;
};

} // namespace engine_test
