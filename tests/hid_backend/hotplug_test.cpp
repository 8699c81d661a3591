// Hot-plug through the libusb detector's own thread, on the virtual probe bench.
#include "hid_env.h"

#include <atomic>
#include <cstdio>

using namespace hid_env;
using clock_type = std::chrono::steady_clock;

namespace {

class HidHotplug : public pavix_bench::bench_fixture {
protected:
    void SetUp() override {
        bench_fixture::SetUp();
        m_backends = std::make_unique<pavix_test::scoped_backends>(hidOnly(true));
    }
    void TearDown() override {
        m_backends.reset();
        bench_fixture::TearDown();
    }
    morvane::logger::logmgr m_log;
    std::unique_ptr<pavix_test::scoped_backends> m_backends;
};

bool hasId(morvane::devices::device_manager_dir& d, const std::string& id) {
    for (const auto& dev : devices(d))
        if (dev->getHardwareID() == id) return true;
    return false;
}

TEST_F(HidHotplug, ArrivalAndRemovalReachTheListThroughTheDetectorAlone) {
    auto dir = makeDir(m_log);
    std::atomic<int> connects{0}, disconnects{0};
    clock_type::time_point arrivedAt;
    dir->getHardwareConnectedSignal().connect([&](device_ptr) {
        arrivedAt = clock_type::now();
        ++connects;
    });
    dir->getHardwareDisconnectedSignal().connect([&](device_ptr) { ++disconnects; });
    dir->initialize();
    EXPECT_TRUE(devices(*dir).empty());

    const auto plugged = clock_type::now();
    auto probe = plugFamily("Tallvex Bootloader");
    const std::string id = "Tallvex Bootloader-" + probe->desc().serial;
    ASSERT_TRUE(eventually([&] { return hasId(*dir, id); }, std::chrono::seconds(10)));
    std::printf("arrival to connected signal: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(arrivedAt - plugged).count()));
    EXPECT_EQ(connects.load(), 1);

    bench().unplug(*probe);
    ASSERT_TRUE(eventually([&] { return !hasId(*dir, id); }, std::chrono::seconds(10)));
    EXPECT_EQ(disconnects.load(), 1);
    dir.reset();  // stops the detector thread before the bench goes
}

TEST_F(HidHotplug, AProbeAttachedAtStartIsScannedOnceMoreWithoutChange) {
    plugFamily("Tallvex Bootloader");
    auto dir = makeDir(m_log);
    std::atomic<int> connects{0};
    dir->getHardwareConnectedSignal().connect([&](device_ptr) { ++connects; });
    dir->initialize();
    EXPECT_EQ(connects.load(), 1);
    // The enumeration event of the attached probe makes the detector rescan; nothing changes.
    auto detector_rescanned = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        return true;
    };
    detector_rescanned();
    EXPECT_EQ(connects.load(), 1);
    EXPECT_EQ(devices(*dir).size(), 1u);
}

TEST_F(HidHotplug, DetectorSurvivesASlotThatThrowsAndOneThatDestroysIt) {
    auto probe = plugFamily("Tallvex Bootloader");
    static std::shared_ptr<morvane::devices::libusb_detector> holder;
    holder = std::make_shared<morvane::devices::libusb_detector>(m_log);
    std::atomic<int> calls{0};
    std::atomic<bool> destroyed{false};
    holder->m_hardware_changed.connect([&] {
        if (++calls == 1) throw std::runtime_error("rescan failed");
        // The last holder goes away on the detector's own thread: it must not join itself.
        holder.reset();
        destroyed = true;
    });
    holder->startHardwareDetection();
    bench().unplug(*probe);  // a second event
    ASSERT_TRUE(eventually([&] { return destroyed.load(); }, std::chrono::seconds(10)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let the detached thread finish
    EXPECT_EQ(calls.load(), 2);
}

}  // namespace
