// Time from creating the device manager (HID manager only) to initialize() returning, with
// 0, 1 and 8 virtual HID probes attached. The HID scan's fixed pause is 50 ms of each figure.
#include "DeviceMgr/backends/hidapi_devicemgr.h"
#include "DeviceMgr/device_manager_dir.h"
#include "model/families.h"
#include "model/generic_probes.h"
#include "umockdev/mock_env.h"
#include "umockdev/testbed.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

using namespace morvane::devices;

namespace {

pavix_bench::testbed& bed() {
    static pavix_bench::testbed tb;
    return tb;
}

void attach(size_t n, std::vector<std::shared_ptr<pavix_bench::virtual_probe>>& probes) {
    static const auto families = pavix_bench::readFamilies(pavix_bench::defaultDevdbPath());
    while (probes.size() < n) {
        auto desc = pavix_bench::familyProbe(families, "Tallvex Bootloader");
        desc.ports = {static_cast<uint8_t>(probes.size() + 1)};
        desc.serial = "INIT" + std::to_string(probes.size());
        probes.push_back(pavix_bench::makeProbe(desc));
        bed().plug(probes.back());
    }
}

void BM_InitializeWithHidProbes(benchmark::State& state) {
    static std::vector<std::shared_ptr<pavix_bench::virtual_probe>> probes;
    attach(static_cast<size_t>(state.range(0)), probes);
    backend_factory f;
    f.createManagers = [](device_manager_dir& dir, morvane::logger::logmgr& log,
                          const std::shared_ptr<param_db>& params, std::recursive_mutex& scan) {
        dir.connectHardwareManager("hidapi", std::make_shared<hidapi_devicemgr>(log, device_manager_dir::ID_HIDAPI_MGR,
                                                                                params, scan));
    };
    device_manager_dir::setBackendFactory(f);
    morvane::logger::logmgr log;
    size_t found = 0;
    for (auto _ : state) {
        std::map<std::string, std::string> props{{"supported_devices", "0x00000000"}, {"hid_access_mode", "default"}};
        auto dir = device_manager_dir::create("transport_lib", log, props);
        dir->initialize();
        state.PauseTiming();
        std::list<std::shared_ptr<morvane::devicemgrapi::hardware_device_api>> out;
        dir->getConnectedProgrammingDevices(out);
        found = out.size();
        dir.reset();
        state.ResumeTiming();
    }
    state.counters["devices"] = static_cast<double>(found);
    device_manager_dir::resetBackendFactory();
}

BENCHMARK(BM_InitializeWithHidProbes)->Arg(0)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
    if (!pavix_bench::inMockEnvironment()) {
        std::fprintf(stderr, "run under umockdev-wrapper\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    bed();
    return 0;
}
