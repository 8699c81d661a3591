// The transport-independent layer: descriptors, identities from the device database.
#include "model/families.h"
#include "model/generic_probes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

using namespace pavix_bench;

TEST(BenchDescriptors, ConfigurationWalksAsTheHostParsesIt) {
    probe_desc d = genericHidProbe();
    d.interfaces.push_back(bulkInterface(1, "Bridge", 0x83, 0x03, 512));
    bytes c = configDescriptor(d);
    ASSERT_EQ(c[1], 2);
    EXPECT_EQ(size_t(c[2] | (c[3] << 8)), c.size());
    EXPECT_EQ(c[4], 2);
    // Walk every descriptor: lengths chain exactly to the end.
    std::vector<uint8_t> types;
    size_t at = 0;
    while (at < c.size()) {
        ASSERT_GT(c[at], 0);
        types.push_back(c[at + 1]);
        at += c[at];
    }
    EXPECT_EQ(at, c.size());
    EXPECT_EQ(types, (std::vector<uint8_t>{2, 4, 0x21, 5, 5, 4, 5, 5}));
    EXPECT_EQ(interfaceStringIndex(d, 1), 5);
    bytes s = stringDescriptor(d, 5);
    ASSERT_EQ(s.size(), 2u + 2 * 6);
    EXPECT_EQ(s[2], 'B');
    EXPECT_EQ(s[3], 0);
    EXPECT_TRUE(stringDescriptor(d, 9).empty());
    EXPECT_EQ(d.answerEndpointFor(0x03), 0x83);
}

TEST(BenchDescriptors, LocationsFollowThePortPath) {
    probe_desc d = genericBulkProbe();
    d.bus = 2;
    d.ports = {4, 2};
    EXPECT_EQ(d.sysName(), "2-4.2");
    EXPECT_EQ(d.busLocation(), "2:4,2");
}

TEST(BenchFaults, NamesRoundTrip) {
    for (auto k : {fault::kind::none, fault::kind::no_answer, fault::kind::delay, fault::kind::wait,
                   fault::kind::wrong_code, fault::kind::short_answer, fault::kind::stall, fault::kind::disconnect})
        EXPECT_EQ(faultKindFromName(faultName(k)), k);
    EXPECT_THROW(faultKindFromName("melt"), std::invalid_argument);
}

TEST(BenchFamilies, EveryShippedIdentityBecomesAProbe) {
    const std::string path = defaultDevdbPath();
    if (!std::ifstream(path).good()) GTEST_SKIP() << "no device database at " << path;
    auto configs = readFamilies(path);
    auto probes = familyProbes(configs);
    std::set<std::pair<uint16_t, uint16_t>> ids;
    for (const auto& c : configs) ids.insert({c.vid, c.pid});
    ASSERT_EQ(probes.size(), ids.size());
    for (const auto& c : configs) {
        SCOPED_TRACE(c.name);
        const probe_desc* p = nullptr;
        for (const auto& d : probes)
            if (d.vid == c.vid && d.pid == c.pid) p = &d;
        ASSERT_NE(p, nullptr);
        const interface_desc* i = p->findInterface(c.interface);
        ASSERT_NE(i, nullptr);
        if (c.protocol == "hid") {
            EXPECT_TRUE(i->hid());
        }
        if (c.protocol == "bulk") {
            EXPECT_EQ(i->cls, 0xFF);
        }
        if (c.protocol == "serial") {
            ASSERT_TRUE(p->tty.has_value());
            EXPECT_EQ(p->tty->interface_number, c.interface);
        }
        // A CMSIS-DAP configuration's interface string names it so.
        if (c.name.find("CMSIS-DAP") != std::string::npos) {
            EXPECT_NE(i->name.find("CMSIS-DAP"), std::string::npos);
        }
    }
    // Every device record of the file has at least one probe.
    for (const auto& c : configs) EXPECT_NO_THROW(familyProbe(configs, c.device));
    EXPECT_THROW(familyProbe(configs, "No Such Probe"), std::invalid_argument);
}
