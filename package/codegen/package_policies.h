#pragma once
// Each package component's policy: published and stored properties, typed
// properties and Init defaults. The numbers are the engine tables'.

#include <string>

namespace packagegen {
int generateClient(const std::string& folder);
int generateServer(const std::string& folder);
int generateProxy(const std::string& folder);
int generateCertMgr(const std::string& folder);
}  // namespace packagegen
