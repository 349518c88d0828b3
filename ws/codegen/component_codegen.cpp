#include "component_codegen.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace codegen {

namespace {

using corvanews20::ArgType;
using corvanews20::PropType;


const corvanews20::PropertyInfo& findProperty(const corvanews20::ObjectTables& t, const char* name)
{
    for (const auto& p : t.properties)
        if (std::strcmp(p.name, name) == 0) return p;
    throw std::runtime_error(std::string(t.name) + " has no property " + name);
}

const char* typedAs(const ComponentPolicy& policy, const char* property)
{
    for (const auto& t : policy.types)
        if (std::strcmp(t.property, property) == 0) return t.type;
    return nullptr;
}

// The namespace of the policy, opened and closed; a component of the package
// lives in the inline namespace Package so that it can share a program with
// the tool's client of the same name.
std::string openNamespace(const ComponentPolicy& policy)
{
    std::string ns = policy.cppNamespace, out;
    size_t start = 0;
    for (;;) {
        const size_t end = ns.find("::", start);
        const std::string part = ns.substr(start, end == std::string::npos ? std::string::npos : end - start);
        out += (part == "Package" ? "inline namespace " : "namespace ") + part + " {\n";
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return out;
}

std::string closeNamespace(const ComponentPolicy& policy)
{
    std::string out;
    for (size_t pos = 0; (pos = std::string(policy.cppNamespace).find("::", pos)) != std::string::npos; pos += 2)
        out += "}  ";
    return out + "}  // namespace " + policy.cppNamespace + "\n";
}

std::string valueType(const ComponentPolicy& policy, const corvanews20::PropertyInfo& p)
{
    switch (p.type) {
    case PropType::Bool:
        return "bool";
    case PropType::Int:
        if (const char* t = typedAs(policy, p.name)) return t;
        return "int";
    case PropType::String:
    case PropType::Bytes:
        return "QString";
    }
    return "int";
}

bool appliedLast(const ComponentPolicy& policy, const char* property)
{
    for (const char* name : policy.appliedLast)
        if (std::strcmp(name, property) == 0) return true;
    return false;
}

bool readable(const corvanews20::PropertyInfo& p) { return (p.access & corvanews20::kRead) != 0; }
bool writable(const corvanews20::PropertyInfo& p) { return (p.access & corvanews20::kWrite) != 0; }

std::string eventType(const ComponentPolicy& policy, const corvanews20::EventInfo& e)
{
    return std::string(policy.className) + e.name + "Event";
}

std::string paramsType(const ComponentPolicy& policy, const corvanews20::EventInfo& e)
{
    return eventType(policy, e) + "Params";
}

void writeParams(std::ostream& out, const ComponentPolicy& policy, const corvanews20::EventInfo& e)
{
    const std::string type = paramsType(policy, e);
    out << "struct " << type << " {\n";
    std::vector<std::string> fields;
    for (size_t k = 0; k < e.args.size(); ++k) {
        const auto& a = e.args[k];
        const std::string n = a.name, at = std::to_string(k), back = a.writtenBack ? ", true" : "";
        switch (a.type) {
        case ArgType::Int:
            out << "    int " << n << "{};\n";
            fields.push_back("field(&P::" + n + ", FieldKind::Int, " + at + back + ")");
            break;
        case ArgType::Bool:
            out << "    bool " << n << "{};\n";
            fields.push_back("field(&P::" + n + ", FieldKind::Bool, " + at + back + ")");
            break;
        case ArgType::WideText:
            out << "    QString " << n << ";\n";
            fields.push_back("field(&P::" + n + ", FieldKind::Wide, " + at + back + ")");
            break;
        case ArgType::EventString:
            out << "    QString " << n << ";\n";
            fields.push_back("field(&P::" + n + ", FieldKind::EventString, " + at + back + ")");
            break;
        case ArgType::Bytes:
            // Bytes come twice: as text and as the bytes themselves. The data of
            // a data event is decoded only when a handler reads its text.
            if (std::strcmp(e.name, "DataIn") == 0) {
                out << "    EventText " << n << ";\n    QByteArray " << n << "B;\n";
                fields.push_back("textField(&P::" + n + ", &P::" + n + "B, " + at + ")");
            } else {
                out << "    QString " << n << ";\n    QByteArray " << n << "B;\n";
                fields.push_back("field(&P::" + n + ", FieldKind::Text, " + at + ")");
                fields.push_back("field(&P::" + n + "B, FieldKind::Bytes, " + at + ")");
            }
            break;
        }
    }
    out << "    using P = " << type << ";\n";
    out << "    static constexpr auto fields()\n    {\n        return std::tuple{";
    for (size_t i = 0; i < fields.size(); ++i) out << (i ? ",\n                          " : "") << fields[i];
    out << "};\n    }\n};\n";
    out << "using " << eventType(policy, e) << " = EventHandler<" << type << ">;\n\n";
}

std::string methodSignature(const corvanews20::MethodInfo& m, const std::string& qualifier)
{
    std::string s = std::string(m.returnsText ? "QString " : "void ") + qualifier + m.name + "(";
    for (size_t k = 0; k < m.args.size(); ++k) {
        const auto& a = m.args[k];
        if (k) s += ", ";
        switch (a.type) {
        case ArgType::Int:
            s += "int ";
            break;
        case ArgType::Bool:
            s += "bool ";
            break;
        case ArgType::Bytes:
            s += "const QByteArray& ";
            break;
        case ArgType::WideText:
        case ArgType::EventString:
            s += "const QString& ";
            break;
        }
        s += a.name;
    }
    return s + ")";
}

void writeAccessors(std::ostream& out, const ComponentPolicy& policy, const corvanews20::ObjectTables& t)
{
    const std::string ns = policy.tablesNamespace;
    for (const auto& p : t.properties) {
        const std::string n = p.name, num = ns + "::prop::" + n;
        const bool indexed = p.indexName != nullptr;
        const std::string idx = indexed ? "int index" : "", idxc = indexed ? "int index, " : "",
                          ix = indexed ? ", index" : "";
        const std::string type = valueType(policy, p);
        // While a form is being read the value waits for loaded().
        const std::string hold = !indexed && appliedLast(policy, p.name)
                                     ? "if (componentState().testFlag(csLoading)) { last" + n + "_ = value; return; } "
                                     : "";
        switch (p.type) {
        case PropType::Bool:
            if (readable(p)) out << "    bool F" << n << "(" << idx << ") const { return engine_.getBool(" << num << ix << "); }\n";
            if (writable(p)) out << "    void FSet" << n << "(" << idxc << "bool value) { " << hold << "engine_.setBool(" << num << ", value" << ix << "); }\n";
            break;
        case PropType::Int:
            if (readable(p)) out << "    " << type << " F" << n << "(" << idx << ") const { return " << type << "(engine_.getInt(" << num << ix << ")); }\n";
            if (writable(p)) out << "    void FSet" << n << "(" << idxc << type << " value) { " << hold << "engine_.setInt(" << num << ", int(value)" << ix << "); }\n";
            break;
        case PropType::String:
            if (readable(p)) out << "    QString F" << n << "(" << idx << ") const { return engine_.getText(" << num << ix << "); }\n";
            if (writable(p)) out << "    void FSet" << n << "(" << idxc << "const QString& value) { " << hold << "engine_.setText(" << num << ", value" << ix << "); }\n";
            break;
        case PropType::Bytes:
            if (readable(p)) {
                out << "    QString F" << n << "(" << idx << ") const { return engine_.getBytesText(" << num << ix << "); }\n";
                out << "    QByteArray F" << n << "B(" << idx << ") const { return engine_.getBytes(" << num << ix << "); }\n";
            }
            if (writable(p)) {
                out << "    void FSet" << n << "(" << idxc << "const QString& value) { " << hold << "engine_.setBytesText(" << num << ", value" << ix << "); }\n";
                out << "    void FSet" << n << "B(" << idxc << "const QByteArray& value) { engine_.setBytes(" << num << ", value" << ix << "); }\n";
                if (policy.flavour.rawSetters)
                    out << "    void Set" << n << "(" << idxc << "const char* data, int length) { engine_.setBytes(" << num << ", data, length" << ix << "); }\n";
            }
            break;
        }
    }
}

std::string initValue(const ComponentPolicy& policy, const corvanews20::PropertyInfo& p, const char* value)
{
    const std::string v = value;
    switch (p.type) {
    case PropType::Bool:
        if (v == "True") return "true";
        if (v == "False") return "false";
        throw std::runtime_error(std::string("bool default of ") + p.name + " must be True or False");
    case PropType::Int:
        if (const char* t = typedAs(policy, p.name)) return std::string(t) + "(" + v + ")";
        return v;
    case PropType::String:
    case PropType::Bytes: {
        std::string out = "QStringLiteral(\"";
        for (char c : v) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        return out + "\")";
    }
    }
    return v;
}

const corvanews20::EventInfo& errorEvent(const corvanews20::ObjectTables& t)
{
    for (const auto& e : t.events)
        if (std::strcmp(e.name, "Error") == 0) return e;
    throw std::runtime_error(std::string(t.name) + " has no Error event");
}

}  // namespace

void writeHeader(std::ostream& out, const ComponentPolicy& policy, const corvanews20::ObjectTables& t)
{
    const std::string C = policy.className;
    out << "#pragma once\n// " << C << ", generated from " << policy.tablesHeader
        << " and the component's policy by the component generator; do not edit.\n\n";
    out << "#include \"" << policy.tablesHeader << "\"\n#include \"" << policy.typesHeader << "\"\n";
    if (policy.flavour.about) out << "#include \"package/design/about_property.h\"\n";
    if (policy.flavour.publishesEvents) out << "#include \"package/design/form_events.h\"\n";
    out << "#include \"toolkit/component.h\"\n#include \"ws/engine_component.h\"\n\n";
    out << "#include <QByteArray>\n#include <QString>\n\n";
    if (!policy.appliedLast.empty()) out << "#include <optional>\n";
    out << "#include <span>\n#include <tuple>\n\n";
    out << openNamespace(policy) << "\n";
    for (const auto& e : t.events) writeParams(out, policy, e);

    if (policy.flavour.publishesEvents) {
        out << "class " << C << " : public toolkit::TComponent, public design::TEventPublisher {\n    Q_OBJECT\n"
            << "    Q_INTERFACES(design::TEventPublisher)\n    Q_CLASSINFO(\"PublishedEvents\", \"";
        for (size_t i = 0; i < t.events.size(); ++i) out << (i ? " On" : "On") << t.events[i].name;
        out << "\")\n";
    } else {
        out << "class " << C << " : public toolkit::TComponent {\n    Q_OBJECT\n";
    }
    for (const auto& pub : policy.published) {
        const auto& p = findProperty(t, pub.property);
        if (pub.how == Publish::No) continue;
        out << "    Q_PROPERTY(" << valueType(policy, p) << " " << p.name << " READ F" << p.name;
        if (writable(p)) out << " WRITE FSet" << p.name;
        out << " STORED " << (pub.how == Publish::Stored ? "true" : "false") << ")\n";
    }
    if (policy.flavour.about)
        out << "    Q_PROPERTY(CorvaneWS::TAbout* About READ FAbout WRITE FSetAbout STORED false)\n";
    out << "\npublic:\n    Q_INVOKABLE explicit " << C << "(QObject* Owner = nullptr);\n    ~" << C << "() override;\n";
    if (policy.flavour.about)
        out << "\n    // Shows the engine's about box (method 255); nothing without an engine object.\n"
               "    Q_INVOKABLE virtual void AboutDlg();\n";
    if (policy.flavour.publishesEvents)
        out << "\n    // Events by name, as a form names them (OnDataIn).\n"
               "    const std::type_info& EventHandlerType(const QString& event) const override;\n"
               "    bool AssignEventHandler(const QString& event, const std::any& handler) override;\n";
    out << "\n    // Event slots, in the order of the engine's event numbers.\n";
    for (const auto& e : t.events) out << "    " << eventType(policy, e) << " On" << e.name << ";\n";
    out << "\n    // Methods: Do with 10000 + the method's number (invokable by name, as a designer or script does).\n";
    for (const auto& m : t.methods) out << "    Q_INVOKABLE " << methodSignature(m, "") << ";\n";
    out << "\n    // Property accessors: F<Property> reads, FSet<Property> writes.\n";
    writeAccessors(out, policy, t);
    if (policy.flavour.about)
        out << "    CorvaneWS::TAbout* FAbout() const;\n    void FSetAbout(CorvaneWS::TAbout*) {}\n";
    out << "\n    // Plumbing for the event sink.\n"
           "    const EngineObject& engineObject() const { return engine_; }\n"
           "    // The error event after a failed handler; its other fields (a connection id)\n"
           "    // come from the failed event when that has them.\n"
           "    void raiseErrorEvent(int code, const QString& text, int failedEvent, const EventArgs& failed);\n"
           "    static std::span<const EventEntry<" << C << ">> eventTable();\n\n"
           "private:\n    void Init();\n";
    if (!policy.appliedLast.empty()) {
        out << "    void loaded() override;\n";
        for (const char* name : policy.appliedLast)
            out << "    std::optional<" << valueType(policy, findProperty(t, name)) << "> last" << name << "_;\n";
    }
    out <<
           "    static int eventSink(void* user, int event, int argc, void** argv, int* arglen);\n\n"
           "    EngineObject engine_{" << policy.tablesNamespace << "::kProperties, " << policy.flavour.textForm
        << "};\n};\n\n";
    out << closeNamespace(policy);
}

void writeSource(std::ostream& out, const ComponentPolicy& policy, const corvanews20::ObjectTables& t,
                 const std::string& headerName)
{
    const std::string C = policy.className, ns = policy.tablesNamespace;
    out << "// " << C << ", generated from " << policy.tablesHeader << " by the component generator; do not edit.\n";
    out << "#include \"" << headerName << "\"\n#include \"" << policy.flavour.bindingHeader << "\"\n\n#include <array>\n#include <utility>\n\n";
    out << openNamespace(policy) << "\nnamespace {\nusing C = " << C << ";\n";
    out << "const std::array<EventEntry<C>, " << t.events.size() << "> kEvents = {{\n";
    for (const auto& e : t.events)
        out << "    eventEntry<C, " << paramsType(policy, e) << ", &C::On" << e.name << ">(" << ns << "::event::" << e.name
            << ", \"" << e.name << "\"),\n";
    out << "}};\n}  // namespace\n\n";

    char binding[256];
    std::snprintf(binding, sizeof binding, policy.flavour.binding, t.name);
    out << C << "::" << C << "(QObject* Owner) : toolkit::TComponent(Owner)\n{\n"
        << "    engine_.createEngineObject(" << binding << ", \"" << t.name << "\", &" << C << "::eventSink, this,\n"
        << "                               QStringLiteral(\"Could not load component library (libcorvanews20.so).\"),\n"
        << "                               QStringLiteral(\"Error initializing " << C << ".\"));\n"
        << "    try {\n";
    if (policy.flavour.configureCodePage)
        out << "        // Texts cross the interface as UTF-8 from here on; the answer says nothing we need.\n"
               "        (void)Config(QStringLiteral(\"CodePage=65001\"));\n";
    out << "        Init();\n    } catch (...) {\n        engine_.destroyEngineObject();\n        throw;\n    }\n}\n\n";
    out << C << "::~" << C << "() { engine_.destroyEngineObject(); }\n\n";

    out << "void " << C << "::Init()\n{\n";
    for (const auto& d : policy.init) {
        const auto& p = findProperty(t, d.property);
        out << "    FSet" << p.name << "(" << initValue(policy, p, d.value) << ");\n";
    }
    out << "}\n\n";

    if (!policy.appliedLast.empty()) {
        out << "void " << C << "::loaded()\n{\n";
        for (const char* name : policy.appliedLast)
            out << "    if (last" << name << "_) FSet" << name << "(*std::exchange(last" << name << "_, std::nullopt));\n";
        out << "}\n\n";
    }
    if (policy.flavour.publishesEvents) {
        out << "const std::type_info& " << C << "::EventHandlerType(const QString& event) const\n{\n";
        for (const auto& e : t.events)
            out << "    if (event == QLatin1String(\"On" << e.name << "\")) return typeid(" << eventType(policy, e) << ");\n";
        out << "    return typeid(void);\n}\n\n";
        out << "bool " << C << "::AssignEventHandler(const QString& event, const std::any& handler)\n{\n";
        for (const auto& e : t.events)
            out << "    if (event == QLatin1String(\"On" << e.name << "\")) return design::assignEventSlot(On" << e.name
                << ", handler);\n";
        out << "    return false;\n}\n\n";
    }
    out << "std::span<const EventEntry<" << C << ">> " << C << "::eventTable() { return kEvents; }\n\n";
    out << "int " << C << "::eventSink(void* user, int event, int argc, void** argv, int* arglen)\n{\n"
        << "    return dispatchEvent<" << C << ">(*static_cast<" << C << "*>(user), kEvents, " << ns
        << "::event::Error, event, argc, argv, arglen);\n}\n\n";
    const auto& error = errorEvent(t);
    // Fields of the error event besides its code and text, filled from a
    // failed event's argument of the same name and type.
    std::string cases;
    for (const auto& e : t.events) {
        std::string assignments;
        for (const auto& f : error.args) {
            const std::string name = f.name;
            if (name == "ErrorCode" || name == "Description" || f.type != ArgType::Int) continue;
            for (size_t k = 0; k < e.args.size(); ++k)
                if (name == e.args[k].name && e.args[k].type == ArgType::Int)
                    assignments += "        params." + name + " = failed.integer(" + std::to_string(k) + ");\n";
        }
        if (!assignments.empty() && &e != &error)
            cases += "    case " + ns + "::event::" + e.name + ":\n" + assignments + "        break;\n";
    }
    out << "void " << C << "::raiseErrorEvent(int code, const QString& text, int" << (cases.empty() ? "" : " failedEvent")
        << ", const EventArgs&" << (cases.empty() ? "" : " failed") << ")\n{\n    " << paramsType(policy, error)
        << " params;\n    params.ErrorCode = code;\n    params.Description = text;\n";
    if (!cases.empty()) out << "    switch (failedEvent) {\n" << cases << "    default:\n        break;\n    }\n";
    out << "    OnError(this, params);\n}\n\n";
    if (policy.flavour.about) {
        out << "void " << C << "::AboutDlg() { engine_.showAbout(); }\n\n";
        out << "CorvaneWS::TAbout* " << C << "::FAbout() const\n{\n"
            << "    return designing() ? CorvaneWS::aboutValue(const_cast<" << C << "*>(this)) : nullptr;\n}\n\n";
    }
    for (const auto& m : t.methods) {
        out << methodSignature(m, C + "::") << "\n{\n    EngineObject::Call call(" << ns << "::method::" << m.name
            << ");\n";
        for (const auto& a : m.args) {
            const std::string n = a.name;
            switch (a.type) {
            case ArgType::Int:
                out << "    call.integer(" << n << ");\n";
                break;
            case ArgType::Bool:
                out << "    call.integer(" << n << " ? 1 : 0);\n";
                break;
            case ArgType::Bytes:
                out << "    call.bytes(" << n << ".isEmpty() ? nullptr : " << n << ".constData(), int(" << n
                    << ".size()));\n";
                break;
            case ArgType::WideText:
            case ArgType::EventString:
                out << "    call.text(" << n << ");\n";
                break;
            }
        }
        out << "    call.run(engine_);\n";
        if (m.returnsText) out << "    return call.resultText();\n";
        out << "}\n\n";
    }
    out << closeNamespace(policy);
}

int generate(const ComponentPolicy& policy, const corvanews20::ObjectTables& tables, const std::string& base)
{
    try {
        std::ostringstream header, source;
        writeHeader(header, policy, tables);
        const std::string headerName = base.substr(base.find_last_of('/') + 1) + ".h";
        writeSource(source, policy, tables, headerName);
        // Unchanged output leaves the files alone, so nothing rebuilds for nothing.
        auto write = [](const std::string& path, const std::string& text) {
            std::ifstream in(path, std::ios::binary);
            std::ostringstream old;
            old << in.rdbuf();
            if (in && old.str() == text) return;
            std::ofstream(path, std::ios::binary) << text;
        };
        write(base + ".h", header.str());
        write(base + ".cpp", source.str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", policy.className, e.what());
        return 1;
    }
}

}  // namespace codegen
