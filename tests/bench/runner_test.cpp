// The scenario runner: its file format, and a whole run with a third-party command.
#include "runner/scenario.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <unistd.h>

using namespace pavix_bench;

namespace {

std::vector<family_config> someFamilies() {
    return {{"Tallvex3", "Tallvex3 CMSIS-DAP HID", 0x04B4, 0xF151, "hid", 0},
            {"Tallvex3", "Tallvex3", 0x04B4, 0xF151, "hid", 1},
            {"Tallvex3", "Tallvex3 USB-UART", 0x04B4, 0xF151, "serial", 2},
            {"Tallvex3", "Tallvex3", 0x04B4, 0xF152, "bulk", 1}};
}

}  // namespace

TEST(ScenarioFile, ProbesRepliesFaultsAndTimes) {
    const char* text = R"(# a comment
probe a family=Tallvex3 port=4.2 serial="TL3 0001"
probe b family=Tallvex3 pid=f152
probe c generic=hid vid=1234 pid=beef manufacturer="Acme Labs" after=150   # trailing comment
reply c 84 84 00 07
fault c wait 2
fault c no_answer
unplug a after=500
)";
    scenario sc = parseScenario(text, someFamilies());
    ASSERT_EQ(sc.probes.size(), 3u);
    const auto& a = sc.probes[0];
    EXPECT_EQ(a.desc.vid, 0x04B4);
    EXPECT_EQ(a.desc.pid, 0xF151);
    EXPECT_EQ(a.desc.serial, "TL3 0001");
    EXPECT_EQ(a.desc.ports, (std::vector<uint8_t>{4, 2}));
    ASSERT_TRUE(a.desc.tty.has_value());
    EXPECT_EQ(a.unplug_after.count(), 500);
    EXPECT_EQ(sc.probes[1].desc.pid, 0xF152);
    EXPECT_EQ(sc.probes[1].desc.serial, "b");
    const auto& c = sc.probes[2];
    EXPECT_EQ(c.desc.vid, 0x1234);
    EXPECT_EQ(c.desc.pid, 0xBEEF);
    EXPECT_EQ(c.desc.manufacturer, "Acme Labs");
    EXPECT_EQ(c.plug_after.count(), 150);
    EXPECT_LT(c.unplug_after.count(), 0);
    EXPECT_EQ(c.model->pendingFaults(), 2u);
    // Auto-assigned ports never collide with each other.
    EXPECT_NE(sc.probes[1].desc.ports, c.desc.ports);
    // The scripted reply is used after the faults.
    EXPECT_TRUE(c.model->onHidReport(0, {0x84}).size() == 3u);  // two wait answers and the answer
    EXPECT_TRUE(c.model->onHidReport(0, {0x84}).empty());        // no answer
    auto r = c.model->onHidReport(0, {0x84});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].payload, (bytes{0x84, 0x00, 0x07}));
}

TEST(ScenarioFile, ErrorsNameTheLine) {
    struct bad {
        const char* text;
        const char* needle;
    };
    for (const bad& b : {bad{"probe x", "line 1"}, bad{"\nprobe x generic=usb", "line 2"},
                         bad{"probe x generic=hid\nprobe x generic=hid", "declared twice"},
                         bad{"probe x family=Nope", "Nope"}, bad{"fault y wait 1", "unknown probe y"},
                         bad{"probe x generic=hid\nfault x melt", "melt"},
                         bad{"probe x generic=hid port=0", "bad port"},
                         bad{"probe x generic=hid colour=red", "unknown key colour"},
                         bad{"probe x generic=hid family=Tallvex3", "exactly one"},
                         bad{"probe x generic=hid serial=\"open", "quote"}, bad{"jump x", "unknown statement"}}) {
        try {
            parseScenario(b.text, someFamilies());
            ADD_FAILURE() << "accepted: " << b.text;
        } catch (const scenario_error& e) {
            EXPECT_NE(std::string(e.what()).find(b.needle), std::string::npos) << e.what();
        }
    }
}

#ifdef PAVIX_VPROBE_PATH
TEST(ScenarioRunner, RunsACommandUnderItsProbesAndReturnsItsStatus) {
    char dir[] = "/tmp/pavix-vprobe-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/s.scn";
    std::ofstream(file) << "probe one generic=bulk vid=1209 pid=a0a0 serial=RUN-1 port=3.1\n"
                           "probe two generic=serial pid=a0a1 after=100\n";
    // Started plainly: the runner puts itself under the preload.
    const std::string cmd = "timeout -k 5 30 " PAVIX_VPROBE_PATH " --quiet " + file +
                            " -- sh -c 'sleep 0.3; lsusb -d 1209:a0a0 -v 2>/dev/null | grep iSerial; "
                            "ls /dev/ttyACM0; exit 5' 2>&1";
    std::string out;
    FILE* f = popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::array<char, 512> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), f)) > 0) out.append(buf.data(), n);
    int status = pclose(f);
    unlink(file.c_str());
    rmdir(dir);
    EXPECT_EQ(WEXITSTATUS(status), 5) << out;
    EXPECT_NE(out.find("RUN-1"), std::string::npos) << out;
    EXPECT_NE(out.find("/dev/ttyACM0"), std::string::npos) << out;
}
#endif
