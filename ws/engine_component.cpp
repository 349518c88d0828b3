#include "ws/engine_component.h"

#include "toolkit/exceptions.h"

#include <atomic>
#include <bit>
#include <cstring>

namespace CorvaneWS {

namespace {
const void* intValue(int value) { return reinterpret_cast<const void*>(std::intptr_t(value)); }
const char16_t* utf16(const QString& s) { return reinterpret_cast<const char16_t*>(s.utf16()); }
}  // namespace

QByteArray EventBufferPool::copy(const char* data, qsizetype size)
{
    if (size < kSmallest) return QByteArray(data, size);
    for (QByteArray& buffer : buffers_) {
        // Held here alone: whoever had it let go, on whatever thread. The
        // fence orders their last use of the bytes before the copy below.
        if (!buffer.isDetached() || buffer.capacity() < size) continue;
        std::atomic_thread_fence(std::memory_order_acquire);
        buffer.resize(size);  // within its capacity and not shared: no new memory
        std::memcpy(buffer.data(), data, std::size_t(size));
        return buffer;
    }
    // Whole powers of two, so that the pieces of a stream (mostly the
    // engine's read size, with shorter ones where frames end) fit each other's buffers.
    QByteArray fresh;
    fresh.reserve(std::bit_ceil(std::size_t(size)));
    fresh.append(data, size);
    const qsizetype capacity = fresh.capacity();
    if (capacity > kLargest) return fresh;
    // Full: the oldest buffer makes room. It is in use (a free one would
    // have been taken), and lives on as long as its holders keep it.
    while (!buffers_.empty() && (buffers_.size() >= kMaxBuffers || kept_ + capacity > kBudget)) {
        kept_ -= buffers_.front().capacity();
        buffers_.erase(buffers_.begin());
    }
    buffers_.push_back(fresh);
    kept_ += capacity;
    return fresh;
}

const PropertyInfo& EngineObject::property(int id) const
{
    for (const auto& p : properties_)
        if (p.number == id) return p;
    throw toolkit::EArgumentException(QStringLiteral("Unknown engine property %1").arg(id));
}

void EngineObject::checkIndex(const PropertyInfo& p, int index) const
{
    if (p.indexName == nullptr) return;
    const int code = table_->CheckIndex(handle_, p.number, index);
    if (code != 0)
        throw EWSKCore(code, QStringLiteral("Invalid array index (%1).").arg(QLatin1String(p.indexName)));
}

int EngineObject::getInt(int id, int index) const
{
    checkIndex(property(id), index);
    int length = 0;
    return int(reinterpret_cast<std::intptr_t>(table_->Get(handle_, id, index, &length, nullptr)));
}

QString EngineObject::getText(int id, int index) const
{
    checkIndex(property(id), index);
    int length = 0;
    const auto* text =
        static_cast<const char16_t*>(table_->Get(handle_, id + corvanews20::kStrOffset, index, &length, nullptr));
    return text ? QString::fromUtf16(text) : QString();
}

QByteArray EngineObject::getBytes(int id, int index) const
{
    checkIndex(property(id), index);
    int length = 0;
    const auto* data = static_cast<const char*>(table_->Get(handle_, id, index, &length, nullptr));
    return data && length > 0 ? QByteArray(data, length) : QByteArray();
}

QString EngineObject::getBytesText(int id, int index) const
{
    if (textForm_ == TextForm::LocalCodePage) return QString::fromLocal8Bit(getBytes(id, index));
    checkIndex(property(id), index);
    int length = 0;
    const auto* text =
        static_cast<const char16_t*>(table_->Get(handle_, id + corvanews20::kAltOffset, index, &length, nullptr));
    return text && length > 0 ? QString::fromUtf16(text, length) : QString();
}

void EngineObject::setInt(int id, int value, int index)
{
    treatErr(table_->Set(handle_, id, index, intValue(value), 0));
}

void EngineObject::setText(int id, const QString& value, int index)
{
    treatErr(table_->Set(handle_, id + corvanews20::kStrOffset, index, utf16(value), 0));
}

void EngineObject::setBytes(int id, const void* data, int length, int index)
{
    treatErr(table_->Set(handle_, id, index, data, length));
}

void EngineObject::setBytesText(int id, const QString& value, int index)
{
    if (textForm_ == TextForm::LocalCodePage) return setBytes(id, value.toLocal8Bit(), index);
    treatErr(table_->Set(handle_, id + corvanews20::kAltOffset, index, utf16(value), int(value.size())));
}

void EngineObject::treatErr(int code) const
{
    if (code == 0) return;
    throw EWSKCore(code, table_->GetLastError ? table_->GetLastError(handle_) : nullptr);
}

QString EngineObject::decodeText(const void* bytes, int length) const
{
    if (textForm_ == TextForm::LocalCodePage)
        return bytes && length > 0 ? QString::fromLocal8Bit(static_cast<const char*>(bytes), length) : QString();
    constexpr int kDecodeText = corvanews20::kDecodeTextDo;
    void* argv[3] = {const_cast<void*>(bytes), nullptr, nullptr};
    int arglen[3] = {length, 0, 0};
    if (table_->Do(handle_, kDecodeText, 2, argv, arglen, nullptr) != 0) return {};
    const int count = int(reinterpret_cast<std::intptr_t>(argv[2]));
    QString text(count > 0 ? count : 0, Qt::Uninitialized);
    if (count > 0) {
        argv[1] = text.data();
        arglen[1] = count;
        argv[2] = nullptr;
        if (table_->Do(handle_, kDecodeText, 2, argv, arglen, nullptr) != 0) return {};
    }
    return text;
}

void EngineObject::showAbout() const
{
    constexpr int kAboutBox = 255;
    if (table_ != nullptr && table_->Do != nullptr && handle_ != nullptr)
        (void)table_->Do(handle_, kAboutBox, 0, nullptr, nullptr, nullptr);
}

void EngineObject::createEngineObject(EngineLibrary& library, const char* objectName, EngineEventSink sink, void* user,
                                      const QString& libraryMissing, const QString& createFailed)
{
    table_ = &library.bind(objectName);
    if (table_->Create == nullptr) throw toolkit::EOutOfMemory(libraryMissing);
    handle_ = table_->Create(sink, user, nullptr, 1);
    if (handle_ == nullptr) throw toolkit::EOutOfMemory(createFailed);
}

void EngineObject::destroyEngineObject()
{
    if (handle_ == nullptr) return;
    table_->Destroy(handle_);
    handle_ = nullptr;
}

// ---- Call -------------------------------------------------------------------

EngineObject::Call& EngineObject::Call::text(const QString& value)
{
    texts_.push_back(value);
    argv_.push_back(const_cast<char16_t*>(utf16(texts_.back())));
    arglen_.push_back(0);
    return *this;
}

EngineObject::Call& EngineObject::Call::bytes(const void* data, int length)
{
    argv_.push_back(const_cast<void*>(data));
    arglen_.push_back(length);
    return *this;
}

EngineObject::Call& EngineObject::Call::integer(std::intptr_t value)
{
    argv_.push_back(reinterpret_cast<void*>(value));
    arglen_.push_back(0);
    return *this;
}

void EngineObject::Call::run(const EngineObject& object)
{
    std::vector<void*> argv = argv_;
    std::vector<int> arglen = arglen_;
    argv.push_back(nullptr);
    arglen.push_back(0);
    const int argc = int(argv_.size());
    object.treatErr(object.table_->Do(object.handle_, corvanews20::kMethodOffset + method_, argc, argv.data(), arglen.data(), nullptr));
    result_ = argv[size_t(argc)];
}

QString EngineObject::Call::resultText() const
{
    return result_ ? QString::fromUtf16(static_cast<const char16_t*>(result_)) : QString();
}

// ---- events -----------------------------------------------------------------

QString EventArgs::wide(int k) const
{
    const auto* text = static_cast<const char16_t*>(at(k));
    return text ? QString::fromUtf16(text) : QString();
}

QString EventArgs::eventString(int k) const
{
    const auto evtStr = object_.table().EvtStr;
    if (evtStr == nullptr || at(k) == nullptr) return {};
    const auto* text = static_cast<const char16_t*>(evtStr(at(k), 0, nullptr, 2));
    return text ? QString::fromUtf16(text) : QString();
}

void EventArgs::setEventString(int k, const QString& value) const
{
    const auto evtStr = object_.table().EvtStr;
    if (evtStr == nullptr || at(k) == nullptr) return;
    // A null text would be written as an empty one anyway; say so plainly.
    evtStr(at(k), 2, const_cast<char16_t*>(utf16(value)), 2);
}

const QString& EventText::value() const
{
    if (!text_) text_ = object_ && !bytes_.isEmpty() ? object_->decodeText(bytes_.constData(), int(bytes_.size())) : QString();
    return *text_;
}

QByteArray EventArgs::bytes(int k) const
{
    const auto* data = static_cast<const char*>(at(k));
    const int n = length(k);
    return data && n > 0 ? QByteArray(data, n) : QByteArray();
}

QString handlerErrorText(const char* eventName, const std::exception& e)
{
    const auto* own = dynamic_cast<const toolkit::Exception*>(&e);
    return QStringLiteral("An unhandled error occurred in the %1 event handler: ").arg(QLatin1String(eventName)) +
           (own ? own->message() : QString::fromUtf8(e.what()));
}

int reportHandlerError(const EngineObject& object, const char* eventName, const std::exception& e, int code)
{
    const QByteArray text = handlerErrorText(eventName, e).toLocal8Bit();
    return object.table().SetEventErrorAndCode(object.handle(), code, text.constData());
}

}  // namespace CorvaneWS
