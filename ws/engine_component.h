#pragma once
// Plumbing that every Corvane component uses over its engine object: the
// property table and the accessors that walk it, method calls through Do,
// error treatment, and the event sink that decodes engine events into typed
// Params structures from an event table.

#include "corvanews20_tables.h"
#include "ws/engine_binding.h"
#include "ws/wsk_core.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

namespace CorvaneWS {

// The property rows come from the engine object's numbers table
// (engine/include/corvanews20_<object>.h): number, name, type, access, index.
using corvanews20::PropertyInfo;
using corvanews20::PropType;

// ---- the engine object behind a component ------------------------------------

// Buffers for the bytes of data events, used again once nobody holds them
// any more. A large transfer arrives as thousands of events of the engine's
// read size; a fresh buffer for each is faulted in page by page and soon
// handed back to the system by the allocator, which costs more than copying
// the bytes. Handlers see ordinary byte arrays: one that is kept (queued for
// a file, say) is simply not used again until it is let go, and one that is
// changed detaches as any shared byte array does. What is kept here is
// bounded, so memory does not grow with the transfer. One thread only: the
// thread that receives the component's events.
class EventBufferPool {
public:
    QByteArray copy(const char* data, qsizetype size);

    static constexpr qsizetype kSmallest = 4 << 10;  // smaller blocks are plain copies
    static constexpr qsizetype kLargest = 2 << 20;   // larger ones are not kept
    static constexpr qsizetype kBudget = 8 << 20;    // the most this pool keeps
    static constexpr std::size_t kMaxBuffers = 128;

private:
    std::vector<QByteArray> buffers_;  // oldest first
    qsizetype kept_ = 0;               // their capacities
};

// How texts made of bytes cross: the tool's client lets the engine convert
// them (string forms under n + 20000, event texts through method 2003); the
// package's components convert them themselves with the local code page.
enum class TextForm { Engine, LocalCodePage };

class EngineObject {
public:
    explicit EngineObject(std::span<const PropertyInfo> properties, TextForm textForm = TextForm::Engine)
        : properties_(properties), textForm_(textForm)
    {
    }

    void* handle() const { return handle_; }
    const EngineTable& table() const { return *table_; }

    const PropertyInfo& property(int id) const;
    std::span<const PropertyInfo> properties() const { return properties_; }

    // Generic accessors; getters are not checked, setters and Do go through treatErr.
    int getInt(int id, int index = 0) const;
    bool getBool(int id, int index = 0) const { return getInt(id, index) != 0; }
    QString getText(int id, int index = 0) const;        // Str number
    QByteArray getBytes(int id, int index = 0) const;    // byte-array ID
    QString getBytesText(int id, int index = 0) const;   // string form of a byte array
    void setInt(int id, int value, int index = 0);
    void setBool(int id, bool value, int index = 0) { setInt(id, value ? 1 : 0, index); }
    void setText(int id, const QString& value, int index = 0);
    void setBytes(int id, const void* data, int length, int index = 0);
    void setBytes(int id, const QByteArray& value, int index = 0) { setBytes(id, value.constData(), int(value.size()), index); }
    void setBytesText(int id, const QString& value, int index = 0);

    // Raises EWSKCore for a non-zero engine result, with the engine's text.
    void treatErr(int code) const;

    // Decodes bytes that an event delivers as text: through the engine's
    // text decoding method (2003), or with the local code page.
    QString decodeText(const void* bytes, int length) const;

    // The bytes of a data event, in a buffer of the component's pool.
    QByteArray eventBytes(const void* data, int length) const
    {
        return data && length > 0 ? eventBuffers_.copy(static_cast<const char*>(data), length) : QByteArray();
    }

    // Asks the engine to show its about box (method 255); nothing when there
    // is no engine object.
    void showAbout() const;

    // Argument list of a Do call: one slot more than the arguments, zeroed,
    // so that a result lands after them.
    class Call {
    public:
        explicit Call(int method) : method_(method) {}
        Call& text(const QString& value);
        Call& bytes(const void* data, int length);
        Call& integer(std::intptr_t value);
        int argc() const { return int(argv_.size()); }
        // Runs the call with treatErr; returns the result slot's text.
        void run(const EngineObject& object);
        QString resultText() const;

    private:
        int method_;
        std::vector<QString> texts_;  // own the UTF-16 for the call; moving a QString keeps its buffer
        std::vector<void*> argv_;
        std::vector<int> arglen_;
        void* result_ = nullptr;
    };

    // Binds `objectName` of `library` and creates the engine object; raises
    // EOutOfMemory with the texts the component gives.
    void createEngineObject(EngineLibrary& library, const char* objectName, EngineEventSink sink, void* user,
                            const QString& libraryMissing, const QString& createFailed);
    void destroyEngineObject();

private:
    void checkIndex(const PropertyInfo& p, int index) const;

    std::span<const PropertyInfo> properties_;
    TextForm textForm_;
    const EngineTable* table_ = nullptr;
    void* handle_ = nullptr;
    mutable EventBufferPool eventBuffers_;
};

// ---- events -----------------------------------------------------------------

// The text form of the data a data event delivers. It is decoded the first
// time a handler reads it and kept from then on, so a handler that only wants
// the bytes (camera pictures, recorded files) never pays for a decode.
// It shares the bytes of the event's byte-array field; nothing is copied for
// it. The component it came from decodes it and must still exist at the first read.
class EventText {
public:
    EventText() = default;
    EventText(const EngineObject& object, QByteArray bytes) : object_(&object), bytes_(std::move(bytes)) {}
    EventText& operator=(const QString& text)
    {
        object_ = nullptr;
        bytes_ = QByteArray();
        text_ = text;
        return *this;
    }

    const QString& value() const;
    // Reads as the text it stands for wherever a QString is wanted.
    operator const QString&() const { return value(); }  // NOLINT(google-explicit-constructor)
    bool isEmpty() const { return value().isEmpty(); }
    bool decoded() const { return text_.has_value(); }

private:
    const EngineObject* object_ = nullptr;
    QByteArray bytes_;
    mutable std::optional<QString> text_;
};

// The values of one engine event, read the way the event table says.
class EventArgs {
public:
    EventArgs(const EngineObject& object, int argc, void** argv, int* arglen)
        : object_(object), argc_(argc), argv_(argv), arglen_(arglen)
    {
    }
    int integer(int k) const { return int(reinterpret_cast<std::intptr_t>(at(k))); }
    bool boolean(int k) const { return at(k) != nullptr; }
    QString wide(int k) const;
    QByteArray bytes(int k) const;
    // The same, in a buffer that the component uses again once it is let go
    // (the data of data events, which come in large numbers).
    QByteArray eventBytes(int k) const { return object_.eventBytes(at(k), length(k)); }
    QString text(int k) const { return object_.decodeText(at(k), length(k)); }
    // The text form of bytes already read from this event, decoded when first read.
    EventText lazyText(const QByteArray& bytes) const { return EventText(object_, bytes); }
    void setBoolean(int k, bool value) const { setInteger(k, value ? 1 : 0); }
    void setInteger(int k, int value) const
    {
        if (k < argc_) argv_[k] = reinterpret_cast<void*>(std::intptr_t(value));
    }
    // Event strings live in the engine and are read and replaced through
    // CorvaneWS_EvtStr as UTF-16 (encoding 2).
    QString eventString(int k) const;
    void setEventString(int k, const QString& value) const;

private:
    void* at(int k) const { return k < argc_ ? argv_[k] : nullptr; }
    int length(int k) const { return k < argc_ && arglen_ ? arglen_[k] : 0; }

    const EngineObject& object_;
    int argc_;
    void** argv_;
    int* arglen_;
};

enum class FieldKind { Int, Bool, Wide, Bytes, Text, EventString };

template <class P, class T>
struct Field {
    T P::*member;
    FieldKind kind;
    int arg;
    bool writeBack = false;  // copied back into argv after the handler
};

template <class P, class T>
constexpr Field<P, T> field(T P::*member, FieldKind kind, int arg, bool writeBack = false)
{
    return {member, kind, arg, writeBack};
}

// The data of a data event, which the handler gets twice: as bytes (copied
// once out of the engine's memory, which is gone after the event) and as text
// that shares them and is decoded only when read.
template <class P>
struct TextField {
    EventText P::*text;
    QByteArray P::*bytes;
    int arg;
};

template <class P>
constexpr TextField<P> textField(EventText P::*text, QByteArray P::*bytes, int arg)
{
    return {text, bytes, arg};
}

namespace detail {
template <class P, class T>
void decodeField(P& params, const Field<P, T>& f, const EventArgs& args)
{
    T& out = params.*f.member;
    if constexpr (std::is_same_v<T, int>) {
        out = args.integer(f.arg);
    } else if constexpr (std::is_same_v<T, bool>) {
        out = args.boolean(f.arg);
    } else if constexpr (std::is_same_v<T, QByteArray>) {
        out = args.bytes(f.arg);
    } else if (f.kind == FieldKind::Text) {
        out = args.text(f.arg);
    } else if (f.kind == FieldKind::EventString) {
        out = args.eventString(f.arg);
    } else {
        out = args.wide(f.arg);
    }
}
template <class P>
void decodeField(P& params, const TextField<P>& f, const EventArgs& args)
{
    params.*f.bytes = args.eventBytes(f.arg);
    params.*f.text = args.lazyText(params.*f.bytes);
}
template <class P>
void writeBackField(const P&, const TextField<P>&, const EventArgs&)
{
}
template <class P, class T>
void writeBackField(const P& params, const Field<P, T>& f, const EventArgs& args)
{
    if (!f.writeBack) return;
    if constexpr (std::is_same_v<T, bool>) {
        args.setBoolean(f.arg, params.*f.member);
    } else if constexpr (std::is_same_v<T, int>) {
        args.setInteger(f.arg, params.*f.member);
    } else if constexpr (std::is_same_v<T, QString>) {
        if (f.kind == FieldKind::EventString) args.setEventString(f.arg, params.*f.member);
    }
}
}  // namespace detail

// Builds P from the engine's values along P::fields().
template <class P>
P decodeParams(const EventArgs& args)
{
    P params{};
    std::apply([&](const auto&... f) { (detail::decodeField(params, f, args), ...); }, P::fields());
    return params;
}

template <class P>
void writeBackParams(const P& params, const EventArgs& args)
{
    std::apply([&](const auto&... f) { (detail::writeBackField(params, f, args), ...); }, P::fields());
}

template <class P>
using EventHandler = std::function<void(QObject* Sender, P& Params)>;

// Binds a member function as an event handler, the way a form binds its own
// methods to its components' events.
template <class Obj, class P>
EventHandler<P> bindEvent(Obj* object, void (Obj::*method)(QObject*, P&))
{
    return [object, method](QObject* sender, P& params) { (object->*method)(sender, params); };
}

// One row of a component's event table.
template <class C>
struct EventEntry {
    int number;
    const char* name;  // as in "An unhandled error occurred in the DataIn event handler: "
    bool (*assigned)(const C&);
    void (*invoke)(C&, const EventArgs&);
};

template <class C, class P, EventHandler<P> C::*Slot>
constexpr EventEntry<C> eventEntry(int number, const char* name)
{
    return {number, name, [](const C& c) { return bool(c.*Slot); },
            [](C& c, const EventArgs& args) {
                P params = decodeParams<P>(args);
                (c.*Slot)(&c, params);
                writeBackParams(params, args);
            }};
}

// Records a handler's exception with the engine; returns the engine's result.
int reportHandlerError(const EngineObject& object, const char* eventName, const std::exception& e, int code);
QString handlerErrorText(const char* eventName, const std::exception& e);

// The sink's work for every component: empty slots decode nothing; a
// handler's exception is recorded with the engine and then raised as the
// component's error event (never from the error event itself).
template <class C>
int dispatchEvent(C& component, std::span<const EventEntry<C>> events, int errorEvent, int event, int argc,
                  void** argv, int* arglen)
{
    const EventEntry<C>* entry = nullptr;
    for (const auto& e : events)
        if (e.number == event) entry = &e;
    if (entry == nullptr || !entry->assigned(component)) return 0;
    const EngineObject& object = component.engineObject();
    const EventArgs args(object, argc, argv, arglen);
    int code = 0;
    QString text;
    try {
        entry->invoke(component, args);
        return 0;
    } catch (const EWSKCore& e) {
        code = reportHandlerError(object, entry->name, e, e.Code);
        text = handlerErrorText(entry->name, e);
    } catch (const std::exception& e) {
        code = reportHandlerError(object, entry->name, e, -1);
        text = handlerErrorText(entry->name, e);
    }
    if (event != errorEvent) {
        for (const auto& e : events)
            if (e.number == errorEvent && e.assigned(component)) {
                try {
                    component.raiseErrorEvent(code, text, event, args);
                } catch (const std::exception&) {
                    // The first failure is the one on record; an error
                    // handler that fails in turn raises nothing further.
                }
            }
    }
    return code;
}

}  // namespace CorvaneWS
