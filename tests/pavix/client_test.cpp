// A client of libpavix.so that knows nothing but the public header: every call goes through
// createPavix() and the Pavix vtable, so a slot out of order would call the wrong operation.
#include "Pavix/Pavix.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_lines;
void onLog(const char* line, PavixLogLevel, void*) { g_lines.emplace_back(line); }

TEST(PavixClient, LifecycleThroughTheVtable) {
    Pavix* api = createPavix();
    ASSERT_NE(api, nullptr);
    EXPECT_STREQ(api->getErrorDescription(-16), "The 'initialize API' was not called");
    unsigned int a = 0, b = 0, c = 0, d = 0;
    EXPECT_EQ(api->getVersion(a, b, c, d), PavixErrNotInitialized);
    api->setConnectCallback(nullptr, nullptr);
    api->setLogCallback(onLog, nullptr, PavixLogDebug);
    PavixProps props{nullptr, false};
    EXPECT_EQ(api->initialize(PavixDevCmsisDap, &props), PavixOk);
    EXPECT_EQ(api->getVersion(a, b, c, d), PavixOk);
    EXPECT_EQ(a * 1000000 + b * 10000 + c * 1000 + d, 3010834u);
    EXPECT_EQ(api->cancelTransfer(), PavixErrNotSupported);
    EXPECT_EQ(api->getDeviceList(nullptr), PavixErrNotSupported);
    api->exit();
    bool sawShutdown = false;
    for (const auto& l : g_lines) sawShutdown |= l == "Debug: m_api_p->shutdown() completed\r\n";
    EXPECT_TRUE(sawShutdown);
}

TEST(PavixClient, DeleteThroughVirtualDestructor) {
    Pavix* api = createPavix();
    ASSERT_EQ(api->initialize(0, nullptr), PavixOk);
    delete api;
}

}  // namespace
