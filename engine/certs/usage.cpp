#include "engine/certs/usage.h"

#include <openssl/objects.h>

#include <arpa/inet.h>

#include <cctype>
#include <cstring>
#include <vector>

namespace corvane::certs {

namespace {

struct UsageName {
    int flag;
    const char* name;   // OpenSSL's configuration name, also what we show
};
const UsageName kUsageNames[] = {
    {KU_DIGITAL_SIGNATURE, "digitalSignature"}, {KU_NON_REPUDIATION, "nonRepudiation"},
    {KU_KEY_ENCIPHERMENT, "keyEncipherment"},   {KU_DATA_ENCIPHERMENT, "dataEncipherment"},
    {KU_KEY_AGREEMENT, "keyAgreement"},         {KU_KEY_CERT_SIGN, "keyCertSign"},
    {KU_CRL_SIGN, "cRLSign"},                   {KU_ENCIPHER_ONLY, "encipherOnly"},
    {KU_DECIPHER_ONLY, "decipherOnly"},
};

std::vector<std::string> splitList(std::string_view text)
{
    std::vector<std::string> items;
    std::string cur;
    auto flush = [&] {
        if (!cur.empty())
            items.push_back(cur);
        cur.clear();
    };
    for (char c : text) {
        if (c == ',' || c == ';' || std::isspace(static_cast<unsigned char>(c)))
            flush();
        else
            cur += c;
    }
    flush();
    return items;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t k = 0; k < a.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(a[k])) != std::tolower(static_cast<unsigned char>(b[k])))
            return false;
    return true;
}

bool isDottedOid(const std::string& s)
{
    if (s.empty() || !std::isdigit(static_cast<unsigned char>(s.front())) || s.back() == '.')
        return false;
    int dots = 0;
    for (char c : s) {
        if (c == '.')
            ++dots;
        else if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return dots >= 1 && s.find("..") == std::string::npos;
}

// An extended-usage item as OpenSSL names it, or empty when unknown.
std::string ekuItem(const std::string& item)
{
    if (isDottedOid(item)) {
        ASN1_OBJECT* obj = OBJ_txt2obj(item.c_str(), 1);
        if (obj == nullptr) {
            clearOpenSslErrors();
            return {};
        }
        ASN1_OBJECT_free(obj);
        return item;
    }
    int nid = OBJ_sn2nid(item.c_str());
    if (nid == NID_undef)
        nid = OBJ_ln2nid(item.c_str());
    if (nid == NID_undef) {
        // Case-insensitive for the usual ones ("ServerAuth").
        static const char* const kCommon[] = {"serverAuth", "clientAuth", "codeSigning", "emailProtection",
                                              "timeStamping", "OCSPSigning", "ipsecIKE", "anyExtendedKeyUsage"};
        for (const char* c : kCommon)
            if (equalsNoCase(item, c))
                return c;
        return {};
    }
    return OBJ_nid2sn(nid);
}

} // namespace

std::string usageText(int flags)
{
    std::string text;
    for (const UsageName& u : kUsageNames) {
        if (flags & u.flag) {
            if (!text.empty())
                text += ", ";
            text += u.name;
        }
    }
    return text;
}

bool parseUsage(std::string_view text, int& flags, std::string& bad)
{
    int result = 0;
    for (const std::string& item : splitList(text)) {
        bool found = false;
        for (const UsageName& u : kUsageNames) {
            if (equalsNoCase(item, u.name)) {
                result |= u.flag;
                found = true;
            }
        }
        if (!found) {
            bad = item;
            return false;
        }
    }
    flags = result;
    return true;
}

bool validExtendedUsage(std::string_view text, std::string& bad)
{
    for (const std::string& item : splitList(text)) {
        if (ekuItem(item).empty()) {
            bad = item;
            return false;
        }
    }
    return true;
}

std::string extendedUsageConf(std::string_view text)
{
    std::string conf;
    for (const std::string& item : splitList(text)) {
        const std::string name = ekuItem(item);
        if (name.empty())
            continue;
        if (!conf.empty())
            conf += ',';
        conf += name;
    }
    return conf;
}

Error subjectAltNameConf(std::string_view text, std::string& conf)
{
    conf.clear();
    for (const std::string& item : splitList(text)) {
        const size_t colon = item.find(':');
        if (colon == std::string::npos || colon + 1 == item.size())
            return error(kInvalidName, "\"" + item + "\" is not TYPE:value (DNS, IP, email or URI)");
        const std::string type = item.substr(0, colon);
        const std::string value = item.substr(colon + 1);
        std::string canonical;
        if (equalsNoCase(type, "DNS"))
            canonical = "DNS";
        else if (equalsNoCase(type, "IP") || equalsNoCase(type, "IP Address"))
            canonical = "IP";
        else if (equalsNoCase(type, "email"))
            canonical = "email";
        else if (equalsNoCase(type, "URI"))
            canonical = "URI";
        else
            return error(kInvalidName, "alternative name type \"" + type + "\" (use DNS, IP, email or URI)");
        // The builder reads '@' as a section reference and ',' as a separator.
        if (value.find_first_of(",@") != std::string::npos && canonical != "email")
            return error(kInvalidName, "\"" + item + "\"");
        if (canonical == "IP") {
            unsigned char buf[16];
            if (inet_pton(AF_INET, value.c_str(), buf) != 1 && inet_pton(AF_INET6, value.c_str(), buf) != 1)
                return error(kInvalidName, "\"" + value + "\" is not an IP address");
        }
        if (canonical == "email" && (value.find(',') != std::string::npos || value.find('@') == std::string::npos))
            return error(kInvalidName, "\"" + value + "\" is not an e-mail address");
        if (!conf.empty())
            conf += ',';
        conf += canonical + ':' + value;
    }
    return ok();
}

std::string subjectAltNameText(const GENERAL_NAMES* names)
{
    std::string text;
    const int n = sk_GENERAL_NAME_num(names);
    for (int k = 0; k < n; ++k) {
        const GENERAL_NAME* g = sk_GENERAL_NAME_value(names, k);
        std::string item;
        auto ia5 = [](const ASN1_IA5STRING* s) {
            return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)), size_t(ASN1_STRING_length(s)));
        };
        switch (g->type) {
        case GEN_DNS: item = "DNS:" + ia5(g->d.dNSName); break;
        case GEN_EMAIL: item = "email:" + ia5(g->d.rfc822Name); break;
        case GEN_URI: item = "URI:" + ia5(g->d.uniformResourceIdentifier); break;
        case GEN_IPADD: {
            const unsigned char* p = ASN1_STRING_get0_data(g->d.iPAddress);
            const int len = ASN1_STRING_length(g->d.iPAddress);
            char buf[INET6_ADDRSTRLEN] = {0};
            if ((len == 4 && inet_ntop(AF_INET, p, buf, sizeof buf)) || (len == 16 && inet_ntop(AF_INET6, p, buf, sizeof buf)))
                item = std::string("IP:") + buf;
            else
                item = "IP:<invalid>";
            break;
        }
        case GEN_DIRNAME: {
            char* s = X509_NAME_oneline(g->d.directoryName, nullptr, 0);
            item = std::string("DirName:") + (s ? s : "");
            OPENSSL_free(s);
            break;
        }
        case GEN_RID: {
            char buf[128] = {0};
            OBJ_obj2txt(buf, sizeof buf, g->d.registeredID, 1);
            item = std::string("RID:") + buf;
            break;
        }
        default: item = "othername:<unsupported>"; break;
        }
        if (!text.empty())
            text += ", ";
        text += item;
    }
    return text;
}

std::string altNameForCommonName(std::string_view commonName)
{
    const std::string cn(commonName);
    unsigned char buf[16];
    if (inet_pton(AF_INET, cn.c_str(), buf) == 1 || inet_pton(AF_INET6, cn.c_str(), buf) == 1)
        return "IP:" + cn;
    // A host name: letters, digits, hyphens, dots, a leading "*." wildcard.
    if (cn.empty() || cn.size() > 253)
        return {};
    std::string_view rest = cn;
    if (rest.substr(0, 2) == "*.")
        rest.remove_prefix(2);
    if (rest.empty() || rest.front() == '.' || rest.back() == '.' || rest.front() == '-')
        return {};
    for (char c : rest)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.'))
            return {};
    return "DNS:" + cn;
}

} // namespace corvane::certs
