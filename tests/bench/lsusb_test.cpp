// A third-party program (lsusb from usbutils) run against the bench as a child process.
#include "umockdev/bench_fixture.h"

#include <array>
#include <cstdio>
#include <regex>

using namespace pavix_bench;

namespace {

std::string run(const std::string& cmd) {
    prepareChildEnvironment();
    std::string out;
    FILE* f = popen(cmd.c_str(), "r");
    if (!f) return out;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), f)) > 0) out.append(buf.data(), n);
    pclose(f);
    return out;
}

std::string hex4(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "%04x", v);
    return b;
}

class LsusbBench : public bench_fixture {};

}  // namespace

TEST_F(LsusbBench, ListsEveryProbeWithIdsAddressAndStrings) {
    probe_desc a = genericBulkProbe(0x1209, 0xA001, "LSU-A");
    a.ports = {1};
    probe_desc b = genericHidProbe(0x1209, 0xA002, "LSU-B-0123456789");
    b.bus = 2;
    b.ports = {3, 4};  // behind a hub
    probe_desc c = genericSerialProbe(0x1209, 0xA003, "LSU-C");
    c.bus = 2;
    c.ports = {3, 1, 2};  // behind two hubs
    std::vector<std::shared_ptr<virtual_probe>> probes{plug(a), plug(b), plug(c)};

    const std::string out = run("timeout -k 5 20 lsusb -v 2>/dev/null");
    ASSERT_FALSE(out.empty());
    for (const auto& p : probes) {
        const probe_desc& d = p->desc();
        SCOPED_TRACE(d.serial);
        char head[64];
        std::snprintf(head, sizeof head, "Bus %03u Device %03u: ID %04x:%04x", d.bus, bench().devnum(*p), d.vid, d.pid);
        const size_t at = out.find(head);
        ASSERT_NE(at, std::string::npos) << out;
        // This device's block runs to the next "Bus " line.
        const size_t end = out.find("\nBus ", at + 1);
        const std::string block = out.substr(at, end == std::string::npos ? std::string::npos : end - at);
        EXPECT_NE(block.find("idVendor           0x" + hex4(d.vid)), std::string::npos) << block;
        EXPECT_NE(block.find("idProduct          0x" + hex4(d.pid)), std::string::npos) << block;
        EXPECT_TRUE(std::regex_search(block, std::regex("iManufacturer +1 " + d.manufacturer + "\n"))) << block;
        EXPECT_TRUE(std::regex_search(block, std::regex("iProduct +2 " + d.product + "\n"))) << block;
        EXPECT_TRUE(std::regex_search(block, std::regex("iSerial +3 " + d.serial + "\n"))) << block;
    }
    // The hubs on the way are listed too.
    EXPECT_NE(out.find("ID 1d6b:0002"), std::string::npos);
    EXPECT_NE(out.find("ID 1209:7ff0"), std::string::npos);
}
