#pragma once
// Writes a component class from an engine object's numbered tables
// (engine/include/corvanews20_<object>.h) and the component's own policy:
// which properties are published and stored, their Qt types, the Init
// defaults in order, and the flavour (the tool's client or a package
// component). The output is a header with the class, its Params structures and
// handler types, and a source with its constructor, methods and event table.
// Everything the engine numbers comes from the tables; nothing is repeated here.

#include "corvanews20_tables.h"

#include <ostream>
#include <span>
#include <string>

namespace codegen {

enum class Publish { No, Stored, NeverStored };

struct Published {
    const char* property;
    Publish how;
};

// A property whose integer crosses as an enumeration or a named integer type.
struct TypedProperty {
    const char* property;
    const char* type;  // qualified C++ type, e.g. "CorvaneWS::TwskAuthSchemes_"
};

// One default of Init, written through the property's ordinary setter. The
// value is the plain text of a string, True/False of a bool, a number, or an
// enumerator name of the property's type.
struct InitDefault {
    const char* property;
    const char* value;
};

// Where the tool's client and the package's components differ.
struct Flavour {
    const char* binding;        // expression giving the EngineLibrary&, %s = engine object name
    const char* textForm;       // EngineObject text policy
    bool configureCodePage;     // Config("CodePage=65001") before Init
    bool rawSetters;            // Set<Name>(const char*, int) beside the byte-array setters
    bool about;                 // About property and AboutDlg
    const char* bindingHeader;  // include that declares `binding`
    bool publishesEvents;       // events a form can name (design::TEventPublisher)
};

inline constexpr Flavour kToolClient = {
    "CorvaneWS::EngineLibrary::embedded()", "CorvaneWS::TextForm::Engine", true, true, false, "ws/engine_binding.h", false};
inline constexpr Flavour kPackageComponent = {
    "CorvaneWS::Package::packageLibrary(\"%s\")", "CorvaneWS::TextForm::LocalCodePage", false, false, true,
    "package/package_binding.h", true};

struct ComponentPolicy {
    const char* className;       // TwskWebSocketServer
    const char* cppNamespace;    // CorvaneWS::Package
    const char* tablesHeader;    // corvanews20_server.h
    const char* tablesNamespace; // corvanews20::server
    const char* typesHeader;     // declares the enumerations the typed properties use
    Flavour flavour;
    std::span<const Published> published;  // in the order the designer lists them
    std::span<const TypedProperty> types;
    std::span<const InitDefault> init;     // in Init's order
    // Properties a form reader writes last, whatever their place in the form:
    // their effect depends on the others (a certificate looked up in a store).
    std::span<const char* const> appliedLast;
};

// Raises std::runtime_error when the policy names a property, type or event
// the tables do not have.
void writeHeader(std::ostream& out, const ComponentPolicy& policy, const corvanews20::ObjectTables& tables);
void writeSource(std::ostream& out, const ComponentPolicy& policy, const corvanews20::ObjectTables& tables,
                 const std::string& headerName);

// Writes `<base>.h` and `<base>.cpp`; returns 0, or 1 after telling why on stderr.
int generate(const ComponentPolicy& policy, const corvanews20::ObjectTables& tables, const std::string& base);

}  // namespace codegen
