// package_codegen <output folder>: writes the package's four component
// classes (wskwebsocketclient_pkg, wskwebsocketserver, wskwebsocketproxy,
// wskcertmgr) from the engine's numbers tables and their policies.
#include "package_policies.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    int failed = 0;
    failed |= packagegen::generateClient(folder);
    failed |= packagegen::generateServer(folder);
    failed |= packagegen::generateProxy(folder);
    failed |= packagegen::generateCertMgr(folder);
    return failed;
}
