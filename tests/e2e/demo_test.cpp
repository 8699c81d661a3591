#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string run(const std::string& cmd, int& status) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    status = pclose(p);
    return out;
}

bool has(const std::string& out, const std::string& text) { return out.find(text) != std::string::npos; }

TEST(EndToEnd, RenovoFindsTheDemoProbesThroughTheRealBackends) {
    // The children run under the umockdev preload, which must come before a sanitizer runtime.
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=1", 1);
    int status = -1;
    const std::string out = run(std::string("timeout -k 5 60 ") + PAVIX_VPROBE_PATH + " --quiet " +
                                    PAVIX_DEMO_SCENARIO + " -- " + PAVIX_RENOVO_PATH + " --debug 2>&1",
                                status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(has(out, "Info: Start API initialization\r\n")) << out;
    EXPECT_TRUE(has(out, "libpavix 3.1.0.834")) << out;
    // Both HID interfaces of the third-generation probe, the bootloader and the probe behind
    // a hub are created; the unknown device is not.
    for (const char* serial : {"TL3-000123", "BL-000042", "TL2-007"})
        EXPECT_TRUE(has(out, std::string("Serial =") + serial)) << serial << "\n" << out;
    size_t created = 0;
    for (size_t at = out.find("createDevice is successful"); at != std::string::npos;
         at = out.find("createDevice is successful", at + 1))
        ++created;
    EXPECT_EQ(created, 4u) << out;
    EXPECT_FALSE(has(out, "Serial =X-1")) << out;
    EXPECT_FALSE(has(out, "Error")) << out;
}

}  // namespace
