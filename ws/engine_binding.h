#pragma once
// Binding to the protocol engine libcorvanews20.so. Every engine object
// (WebSocketClient, and the package's WebSocketServer, WebSocketProxy,
// CertMgr) has the same twelve functions under its own name plus two shared
// ones, so one table type serves them all; a library binding resolves one
// table per object name, once, under one process-wide lock.
//
// The tool carries the engine inside its executable (a Qt resource) and maps
// it from memory: the image must be an ELF shared object; it is copied into an
// anonymous memory file and opened from /proc/self/fd. When that is not
// possible the library file is opened by name; when that fails too, the user is
// told and the table stays empty.

#include <QByteArray>
#include <QString>

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace CorvaneWS {

extern "C" {
using EngineEventSink = int (*)(void* user, int event, int argc, void** argv, int* arglen);
}

struct EngineTable {
    using EvtStrFn = void* (*)(void* value, int action, void* text, int encoding);
    using StreamFn = int (*)(void* stream, int action, void* buffer, int* length);
    using CreateFn = void* (*)(EngineEventSink sink, void* user, void* reserved, int flags);
    using HandleFn = int (*)(void* h);
    using CheckIndexFn = int (*)(void* h, int id, int index);
    using GetFn = void* (*)(void* h, int id, int index, int* length_out, long long* value64_out);
    using SetFn = int (*)(void* h, int id, int index, const void* value, int length);
    using DoFn = int (*)(void* h, int method, int argc, void** argv, int* arglen, void* reserved);
    using TextFn = const char* (*)(void* h);
    using SetErrorFn = int (*)(void* h, int code, const char* text);

    EvtStrFn EvtStr = nullptr;
    StreamFn Stream = nullptr;
    CreateFn Create = nullptr;
    HandleFn Destroy = nullptr;
    CheckIndexFn CheckIndex = nullptr;
    GetFn Get = nullptr;
    SetFn Set = nullptr;
    DoFn Do = nullptr;
    TextFn GetLastError = nullptr;
    HandleFn GetLastErrorCode = nullptr;
    SetErrorFn SetLastErrorAndCode = nullptr;
    TextFn GetEventError = nullptr;
    HandleFn GetEventErrorCode = nullptr;
    SetErrorFn SetEventErrorAndCode = nullptr;
};

enum class EngineSource { None, Memory, File };

class EngineLibrary {
public:
    struct Options {
        QString libraryName;   // opened by name when there is no usable image
        QString resourcePath;  // the embedded image; empty: always open by name
        QString missingText;   // told to the user when nothing could be opened
        QString caption;
    };

    explicit EngineLibrary(Options options);
    ~EngineLibrary();
    EngineLibrary(const EngineLibrary&) = delete;
    EngineLibrary& operator=(const EngineLibrary&) = delete;

    // The tool's engine: mapped from the embedded image, else libcorvanews20.so by name.
    static EngineLibrary& embedded();

    // The table of `objectName`, loading the library (counted) and resolving
    // the fourteen names when this object's Create is still unresolved. The
    // table lives as long as this binding; a failed load leaves it empty.
    const EngineTable& bind(const char* objectName);

    // Matching release of a load: at zero the library is closed and the
    // tables cleared. Components never call it; the engine stays loaded.
    void release();

    EngineSource source() const;
    unsigned loadCount() const;
    unsigned mapCount() const;  // how often an image was mapped from memory
    void* moduleHandle() const; // the dlopen handle, for lookups of names outside the table

    // Test hooks. An image override replaces the embedded resource (an empty
    // array means "no image"); std::nullopt restores the resource.
    void setImageOverride(std::optional<QByteArray> image);
    void setLibraryName(const QString& name);

private:
    bool loadLocked();
    void* mapImageLocked(const QByteArray& image);
    void unloadLocked();
    std::optional<QByteArray> imageLocked() const;
    void tellMissing() const;

    Options options_;
    mutable std::mutex lock_;
    void* module_ = nullptr;
    int memfd_ = -1;
    EngineSource source_ = EngineSource::None;
    unsigned loadCount_ = 0;
    unsigned mapCount_ = 0;
    std::optional<QByteArray> imageOverride_;
    std::map<std::string, EngineTable> tables_;
};

// True when `image` starts like an ELF shared object this process can load.
bool isLoadableElfImage(const QByteArray& image);

}  // namespace CorvaneWS
