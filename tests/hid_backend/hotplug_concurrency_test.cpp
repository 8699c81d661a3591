// Destroying the device manager while the hot-plug thread is rescanning (ThreadSanitizer).
#include "Pavix/pavix.h"
#include "hid_env.h"

#include <atomic>

using namespace hid_env;

namespace {

class HidHotplugRace : public pavix_bench::bench_fixture {
protected:
    morvane::logger::logmgr m_log;
};

TEST_F(HidHotplugRace, DestroyWhileTheDetectorRescans) {
    pavix_test::scoped_backends backends(hidOnly(true));
    auto probe = plugFamily("Tallvex Bootloader");
    for (int round = 0; round < 3; ++round) {
        auto dir = makeDir(m_log);
        std::atomic<int> events{0};
        dir->getHardwareConnectedSignal().connect([&](device_ptr) { ++events; });
        dir->getHardwareDisconnectedSignal().connect([&](device_ptr) { ++events; });
        dir->initialize();
        // Keep the bus moving so rescans are running when the directory goes.
        bench().unplug(*probe);
        probe = plugFamily("Tallvex Bootloader");
        std::this_thread::sleep_for(std::chrono::milliseconds(120 + 40 * round));
        dir.reset();
    }
}

// The same through the library object a client holds, with every real backend and the
// client's connect callback installed.
TEST_F(HidHotplugRace, DeleteTheLibraryWhileTheDetectorRescans) {
    auto probe = plugFamily("Tallvex Bootloader");
    for (int round = 0; round < 3; ++round) {
        Pavix* api = createPavix();
        api->setConnectCallback([](PavixDevice*, bool, void*) {}, nullptr);
        ASSERT_EQ(api->initialize(0, nullptr), PavixOk);
        bench().unplug(*probe);
        probe = plugFamily("Tallvex Bootloader");
        std::this_thread::sleep_for(std::chrono::milliseconds(120 + 60 * round));
        api->exit();
    }
}

}  // namespace
