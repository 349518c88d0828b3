#include "ws/engine_binding.h"

#include "toolkit/user_interaction.h"

#include <QApplication>
#include <QResource>

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

// Registers the engine image this program carries, if any: brindle_ws brings
// the one that does, brindle_ws_core one that has nothing to register.
void initEngineImageResource();

namespace CorvaneWS {

namespace {

template <class Fn>
void resolve(void* module, const std::string& name, Fn& slot)
{
    slot = reinterpret_cast<Fn>(dlsym(module, name.c_str()));
}

void resolveTable(void* module, const std::string& object, EngineTable& t)
{
    const std::string p = "CorvaneWS_" + object + "_";
    resolve(module, "CorvaneWS_EvtStr", t.EvtStr);
    resolve(module, "CorvaneWS_Stream", t.Stream);
    resolve(module, p + "Create", t.Create);
    resolve(module, p + "Destroy", t.Destroy);
    resolve(module, p + "CheckIndex", t.CheckIndex);
    resolve(module, p + "Get", t.Get);
    resolve(module, p + "Set", t.Set);
    resolve(module, p + "Do", t.Do);
    resolve(module, p + "GetLastError", t.GetLastError);
    resolve(module, p + "GetLastErrorCode", t.GetLastErrorCode);
    resolve(module, p + "SetLastErrorAndCode", t.SetLastErrorAndCode);
    resolve(module, p + "GetEventError", t.GetEventError);
    resolve(module, p + "GetEventErrorCode", t.GetEventErrorCode);
    resolve(module, p + "SetEventErrorAndCode", t.SetEventErrorAndCode);
}

}  // namespace

bool isLoadableElfImage(const QByteArray& image)
{
    if (static_cast<size_t>(image.size()) < sizeof(ElfW(Ehdr))) return false;
    ElfW(Ehdr) header;
    std::memcpy(&header, image.constData(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return false;
#if __SIZEOF_POINTER__ == 8
    if (header.e_ident[EI_CLASS] != ELFCLASS64) return false;
#else
    if (header.e_ident[EI_CLASS] != ELFCLASS32) return false;
#endif
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (header.e_ident[EI_DATA] != ELFDATA2LSB) return false;
#else
    if (header.e_ident[EI_DATA] != ELFDATA2MSB) return false;
#endif
    return header.e_type == ET_DYN;
}

EngineLibrary::EngineLibrary(Options options) : options_(std::move(options)) {}

EngineLibrary::~EngineLibrary()
{
    // Process end: the engine may still have live objects in static
    // destructors elsewhere, so it is left mapped as the loader leaves it.
}

EngineLibrary& EngineLibrary::embedded()
{
    static EngineLibrary library(Options{
        QStringLiteral("libcorvanews20.so"),
        QStringLiteral(":/corvanews20/libcorvanews20.so"),
        QStringLiteral("libcorvanews20.so could not be loaded.  libcorvanews20.so is required."),
        QStringLiteral("Corvane WebSocket Server 2020"),
    });
    return library;
}

const EngineTable& EngineLibrary::bind(const char* objectName)
{
    std::unique_lock guard(lock_);
    EngineTable& table = tables_[objectName];
    if (table.Create != nullptr) return table;
    if (module_ != nullptr) {
        ++loadCount_;
    } else if (loadLocked()) {
        loadCount_ = 1;
    } else {
        // Told outside the lock: a message box runs an event loop, and what
        // that loop dispatches may create a component in turn.
        guard.unlock();
        tellMissing();
        return table;
    }
    resolveTable(module_, objectName, table);
    return table;
}

void EngineLibrary::release()
{
    std::lock_guard guard(lock_);
    if (loadCount_ == 0) return;
    if (--loadCount_ == 0) unloadLocked();
}

EngineSource EngineLibrary::source() const
{
    std::lock_guard guard(lock_);
    return source_;
}

unsigned EngineLibrary::loadCount() const
{
    std::lock_guard guard(lock_);
    return loadCount_;
}

unsigned EngineLibrary::mapCount() const
{
    std::lock_guard guard(lock_);
    return mapCount_;
}

void* EngineLibrary::moduleHandle() const
{
    std::lock_guard guard(lock_);
    return module_;
}

void EngineLibrary::setImageOverride(std::optional<QByteArray> image)
{
    std::lock_guard guard(lock_);
    imageOverride_ = std::move(image);
}

void EngineLibrary::setLibraryName(const QString& name)
{
    std::lock_guard guard(lock_);
    options_.libraryName = name;
}

std::optional<QByteArray> EngineLibrary::imageLocked() const
{
    if (imageOverride_) {
        if (imageOverride_->isEmpty()) return std::nullopt;
        return imageOverride_;
    }
    if (options_.resourcePath.isEmpty()) return std::nullopt;
    static const bool initialised = (initEngineImageResource(), true);
    (void)initialised;
    // The image is stored uncompressed, so it can be copied into the memory
    // file straight from the executable's data without a heap copy first.
    const QResource resource(options_.resourcePath);
    if (!resource.isValid()) return std::nullopt;
    if (resource.compressionAlgorithm() == QResource::NoCompression)
        return QByteArray::fromRawData(reinterpret_cast<const char*>(resource.data()), qsizetype(resource.size()));
    return resource.uncompressedData();
}

void* EngineLibrary::mapImageLocked(const QByteArray& image)
{
    if (!isLoadableElfImage(image)) return nullptr;
    const int fd = memfd_create("libcorvanews20.so", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    const char* data = image.constData();
    qsizetype left = image.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n <= 0) {
            ::close(fd);
            return nullptr;
        }
        data += n;
        left -= n;
    }
    // The loader keys loaded objects by path; the descriptor stays open while
    // the engine is loaded so that its /proc path is never reused meanwhile.
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        ::close(fd);
        return nullptr;
    }
    memfd_ = fd;
    ++mapCount_;
    return module;
}

bool EngineLibrary::loadLocked()
{
    if (const auto image = imageLocked()) {
        if ((module_ = mapImageLocked(*image)) != nullptr) {
            source_ = EngineSource::Memory;
            return true;
        }
    }
    module_ = dlopen(options_.libraryName.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    if (module_ != nullptr) {
        source_ = EngineSource::File;
        return true;
    }
    return false;
}

void EngineLibrary::tellMissing() const
{
    QString text, caption;
    {
        std::lock_guard guard(lock_);
        text = options_.missingText;
        caption = options_.caption;
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        // OK and Cancel as the original box had; the answer changes nothing.
        (void)toolkit::userInteraction().confirm(nullptr, text, caption);
    } else {
        std::fprintf(stderr, "%s: %s\n", caption.toLocal8Bit().constData(), text.toLocal8Bit().constData());
    }
}

void EngineLibrary::unloadLocked()
{
    for (auto& [name, table] : tables_) table = EngineTable{};
    if (module_ != nullptr) dlclose(module_);
    module_ = nullptr;
    if (memfd_ >= 0) {
        // A library the loader keeps (unique symbols make it undeletable) is
        // still known under its /proc path; closing the descriptor would let
        // a later memory file reuse that path and be taken for the old one.
        const std::string path = "/proc/self/fd/" + std::to_string(memfd_);
        if (void* still = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
            dlclose(still);
        } else {
            ::close(memfd_);
        }
    }
    memfd_ = -1;
    source_ = EngineSource::None;
}

}  // namespace CorvaneWS
