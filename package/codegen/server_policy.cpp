// The package's WebSocket server (numbers of corvanews20_server.h).
#include "component_codegen.h"
#include "corvanews20_server.h"
#include "package_policies.h"

using namespace codegen;

namespace {

constexpr Published kPublished[] = {
    {"DefaultTimeout", Publish::Stored},       {"LocalHost", Publish::NeverStored},
    {"LocalPort", Publish::Stored},            {"SSLAuthenticateClients", Publish::Stored},
    {"SSLCertStore", Publish::Stored},         {"SSLCertStorePassword", Publish::Stored},
    {"SSLCertStoreType", Publish::Stored},     {"SSLCertSubject", Publish::Stored},
};

constexpr InitDefault kInit[] = {
    {"DefaultTimeout", "0"},   {"LocalPort", "0"},           {"SSLAuthenticateClients", "False"},
    {"SSLCertStore", "MY"},    {"SSLCertStorePassword", ""}, {"SSLCertStoreType", "0"},
    {"SSLCertSubject", ""},
};

}  // namespace

int packagegen::generateServer(const std::string& folder)
{
    const ComponentPolicy policy{"TwskWebSocketServer", "CorvaneWS::Package", "corvanews20_server.h",
                                 "corvanews20::server", "package/wsk_package_types.h", kPackageComponent,
                                 kPublished, {}, kInit, {}};
    return generate(policy, corvanews20::server::kTables, folder + "/wskwebsocketserver");
}
