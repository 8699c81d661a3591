#include "DeviceMgr/device_manager_dir.h"
#include "DeviceMgr/param_db.h"
#include "support/fake_hardware.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using morvane::devices::backend_factory;
using morvane::devices::device_manager_dir;
using morvane::logger::logmgr;

// Rescans on a second thread while the client thread lists and looks up devices and an
// upgrade sets and clears "quick_start": no data race (ThreadSanitizer).
TEST(DirConcurrency, RescansRaceWithLookupsAndParameterChanges) {
    logmgr log;
    auto hid = std::make_shared<pavix_test::fake_manager>(log, device_manager_dir::ID_HIDAPI_MGR);
    auto detector = std::make_shared<pavix_test::fake_detector>();
    std::mutex busMutex;
    backend_factory f;
    f.createManagers = [&](device_manager_dir& dir, logmgr&, const auto&, std::recursive_mutex&) {
        dir.connectHardwareManager("hidapi", hid);
    };
    f.createDetector = [&](logmgr&) { return detector; };
    device_manager_dir::setBackendFactory(f);

    std::map<std::string, std::string> props{{"supported_devices", "0x00000000"}, {"hid_access_mode", "default"}};
    auto dir = device_manager_dir::create("transport_lib", log, props);
    dir->initialize();

    std::atomic<bool> stop{false};
    std::thread hotplug([&] {
        for (int i = 0; i < 300; ++i) {
            {
                std::lock_guard<std::mutex> lock(busMutex);
                hid->bus = (i % 2) ? std::vector<std::string>{"p1", "p2"} : std::vector<std::string>{"p2"};
            }
            std::lock_guard<std::recursive_mutex> scan(dir->scanMutex());
            std::lock_guard<std::mutex> lock(busMutex);
            detector->fire();
        }
        stop = true;
    });
    while (!stop) {
        std::list<std::shared_ptr<morvane::devicemgrapi::hardware_device_api>> out;
        dir->getConnectedProgrammingDevices(out);
        dir->getDeviceByHardwareID("P2");
        morvane::devices::scoped_param quick(*dir->params(), "quick_start", "true");
        (void)dir->connectNotice().ids();
    }
    hotplug.join();
    device_manager_dir::resetBackendFactory();
}
