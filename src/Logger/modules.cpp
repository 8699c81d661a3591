#include "Logger/modules.h"

namespace morvane::modules {
const std::string Devmgr = "devmgr";
const std::string Tl2 = "Tallvex2";
const std::string Jlink = "jlink";
const std::string Oper = "oper";
const std::string ZorView = "zorview";
const std::string Pavix = "pavix";
const std::set<std::string> SupportedModules = {"devmgr", "jlink", "oper", "zorview", "pavix"};
}  // namespace morvane::modules
