// The tool's client component: what of the engine's client object it
// publishes and stores, its enumerations and its Init defaults. The numbers
// come from corvanews20_client.h.
//   ws_client_codegen <output folder>
#include "client_surface.h"
#include "component_codegen.h"
#include "corvanews20_client.h"

#include <cstdio>
#include <string>

using namespace codegen;

namespace {

constexpr TypedProperty kTypes[] = {
    {"AuthScheme", "CorvaneWS::TwskAuthSchemes_"},
    {"FollowRedirects", "CorvaneWS::TwskTFollowRedirects_"},
    {"ProxyAuthScheme", "CorvaneWS::TwskAuthSchemes_"},
    {"ProxySSL", "CorvaneWS::TwskProxySSLTypes_"},
};

constexpr auto kInit = clientInitDefaults("0");

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const ComponentPolicy policy{"TwskWebSocketClient", "CorvaneWS", "corvanews20_client.h", "corvanews20::client",
                                 "ws/wsk_types.h", kToolClient, kClientPublished, kTypes, kInit, {}};
    return generate(policy, corvanews20::client::kTables, std::string(argv[1]) + "/wskwebsocketclient_gen");
}
