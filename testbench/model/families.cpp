#include "model/families.h"

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>

#ifndef PAVIX_BENCH_DEVDB_BUILD
#define PAVIX_BENCH_DEVDB_BUILD ""
#endif
#ifndef PAVIX_BENCH_DEVDB_SOURCE
#define PAVIX_BENCH_DEVDB_SOURCE ""
#endif

namespace pavix_bench {

namespace {
std::string attr(const std::string& tag, const std::string& name) {
    std::regex re("\\b" + name + "\\s*=\\s*\"([^\"]*)\"");
    std::smatch m;
    if (std::regex_search(tag, m, re)) return m[1].str();
    return {};
}

std::string stripComments(std::string s) {
    for (size_t a; (a = s.find("<!--")) != std::string::npos;) {
        size_t b = s.find("-->", a);
        s.erase(a, b == std::string::npos ? std::string::npos : b + 3 - a);
    }
    return s;
}
}  // namespace

std::string defaultDevdbPath() {
    for (const char* p : {PAVIX_BENCH_DEVDB_BUILD, PAVIX_BENCH_DEVDB_SOURCE}) {
        if (*p && std::ifstream(p).good()) return p;
    }
    return PAVIX_BENCH_DEVDB_BUILD;
}

std::vector<family_config> readFamilies(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read device database " + path);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = stripComments(ss.str());
    std::vector<family_config> out;
    std::regex tag_re("<(device|configuration)\\b([^>]*)>");
    std::string device;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), tag_re); it != std::sregex_iterator(); ++it) {
        const std::string kind = (*it)[1].str();
        const std::string body = (*it)[2].str();
        if (kind == "device") {
            device = attr(body, "name");
            continue;
        }
        family_config c;
        c.device = device;
        c.name = attr(body, "name");
        c.vid = uint16_t(std::stoul(attr(body, "vid"), nullptr, 16));
        c.pid = uint16_t(std::stoul(attr(body, "pid"), nullptr, 16));
        c.protocol = attr(body, "protocol");
        c.interface = uint8_t(std::stoul(attr(body, "interface"), nullptr, 16));
        out.push_back(c);
    }
    if (out.empty()) throw std::runtime_error("no configuration in device database " + path);
    return out;
}

std::vector<probe_desc> familyProbes(const std::vector<family_config>& configs) {
    std::vector<probe_desc> out;
    std::map<std::pair<uint16_t, uint16_t>, size_t> index;
    int tty_number = 0;
    for (const auto& c : configs) {
        auto key = std::make_pair(c.vid, c.pid);
        auto found = index.find(key);
        if (found == index.end()) {
            probe_desc d;
            d.vid = c.vid;
            d.pid = c.pid;
            d.family = c.device;
            d.manufacturer = "Morvane";
            d.product = c.device;
            std::ostringstream serial;
            serial << "VB" << std::hex << std::uppercase << c.pid << "000" << out.size();
            d.serial = serial.str();
            d.ports = {uint8_t(1 + out.size() % 7)};
            found = index.emplace(key, out.size()).first;
            out.push_back(d);
        }
        probe_desc& d = out[found->second];
        if (d.findInterface(c.interface)) continue;  // several records may name one interface
        // Endpoints numbered after the interface keep every interface's pair distinct.
        const uint8_t ep = uint8_t(1 + c.interface);
        const std::string iface_name = c.name == c.device ? c.name + " Bridge" : c.name;
        if (c.protocol == "hid") {
            d.interfaces.push_back(hidInterface(c.interface, iface_name, uint8_t(0x80 | ep), ep));
        } else if (c.protocol == "bulk") {
            d.interfaces.push_back(bulkInterface(c.interface, iface_name, uint8_t(0x80 | ep), ep));
        } else if (c.protocol == "serial") {
            interface_desc i = bulkInterface(c.interface, iface_name, uint8_t(0x80 | ep), ep);
            i.cls = 0x0A;  // CDC data: no bulk backend ever considers it
            d.interfaces.push_back(i);
            d.tty = tty_desc{"ttyACM" + std::to_string(tty_number++), c.interface, "cdc_acm"};
        }
    }
    return out;
}

probe_desc familyProbe(const std::vector<family_config>& configs, const std::string& device, uint16_t pid) {
    for (const auto& d : familyProbes(configs))
        if (d.family == device && (pid == 0 || d.pid == pid)) return d;
    throw std::invalid_argument("no device record " + device + " in the device database");
}

}  // namespace pavix_bench
