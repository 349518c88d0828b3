#include "engine/objects/engine_object.h"

#include "engine/objects/event_args.h"

#include "engine/transport/deferred_delete.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace corvane::engine {

namespace {
// Created only for hosts without Qt. It goes with the host's last object
// (a later Create makes a new one), never from an exit handler: at process
// exit Qt's own globals may already be gone.
QCoreApplication* g_ownApplication = nullptr;
int g_argc = 0;
char* g_argv[] = {nullptr};
int g_liveObjects = 0;

void releaseOwnApplication()
{
    // Inside a socket signal the sockets still need the event dispatcher; the
    // application then stays until a later last object goes.
    if (g_ownApplication == nullptr || QCoreApplication::instance() != g_ownApplication || g_liveObjects > 0
        || insideEventLoopEntry())
        return;
    QCoreApplication* app = g_ownApplication;
    g_ownApplication = nullptr;
    delete app;
}

bool supportedCodePage(int64_t cp)
{
    return cp == 0 || cp == 65001 || cp == 28591 || cp == 20127;
}
} // namespace

std::vector<PropertyDef> buildPropertyDefs(const corvanews20::ObjectTables& tables,
                                           std::span<const PropertyLimits> limits)
{
    std::vector<PropertyDef> defs;
    defs.reserve(tables.properties.size());
    for (const corvanews20::PropertyInfo& p : tables.properties) {
        PropertyDef d{p.number, p.name, p.type, p.access, p.indexName};
        for (const PropertyLimits& l : limits) {
            if (l.id == p.number) {
                d.minValue = l.minValue;
                d.maxValue = l.maxValue;
                d.defaultInt = l.defaultInt;
                d.defaultText = l.defaultText;
                break;
            }
        }
        defs.push_back(d);
    }
    return defs;
}

void EngineObject::ensureApplication()
{
    if (QCoreApplication::instance() == nullptr)
        g_ownApplication = new QCoreApplication(g_argc, g_argv);
}

EngineObject::EngineObject(CorvaneWS_EventSink sink, void* user, std::span<const PropertyDef> properties,
                           std::span<const ConfigDef> config)
    : sink_(sink), user_(user), properties_(properties), configDefs_(config)
{
    ++g_liveObjects;
    values_.resize(properties_.size());
    resetStoredProperties();
    configValues_.resize(configDefs_.size());
    for (size_t k = 0; k < configDefs_.size(); ++k) {
        configValues_[k].i = configDefs_[k].defaultInt;
        configValues_[k].text = QString::fromUtf8(configDefs_[k].defaultText);
    }
}

EngineObject::~EngineObject()
{
    // After whatever this object's destructors retired, which may still
    // need the event dispatcher when they go.
    if (--g_liveObjects == 0)
        deferDelete([] { releaseOwnApplication(); });
}

void EngineObject::destroy(EngineObject* object)
{
    if (object == nullptr)
        return;
    if (insideEngine()) {
        if (!object->zombie_) {
            object->zombie_ = true;
            object->onDestroyRequested();
            deferDelete([object] { delete object; });
        }
        return;
    }
    delete object;
}

void EngineObject::resetStoredProperties()
{
    for (size_t k = 0; k < properties_.size(); ++k) {
        const PropertyDef& d = properties_[k];
        Value v;
        v.i = d.defaultInt;
        if (d.type == PropType::String)
            v.text = QString::fromUtf8(d.defaultText);
        else if (d.type == PropType::Bytes)
            v.bytes = QByteArray(d.defaultText);
        values_[k] = std::move(v);
    }
}

const PropertyDef* EngineObject::findProperty(int id) const
{
    // Tables are small and ordered by number; a direct hit is the common case.
    if (id >= 1 && size_t(id) <= properties_.size() && properties_[id - 1].id == id)
        return &properties_[id - 1];
    for (const PropertyDef& d : properties_)
        if (d.id == id)
            return &d;
    return nullptr;
}

Value& EngineObject::stored(int id)
{
    return values_[size_t(findProperty(id) - properties_.data())];
}

const Value& EngineObject::stored(int id) const
{
    return values_[size_t(findProperty(id) - properties_.data())];
}

int EngineObject::fail(int code, std::string_view detail)
{
    lastErrorCode_ = code;
    lastErrorText_ = errorText(code, detail);
    return code;
}

int EngineObject::setLastErrorAndCode(int code, const char* text)
{
    lastErrorCode_ = code;
    lastErrorText_ = text ? text : "";
    return code;
}

int EngineObject::setEventErrorAndCode(int code, const char* text)
{
    eventErrorCode_ = code;
    eventErrorText_ = text ? text : "";
    return code;
}

int EngineObject::raise(int event, int argc, void** argv, int* arglen)
{
    if (!hasSink())
        return 0;
    EntryGuard guard(EntryFrom::Host);
    return sink_(user_, event, argc, argv, arglen);
}

int EngineObject::checkIndex(int id, int index)
{
    EntryGuard guard(EntryFrom::Host);
    const int base = id >= kAltOffset ? id - kAltOffset : id >= kStrOffset ? id - kStrOffset : id;
    const PropertyDef* d = findProperty(base);
    if (d == nullptr)
        return fail(kUnknownProperty, std::to_string(id));
    if (d->indexName == nullptr)
        return index == 0 ? 0 : fail(kInvalidIndex, d->name);
    if (!validIndex(*d, index))
        return fail(kInvalidIndex, d->indexName);
    return 0;
}

void* EngineObject::get(int id, int index, int* lengthOut, long long* value64Out)
{
    EntryGuard guard(EntryFrom::Host);
    if (lengthOut)
        *lengthOut = 0;
    const int form = id >= kAltOffset ? 2 : id >= kStrOffset ? 1 : 0;
    const PropertyDef* d = findProperty(id - form * kStrOffset);
    if (d == nullptr || (form == 1 && d->type != PropType::String) || (form == 2 && d->type != PropType::Bytes)) {
        fail(kUnknownProperty, std::to_string(id));
        return nullptr;
    }
    if (!(d->access & kRead)) {
        fail(kWriteOnlyProperty, d->name);
        return nullptr;
    }
    if (d->indexName != nullptr && !validIndex(*d, index)) {
        fail(kInvalidIndex, d->indexName);
        return nullptr;
    }
    Value computed;
    const Value* v = &computed;
    if (!readProperty(*d, index, computed))
        v = &values_[size_t(d - properties_.data())];
    switch (d->type) {
    case PropType::Bool:
    case PropType::Int:
        if (value64Out)
            *value64Out = d->type == PropType::Bool ? (v->i != 0) : v->i;
        return reinterpret_cast<void*>(static_cast<intptr_t>(d->type == PropType::Bool ? (v->i != 0) : v->i));
    case PropType::String:
        if (form == 1) {
            resultText_ = v->text;
            return const_cast<char16_t*>(reinterpret_cast<const char16_t*>(resultText_.utf16()));
        }
        resultBytes_ = v->text.toUtf8();
        if (lengthOut)
            *lengthOut = int(resultBytes_.size());
        return resultBytes_.data();
    case PropType::Bytes:
        if (form == 2) {
            resultText_ = decodeText(v->bytes.constData(), v->bytes.size());
            if (lengthOut)
                *lengthOut = int(resultText_.size());
            return const_cast<char16_t*>(reinterpret_cast<const char16_t*>(resultText_.utf16()));
        }
        resultBytes_ = v->bytes;
        if (lengthOut)
            *lengthOut = int(resultBytes_.size());
        return resultBytes_.isEmpty() ? nullptr : resultBytes_.data();
    }
    return nullptr;
}

int EngineObject::set(int id, int index, const void* value, int length)
{
    EntryGuard guard(EntryFrom::Host);
    const int form = id >= kAltOffset ? 2 : id >= kStrOffset ? 1 : 0;
    const PropertyDef* d = findProperty(id - form * kStrOffset);
    if (d == nullptr || (form == 1 && d->type != PropType::String) || (form == 2 && d->type != PropType::Bytes))
        return fail(kUnknownProperty, std::to_string(id));
    if (!(d->access & kWrite))
        return fail(kReadOnlyProperty, d->name);
    if (d->indexName != nullptr && !validIndex(*d, index))
        return fail(kInvalidIndex, d->indexName);
    Value in;
    in.form = form;
    switch (d->type) {
    case PropType::Bool:
        in.i = reinterpret_cast<intptr_t>(value) != 0;
        break;
    case PropType::Int:
        in.i = static_cast<int64_t>(reinterpret_cast<intptr_t>(value));
        if (d->minValue <= d->maxValue && (in.i < d->minValue || in.i > d->maxValue))
            return fail(kInvalidValue, d->name);
        break;
    case PropType::String:
        if (form == 1)
            in.text = wideArg(const_cast<void*>(value), length);
        else
            in.text = QString::fromUtf8(static_cast<const char*>(value), value ? length : 0);
        break;
    case PropType::Bytes:
        if (form == 2)
            in.bytes = encodeText(wideArg(const_cast<void*>(value), length));
        else if (value != nullptr && length > 0)
            in.bytes = QByteArray(static_cast<const char*>(value), length);
        break;
    }
    const int rc = writeProperty(*d, index, in);
    if (rc >= 0)
        return rc;
    values_[size_t(d - properties_.data())] = std::move(in);
    return 0;
}

int EngineObject::doMethod(int method, int argc, void** argv, int* arglen)
{
    EntryGuard guard(EntryFrom::Host);
    if (argc < 0 || (argc > 0 && argv == nullptr))
        return fail(kInvalidArgument, "argv");
    if (method == kDecodeTextMethod)
        return decodeTextMethod(argc, argv, arglen);
    if (method == kAboutBoxMethod) {
        showAboutBox();
        return 0;
    }
    if (method <= kMethodOffset || method >= kMethodOffset + 1000)
        return fail(kUnknownMethod, std::to_string(method));
    return invoke(method - kMethodOffset, argc, argv, arglen);
}

// The build names the plugin's file; programs that compile this source on
// their own (the fuzzers) get the usual name.
#ifndef CORVANEWS20_ABOUT_PLUGIN
#define CORVANEWS20_ABOUT_PLUGIN "libcorvanews20about.so"
#endif

namespace {

using AboutBoxFunction = int (*)(const char* title, const char* text);

// The message box comes from a plugin near this library (by name when the
// library has no file of its own, as when a program carries it in memory),
// loaded the first time it is needed and kept.
AboutBoxFunction aboutBoxPlugin()
{
    static const AboutBoxFunction function = []() -> AboutBoxFunction {
        void* module = nullptr;
        Dl_info self{};
        if (dladdr(reinterpret_cast<void*>(&aboutBoxPlugin), &self) != 0 && self.dli_fname != nullptr) {
            const std::string path(self.dli_fname);
            const size_t slash = path.rfind('/');
            // Installed, it sits in the engine's own folder; in a build tree, beside the engine.
            for (const char* folder : {"corvanews20/", ""}) {
                if (slash == std::string::npos || module != nullptr) break;
                module = dlopen((path.substr(0, slash + 1) + folder + CORVANEWS20_ABOUT_PLUGIN).c_str(), RTLD_NOW | RTLD_LOCAL);
            }
        }
        if (module == nullptr)
            module = dlopen(CORVANEWS20_ABOUT_PLUGIN, RTLD_NOW | RTLD_LOCAL);
        return module != nullptr ? reinterpret_cast<AboutBoxFunction>(dlsym(module, "corvanews20_about_box")) : nullptr;
    }();
    return function;
}

} // namespace

void EngineObject::showAboutBox()
{
    const QString product = QStringLiteral("Corvane WebSocket Server 2020");
    const QString text = product + QStringLiteral("\nVersion 20.0\nBuild 7239");
    // Widgets only for a host that runs them already; a host without them (a
    // plain C program, a service) still gets the facts.
    QCoreApplication* app = QCoreApplication::instance();
    if (app != nullptr && app->inherits("QApplication")) {
        if (AboutBoxFunction box = aboutBoxPlugin()) {
            box((QStringLiteral("About ") + product).toUtf8().constData(), text.toUtf8().constData());
            return;
        }
    }
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

QString EngineObject::wideArg(void* p, int len)
{
    if (p == nullptr)
        return {};
    return len > 0 ? QString::fromUtf16(static_cast<const char16_t*>(p), len)
                   : QString::fromUtf16(static_cast<const char16_t*>(p));
}

QByteArray EngineObject::bytesArg(void* p, int len)
{
    if (p == nullptr || len <= 0)
        return {};
    return QByteArray::fromRawData(static_cast<const char*>(p), len);
}

void EngineObject::setWideResult(void** argv, int* arglen, int k, const QString& text)
{
    resultText_ = text;
    argv[k] = const_cast<char16_t*>(reinterpret_cast<const char16_t*>(resultText_.utf16()));
    if (arglen)
        arglen[k] = 0;
}

// Two-pass decoding: the host asks the length first, then passes its buffer.
// The second pass reuses the first pass's text. A length query always decodes
// afresh: a host that asked only the length may since have put other bytes at
// the same address (the engine's own read buffer does exactly that between
// events).
int EngineObject::decodeTextMethod(int argc, void** argv, int* arglen)
{
    if (argc < 2 || arglen == nullptr)
        return fail(kInvalidArgument, "text decoding needs bytes and a buffer");
    const char* data = static_cast<const char*>(argv[0]);
    const qsizetype n = data ? arglen[0] : 0;
    const bool lengthQuery = argv[1] == nullptr || arglen[1] <= 0;
    if (lengthQuery || decodeCacheKey_ != data || decodeCacheSize_ != n) {
        decodeCache_ = decodeText(data, n);
        decodeCacheKey_ = data;
        decodeCacheSize_ = n;
    }
    if (argv[1] != nullptr && arglen[1] > 0) {
        const qsizetype count = std::min<qsizetype>(arglen[1], decodeCache_.size());
        std::memcpy(argv[1], decodeCache_.utf16(), size_t(count) * sizeof(char16_t));
        decodeCacheKey_ = nullptr;   // the host may reuse the bytes' memory
    }
    argv[2] = reinterpret_cast<void*>(static_cast<intptr_t>(decodeCache_.size()));
    return 0;
}

QString EngineObject::decodeText(const char* data, qsizetype n) const
{
    if (data == nullptr || n <= 0)
        return {};
    const int64_t cp = configInt("CodePage");
    if (cp == 28591 || cp == 20127)
        return QString::fromLatin1(data, n);
    return QString::fromUtf8(data, n);
}

QByteArray EngineObject::encodeText(const QString& text) const
{
    const int64_t cp = configInt("CodePage");
    if (cp == 28591 || cp == 20127)
        return text.toLatin1();
    return text.toUtf8();
}

// ---- Config ----

int64_t EngineObject::configInt(const char* name) const
{
    for (size_t k = 0; k < configDefs_.size(); ++k)
        if (std::strcmp(configDefs_[k].name, name) == 0)
            return configValues_[k].i;
    return 0;
}

QString EngineObject::configText(const char* name) const
{
    for (size_t k = 0; k < configDefs_.size(); ++k)
        if (std::strcmp(configDefs_[k].name, name) == 0)
            return configValues_[k].text;
    return {};
}

protocol::DeflateSettings EngineObject::deflateSettings() const
{
    protocol::DeflateSettings d;
    d.enabled = configInt("PerMessageDeflate") != 0;
    d.maxWindowBits = int(configInt("PerMessageDeflateWindowBits"));
    d.memLevel = int(configInt("PerMessageDeflateMemLevel"));
    d.noContextTakeover = configInt("PerMessageDeflateNoContextTakeover") != 0;
    return d;
}

// "Name=Value" sets, "Name" asks; several settings may be given one per line.
// The answer is the value of the last setting named.
int EngineObject::configure(const QString& settings, QString& answer)
{
    const QStringList lines = settings.split(QRegularExpression("[\r\n]+"), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf('=');
        const QString name = (eq < 0 ? line : line.left(eq)).trimmed();
        if (name.isEmpty())
            continue;
        size_t k = 0;
        while (k < configDefs_.size() && name.compare(QLatin1String(configDefs_[k].name), Qt::CaseInsensitive) != 0)
            ++k;
        if (k == configDefs_.size())
            return fail(kInvalidConfig, name.toStdString());
        const ConfigDef& d = configDefs_[k];
        Value& v = configValues_[k];
        if (eq >= 0) {
            const QString text = line.mid(eq + 1).trimmed();
            if (d.type == ConfigType::String) {
                v.text = text;
            } else {
                bool ok = false;
                int64_t n = text.toLongLong(&ok);
                if (!ok && d.type == ConfigType::Bool) {
                    ok = text.compare("true", Qt::CaseInsensitive) == 0 || text.compare("false", Qt::CaseInsensitive) == 0;
                    n = text.compare("true", Qt::CaseInsensitive) == 0;
                }
                if (d.type == ConfigType::Bool)
                    n = n != 0;
                if (!ok || n < d.minValue || n > d.maxValue
                    || (std::strcmp(d.name, "CodePage") == 0 && !supportedCodePage(n)))
                    return fail(kInvalidConfig, line.toStdString());
                v.i = n;
            }
            onConfigChanged(d);
        }
        answer = d.type == ConfigType::String ? v.text
               : d.type == ConfigType::Bool   ? QString(v.i ? "True" : "False")
                                              : QString::number(v.i);
    }
    return 0;
}

void EngineObject::doEvents()
{
    // Wakes after what is pending or after a short wait, so a host can poll.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (destroyed())
        return;
    // The wake-up is armed only now: armed before processEvents, it could fire
    // inside it on a slow machine and leave exec() below without any wake-up.
    QEventLoop loop;
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
}

void EngineObject::raiseConnectionStatus(int event, int id, int code, const QString& text)
{
    if (!hasSink())
        return;
    Wide d(text);
    void* argv[4] = {iv(id), iv(code), d.ptr(), nullptr};
    int arglen[4] = {};
    raise(event, 3, argv, arglen);
}

void EngineObject::raiseConnectionLog(int event, int id, int level, const QString& message, const QString& type)
{
    if (!hasSink() || level > configInt("LogLevel"))
        return;
    Wide m(message), t(type);
    void* argv[5] = {iv(id), iv(level), m.ptr(), t.ptr(), nullptr};
    int arglen[5] = {};
    raise(event, 4, argv, arglen);
}

void EngineObject::raiseConnectionOpened(int event, int id)
{
    if (!hasSink())
        return;
    void* argv[2] = {iv(id), nullptr};
    int arglen[2] = {};
    raise(event, 1, argv, arglen);
}

} // namespace corvane::engine
