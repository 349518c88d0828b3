// The tool's client component: what of the engine's client object it
// publishes and stores, its enumerations and its Init defaults. The numbers
// come from corvanews20_client.h.
//   ws_client_codegen <output folder>
#include "component_codegen.h"
#include "corvanews20_client.h"

#include <cstdio>
#include <string>

using namespace codegen;

namespace {

constexpr Published kPublished[] = {
    {"Authorization", Publish::Stored},        {"AuthScheme", Publish::Stored},
    {"DataFormat", Publish::Stored},           {"FirewallAutoDetect", Publish::Stored},
    {"FirewallType", Publish::Stored},         {"FirewallHost", Publish::Stored},
    {"FirewallPassword", Publish::Stored},     {"FirewallPort", Publish::Stored},
    {"FirewallUser", Publish::Stored},         {"FollowRedirects", Publish::Stored},
    {"LocalHost", Publish::NeverStored},       {"LocalPort", Publish::Stored},
    {"Password", Publish::Stored},             {"ProxyAuthScheme", Publish::Stored},
    {"ProxyAutoDetect", Publish::Stored},      {"ProxyPassword", Publish::Stored},
    {"ProxyPort", Publish::Stored},            {"ProxyServer", Publish::Stored},
    {"ProxySSL", Publish::Stored},             {"ProxyUser", Publish::Stored},
    {"SSLCertStore", Publish::Stored},         {"SSLCertStorePassword", Publish::Stored},
    {"SSLCertStoreType", Publish::Stored},     {"SSLCertSubject", Publish::Stored},
    {"Timeout", Publish::Stored},              {"User", Publish::Stored},
};

constexpr TypedProperty kTypes[] = {
    {"AuthScheme", "CorvaneWS::TwskAuthSchemes_"},
    {"FollowRedirects", "CorvaneWS::TwskTFollowRedirects_"},
    {"ProxyAuthScheme", "CorvaneWS::TwskAuthSchemes_"},
    {"ProxySSL", "CorvaneWS::TwskProxySSLTypes_"},
};

constexpr InitDefault kInit[] = {
    {"Authorization", ""},     {"AuthScheme", "authBasic"},  {"DataFormat", "0"},
    {"FirewallAutoDetect", "False"}, {"FirewallType", "0"},  {"FirewallHost", ""},
    {"FirewallPassword", ""},  {"FirewallPort", "0"},        {"FirewallUser", ""},
    {"FollowRedirects", "frNever"}, {"LocalPort", "0"},      {"Password", ""},
    {"ProxyAuthScheme", "authBasic"}, {"ProxyAutoDetect", "False"}, {"ProxyPassword", ""},
    {"ProxyPort", "80"},       {"ProxyServer", ""},          {"ProxySSL", "psAutomatic"},
    {"ProxyUser", ""},         {"SSLCertStore", "MY"},       {"SSLCertStorePassword", ""},
    {"SSLCertStoreType", "0"}, {"SSLCertSubject", ""},       {"Timeout", "60"},
    {"User", ""},
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const ComponentPolicy policy{"TwskWebSocketClient", "CorvaneWS", "corvanews20_client.h", "corvanews20::client",
                                 "ws/wsk_types.h", kToolClient, kPublished, kTypes, kInit};
    return generate(policy, corvanews20::client::kTables, std::string(argv[1]) + "/wskwebsocketclient_gen");
}
