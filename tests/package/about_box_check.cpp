// about_box_check ENGINE OBJECT: a plain host (no QApplication) loads the
// engine file, creates the engine object and asks it for its about box
// (method 255); the engine, having no window to show, writes it to standard
// error. Exit status 0 only when the object exists, the call answers 0 and
// what it wrote is the about text, so a dropped export or a silent method fails.
// Neither loading the engine nor its objects nor the about box may map Qt
// Widgets into such a host; the message box for hosts with widgets is a
// plugin near the engine, which must load and offer its entry point.
#include "corvanews20.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const char* const kAboutText = "Corvane WebSocket Server 2020\nVersion 20.0\nBuild 7239";

bool widgetsMapped()
{
    std::ifstream maps("/proc/self/maps");
    const std::string all((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
    return all.find("libQt6Widgets") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: about_box_check ENGINE OBJECT\n");
        return 2;
    }
    void* engine = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (engine == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    const std::string prefix = std::string("CorvaneWS_") + argv[2] + "_";
    auto create = reinterpret_cast<void* (*)(CorvaneWS_EventSink, void*, void*, int)>(dlsym(engine, (prefix + "Create").c_str()));
    auto doMethod = reinterpret_cast<int (*)(void*, int, int, void**, int*, void*)>(dlsym(engine, (prefix + "Do").c_str()));
    auto destroy = reinterpret_cast<int (*)(void*)>(dlsym(engine, (prefix + "Destroy").c_str()));
    if (create == nullptr || doMethod == nullptr || destroy == nullptr) {
        std::fprintf(stderr, "the engine does not export %sCreate, Do and Destroy\n", prefix.c_str());
        return 1;
    }
    void* handle = create(nullptr, nullptr, nullptr, 1);
    if (handle == nullptr) return 1;

    // What the method writes to standard error is caught in a file and read back.
    std::FILE* caught = std::tmpfile();
    const int savedStderr = dup(STDERR_FILENO);
    if (caught == nullptr || savedStderr < 0) return 1;
    std::fflush(stderr);
    dup2(fileno(caught), STDERR_FILENO);
    const int status = doMethod(handle, 255, 0, nullptr, nullptr, nullptr);
    std::fflush(stderr);
    dup2(savedStderr, STDERR_FILENO);
    destroy(handle);

    if (widgetsMapped()) {
        std::fprintf(stderr, "the engine mapped Qt Widgets into a host without them\n");
        return 1;
    }
    const std::string engineFile = argv[1];
    // Installed, the plugin is in the engine's own folder; in the build tree, beside it.
    const std::string folder = engineFile.substr(0, engineFile.rfind('/') + 1);
    std::string plugin = folder + "corvanews20/libcorvanews20about.so";
    if (access(plugin.c_str(), F_OK) != 0) plugin = folder + "libcorvanews20about.so";
    void* about = dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (about == nullptr || dlsym(about, "corvanews20_about_box") == nullptr) {
        std::fprintf(stderr, "the about box plugin %s does not load: %s\n", plugin.c_str(), dlerror());
        return 1;
    }

    std::string written;
    std::rewind(caught);
    for (int c; (c = std::fgetc(caught)) != EOF;) written += char(c);
    std::fputs(written.c_str(), stderr);
    if (status != 0) {
        std::fprintf(stderr, "method 255 of %s answered %d\n", argv[2], status);
        return 1;
    }
    if (written.find(kAboutText) == std::string::npos) {
        std::fprintf(stderr, "%s wrote no about box\n", argv[2]);
        return 1;
    }
    return 0;
}
