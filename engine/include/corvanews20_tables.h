/*
 * corvanews20_tables.h - the shared shape of the engine objects' numbered
 * interface: the number offsets and the row types of the per-object tables.
 *
 * Each engine object has one header beside this one that lists its numbers
 * once (corvanews20_client.h, corvanews20_server.h, corvanews20_proxy.h, ...).
 * The engine's objects and the components read their numbers from there, so a
 * number or a name is written in exactly one place.
 *
 * Adding an object: copy the layout of corvanews20_server.h into
 * corvanews20_<object>.h, namespace corvanews20::<object>, with
 *   - namespace prop   { enum : int { ... }; }   property numbers, from 1
 *   - namespace method { enum : int { ... }; }   method numbers (Do sends kMethodOffset + m)
 *   - namespace event  { enum : int { ... }; }   event numbers, from 1
 *   - kProperties[], kMethods[], kEvents[] and kTables, rows in number order.
 * Indexed properties name their index (the text of "Invalid array index (...).").
 *
 * Plain C++20, no Qt: usable by the engine, the components and tests alike.
 */
#ifndef CORVANEWS20_TABLES_H
#define CORVANEWS20_TABLES_H

#include <cstddef>
#include <cstdint>
#include <span>

namespace corvanews20 {

// Numbering of the C interface (corvanews20.h).
inline constexpr int kStrOffset = 10000;     // UTF-16 text form of string property n: n + 10000
inline constexpr int kAltOffset = 20000;     // UTF-16 text form of byte-array property n: n + 20000
inline constexpr int kMethodOffset = 10000;  // method m goes through Do as 10000 + m
inline constexpr int kDecodeTextDo = 2003;   // Do number of the engine's text decoding (client)

enum class PropType : std::uint8_t { Bool, Int, String, Bytes };
enum Access : std::uint8_t { kRead = 1, kWrite = 2, kReadWrite = 3 };

struct PropertyInfo {
    int number;
    const char* name;
    PropType type;
    std::uint8_t access;
    const char* indexName;   // nullptr: not indexed
};

// How one value crosses the event sink (argv[k], arglen[k]) or a Do call.
enum class ArgType : std::uint8_t {
    Int,          // the pointer-sized value itself
    Bool,         // the pointer-sized value, non-zero is true
    WideText,     // zero-terminated UTF-16 owned by the engine
    Bytes,        // pointer to arglen[k] bytes
    EventString,  // engine-held text, read and written back with CorvaneWS_EvtStr
};

struct ArgInfo {
    const char* name;
    ArgType type;
    bool writtenBack = false;   // the host writes its value back into argv[k] after the handler
};

struct MethodInfo {
    int number;                         // Do number is kMethodOffset + number
    const char* name;
    std::span<const ArgInfo> args;
    bool returnsText = false;           // wide text left in argv[argc]
};

struct EventInfo {
    int number;
    const char* name;                   // without "On"; the name handler errors are reported under
    std::span<const ArgInfo> args;      // argv[0], argv[1], ... in order
};

struct ObjectTables {
    const char* name;                   // the CorvaneWS_<name>_* export prefix
    std::span<const PropertyInfo> properties;
    std::span<const MethodInfo> methods;
    std::span<const EventInfo> events;
};

constexpr const PropertyInfo* findProperty(const ObjectTables& t, int number)
{
    for (const PropertyInfo& p : t.properties)
        if (p.number == number)
            return &p;
    return nullptr;
}

constexpr const EventInfo* findEvent(const ObjectTables& t, int number)
{
    for (const EventInfo& e : t.events)
        if (e.number == number)
            return &e;
    return nullptr;
}

constexpr const MethodInfo* findMethod(const ObjectTables& t, int number)
{
    for (const MethodInfo& m : t.methods)
        if (m.number == number)
            return &m;
    return nullptr;
}

// Rows must be in number order without gaps (methods start at 2).
template <class Row, std::size_t N>
constexpr bool numberedInOrder(const Row (&rows)[N], int first)
{
    for (std::size_t k = 0; k < N; ++k)
        if (rows[k].number != first + int(k))
            return false;
    return true;
}

// Common argument lists, shared by the objects' tables.
namespace args {
inline constexpr ArgInfo kText[] = {{"Text", ArgType::WideText}};
inline constexpr ArgInfo kConfig[] = {{"ConfigurationString", ArgType::WideText}};
inline constexpr ArgInfo kConnectionId[] = {{"ConnectionId", ArgType::Int}};
} // namespace args

} // namespace corvanews20

#endif /* CORVANEWS20_TABLES_H */
