// libcorvanews20pkg.so: the package as a design environment loads it. Its
// whole content is the core library; this unit only says what it is.
#include "package/registration.h"

extern "C" __attribute__((visibility("default"))) const char* Corvanews_PackageName()
{
    return "corvanews20";
}
