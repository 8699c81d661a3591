#include "runner/scenario.h"

#include "model/generic_probes.h"

#include <map>
#include <sstream>

namespace pavix_bench {

namespace {

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false, any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (any) out.push_back(cur);
            cur.clear();
            any = false;
        } else {
            cur += c;
            any = true;
        }
    }
    if (quoted) throw scenario_error("unbalanced quote");
    if (any) out.push_back(cur);
    return out;
}

unsigned long number(const std::string& s, int base = 10) {
    size_t used = 0;
    unsigned long v = 0;
    try {
        v = std::stoul(s, &used, base);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != s.size() || s.empty()) throw scenario_error("not a number: " + s);
    return v;
}

std::vector<uint8_t> portPath(const std::string& s) {
    std::vector<uint8_t> ports;
    std::stringstream ss(s);
    std::string part;
    while (std::getline(ss, part, '.')) {
        unsigned long p = number(part);
        if (p == 0 || p > 31) throw scenario_error("bad port " + part);
        ports.push_back(uint8_t(p));
    }
    if (ports.empty() || ports.size() > 7) throw scenario_error("bad port path " + s);
    return ports;
}

}  // namespace

scenario parseScenario(const std::string& text, const std::vector<family_config>& families) {
    scenario sc;
    std::map<std::string, size_t> by_name;
    std::istringstream in(text);
    std::string line;
    int lineno = 0;
    uint8_t next_port = 1;
    auto find = [&](const std::string& name) -> scenario_probe& {
        auto it = by_name.find(name);
        if (it == by_name.end()) throw scenario_error("unknown probe " + name);
        return sc.probes[it->second];
    };
    while (std::getline(in, line)) {
        ++lineno;
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        try {
            auto w = words(line);
            if (w.empty()) continue;
            const std::string& verb = w[0];
            if (verb == "probe") {
                if (w.size() < 3) throw scenario_error("probe needs a name and a kind");
                scenario_probe p;
                p.name = w[1];
                if (by_name.count(p.name)) throw scenario_error("probe " + p.name + " declared twice");
                std::map<std::string, std::string> kv;
                for (size_t i = 2; i < w.size(); ++i) {
                    auto eq = w[i].find('=');
                    if (eq == std::string::npos) throw scenario_error("expected key=value: " + w[i]);
                    kv[w[i].substr(0, eq)] = w[i].substr(eq + 1);
                }
                auto take = [&](const char* k) {
                    auto it = kv.find(k);
                    if (it == kv.end()) return std::string();
                    std::string v = it->second;
                    kv.erase(it);
                    return v;
                };
                const std::string family = take("family"), kind = take("generic"), pid = take("pid");
                if (!family.empty() == !kind.empty()) throw scenario_error("give exactly one of family= or generic=");
                if (!family.empty()) {
                    p.desc = familyProbe(families, family, pid.empty() ? 0 : uint16_t(number(pid, 16)));
                } else {
                    const uint16_t vid = 0x1209;
                    if (kind == "hid") p.desc = genericHidProbe(vid, 0x0001);
                    else if (kind == "bulk") p.desc = genericBulkProbe(vid, 0x0002);
                    else if (kind == "serial") p.desc = genericSerialProbe(vid, 0x0003);
                    else throw scenario_error("generic= takes hid, bulk or serial");
                    if (!pid.empty()) p.desc.pid = uint16_t(number(pid, 16));
                }
                p.desc.serial = p.name;
                if (auto v = take("vid"); !v.empty()) p.desc.vid = uint16_t(number(v, 16));
                if (auto v = take("serial"); !v.empty()) p.desc.serial = v;
                if (auto v = take("manufacturer"); !v.empty()) p.desc.manufacturer = v;
                if (auto v = take("product"); !v.empty()) p.desc.product = v;
                if (auto v = take("tty"); !v.empty()) {
                    if (!p.desc.tty) throw scenario_error("probe has no serial port");
                    p.desc.tty->name = v;
                }
                if (auto v = take("bus"); !v.empty()) p.desc.bus = uint8_t(number(v));
                if (auto v = take("port"); !v.empty()) p.desc.ports = portPath(v);
                else p.desc.ports = {next_port++};
                if (auto v = take("after"); !v.empty()) p.plug_after = std::chrono::milliseconds(number(v));
                if (!kv.empty()) throw scenario_error("unknown key " + kv.begin()->first);
                p.model = std::make_shared<generic_model>();
                by_name[p.name] = sc.probes.size();
                sc.probes.push_back(std::move(p));
            } else if (verb == "reply") {
                if (w.size() < 4) throw scenario_error("reply needs a probe, a command code and answer bytes");
                bytes answer;
                for (size_t i = 3; i < w.size(); ++i) answer.push_back(uint8_t(number(w[i], 16)));
                find(w[1]).model->reply(uint8_t(number(w[2], 16)), answer);
            } else if (verb == "fault") {
                if (w.size() < 3 || w.size() > 4) throw scenario_error("fault needs a probe, a kind and maybe a number");
                fault f{faultKindFromName(w[2]), w.size() == 4 ? unsigned(number(w[3])) : 0u};
                find(w[1]).model->script(f);
            } else if (verb == "unplug") {
                if (w.size() != 3 || w[2].rfind("after=", 0) != 0) throw scenario_error("unplug needs a probe and after=<ms>");
                find(w[1]).unplug_after = std::chrono::milliseconds(number(w[2].substr(6)));
            } else {
                throw scenario_error("unknown statement " + verb);
            }
        } catch (const std::exception& e) {
            throw scenario_error("line " + std::to_string(lineno) + ": " + e.what());
        }
    }
    return sc;
}

}  // namespace pavix_bench
