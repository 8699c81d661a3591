// Bulk round trip (one 64-byte packet out, its answer in) against a virtual probe: through
// libusb_deviceobj, and through raw libusb calls for comparison. Run under umockdev-wrapper.
#include "DeviceMgr/backends/libusb_devicemgr.h"
#include "DeviceMgr/backends/libusb_deviceobj.h"
#include "DeviceMgr/device_manager_dir.h"
#include "DeviceMgr/devices/usbhardwaredev.h"
#include "support/fake_hardware.h"
#include "umockdev/bench_fixture.h"

#include <benchmark/benchmark.h>

#include <libusb.h>

#include <cstdio>
#include <list>
#include <map>
#include <memory>

using morvane::devices::device_manager_dir;
using morvane::devices::libusb_deviceobj;

namespace {

pavix_bench::probe_desc dapLink() {
    return pavix_bench::familyProbe(pavix_bench::readFamilies(pavix_bench::defaultDevdbPath()), "DAPLink", 0);
}

void BM_DeviceObjectRoundTrip(benchmark::State& state) {
    morvane::logger::logmgr log;
    {
        morvane::devices::backend_factory f;
        f.createManagers = [](device_manager_dir& dir, morvane::logger::logmgr& l,
                              const std::shared_ptr<morvane::devices::param_db>& params, std::recursive_mutex& scan) {
            dir.connectHardwareManager("jlink", std::make_shared<morvane::devices::libusb_devicemgr>(
                                                    l, device_manager_dir::ID_LIBUSB_MGR, params, scan));
        };
        pavix_test::scoped_backends backends(f);
        std::map<std::string, std::string> props{{"supported_devices", "0x00000000"}, {"hid_access_mode", "default"}};
        auto dir = device_manager_dir::create("transport_lib", log, props);
        dir->initialize();
        std::list<std::shared_ptr<morvane::devicemgrapi::hardware_device_api>> devices;
        dir->getConnectedProgrammingDevices(devices);
        if (devices.size() != 1) {
            state.SkipWithError("the virtual probe was not found");
            return;
        }
        auto usb = std::dynamic_pointer_cast<morvane::devices::usbhardwaredev>(devices.front());
        auto obj = std::dynamic_pointer_cast<libusb_deviceobj>(usb->getUsbDevice());
        devices.clear();
        obj->open();
        obj->setConfiguration(1);
        std::vector<unsigned char> out(64, 0x5A), in;
        out[0] = 0x60;
        for (auto _ : state) {
            obj->sendBulkPacket(0x01, out, 1000);
            obj->receiveBulkPacket(0x81, in, 1000);
            benchmark::DoNotOptimize(in.data());
        }
        obj->close();
        obj.reset();
        usb.reset();
        dir.reset();
    }
}
BENCHMARK(BM_DeviceObjectRoundTrip)->Unit(benchmark::kMicrosecond);

void BM_RawLibusbRoundTrip(benchmark::State& state) {
    libusb_context* ctx = nullptr;
    if (libusb_init(&ctx) != 0) {
        state.SkipWithError("libusb_init failed");
        return;
    }
    libusb_device_handle* h = libusb_open_device_with_vid_pid(ctx, 0x04B4, 0xF153);
    if (!h || libusb_claim_interface(h, 0) != 0) {
        if (h) libusb_close(h);
        libusb_exit(ctx);
        state.SkipWithError("cannot open the virtual probe");
        return;
    }
    unsigned char out[64] = {0x60}, in[64];
    int done = 0;
    for (auto _ : state) {
        libusb_bulk_transfer(h, 0x01, out, sizeof out, &done, 1000);
        libusb_bulk_transfer(h, 0x81, in, sizeof in, &done, 1000);
        benchmark::DoNotOptimize(in);
    }
    libusb_release_interface(h, 0);
    libusb_close(h);
    libusb_exit(ctx);
}
BENCHMARK(BM_RawLibusbRoundTrip)->Unit(benchmark::kMicrosecond);

}  // namespace

// One testbed for the whole process (the preload allows no more), made before any libusb use.
int main(int argc, char** argv) {
    if (!pavix_bench::inMockEnvironment()) {
        std::fprintf(stderr, "run under umockdev-wrapper\n");
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    int rc = 0;
    {
        pavix_bench::testbed bed;
        bed.plug(pavix_bench::makeProbe(dapLink()));
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    return rc;
}
