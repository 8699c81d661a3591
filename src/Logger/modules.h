#pragma once

#include <set>
#include <string>

// Module names carried in every log header.
namespace morvane::modules {
extern const std::string Devmgr;   // "devmgr"
extern const std::string Tl2;      // "Tallvex2"
extern const std::string Jlink;    // "jlink"
extern const std::string Oper;     // "oper"
extern const std::string ZorView;  // "zorview"
extern const std::string Pavix;    // "pavix"
extern const std::set<std::string> SupportedModules;
}  // namespace morvane::modules
