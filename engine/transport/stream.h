// Stream-valued arguments of events and methods (CorvaneWS_Stream). The
// engine hands out a pointer to an EngineStream; the host reads or writes it
// through CorvaneWS_Stream while the call that handed it out lasts.
#pragma once

#include <cstdint>

class QIODevice;

namespace corvane::engine {

class EngineStream {
public:
    virtual ~EngineStream() = default;
    virtual int64_t read(void* buffer, int64_t max) = 0;         // -1 on error, 0 at the end
    virtual int64_t write(const void* buffer, int64_t n) = 0;    // -1 on error
    virtual int64_t size() const = 0;                            // -1 when unknown
    virtual void close() = 0;
};

// An EngineStream over a Qt device (a file, a buffer); does not own it.
class DeviceStream final : public EngineStream {
public:
    explicit DeviceStream(QIODevice* device) : device_(device) {}
    int64_t read(void* buffer, int64_t max) override;
    int64_t write(const void* buffer, int64_t n) override;
    int64_t size() const override;
    void close() override;

private:
    QIODevice* device_;
};

// Actions of CorvaneWS_Stream.
enum StreamAction : int { kStreamRead = 0, kStreamWrite = 1, kStreamSize = 2, kStreamClose = 3 };

} // namespace corvane::engine
