// One command round trip through the checked exchange against the in-process virtual probe,
// next to the same exchange done directly on the device object: the ratio is the transport's
// own cost (answer checks, clock readings, the entry and exit log lines).
#include "DeviceMgr/interfaces/transport_bulk.h"
#include "DeviceMgr/interfaces/transport_hid.h"
#include "inproc/inproc_device.h"
#include "model/generic_probes.h"

#include <benchmark/benchmark.h>

#include <memory>

using namespace pavix_bench;

namespace {

constexpr uint8_t kOut = 0x02;
constexpr uint8_t kIn = 0x82;

struct bulk_probe {
    morvane::logger::logmgr log;
    std::shared_ptr<inproc_usbdevice> dev;
    bulk_probe() : dev(std::make_shared<inproc_usbdevice>(makeProbe(genericBulkProbe()), 0)) {
        dev->open();
        dev->setConfiguration(1);
    }
};

struct hid_probe {
    morvane::logger::logmgr log;
    std::shared_ptr<inproc_usbdevice> dev;
    hid_probe() : dev(std::make_shared<inproc_usbdevice>(makeProbe(genericHidProbe()), 0)) { dev->open(); }
};

const std::vector<unsigned char> kCommand{0x87, 0x00, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60};

void BM_BulkDirect(benchmark::State& state) {
    bulk_probe p;
    std::vector<unsigned char> buf;
    for (auto _ : state) {
        buf = kCommand;
        p.dev->sendBulkPacket(kOut, buf, 2000);
        p.dev->receiveBulkPacket(kIn, buf, 2000);
        if (buf[0] != kCommand[0]) state.SkipWithError("wrong answer");
        benchmark::DoNotOptimize(buf.data());
    }
}
BENCHMARK(BM_BulkDirect);

void BM_BulkResponseCheck(benchmark::State& state) {
    bulk_probe p;
    morvane::devices::transport_bulk t(p.dev, p.log, kOut, kIn);
    std::vector<unsigned char> buf;
    for (auto _ : state) {
        buf = kCommand;
        t.transmitDataResponseCheck(buf, buf, false, true);
        benchmark::DoNotOptimize(buf.data());
    }
}
BENCHMARK(BM_BulkResponseCheck);

void BM_HidDirect(benchmark::State& state) {
    hid_probe p;
    auto ch = p.dev->getHIDDevice();
    std::vector<unsigned char> buf;
    for (auto _ : state) {
        buf = kCommand;
        ch->writeReport(buf, 10000);
        ch->readReport(buf, 10000);
        if (buf[0] != kCommand[0]) state.SkipWithError("wrong answer");
        benchmark::DoNotOptimize(buf.data());
    }
}
BENCHMARK(BM_HidDirect);

void BM_HidResponseCheck(benchmark::State& state) {
    hid_probe p;
    morvane::devices::transport_hid t(p.dev, p.log);
    std::vector<unsigned char> buf;
    for (auto _ : state) {
        buf = kCommand;
        t.transmitDataResponseCheck(buf, buf, false, true);
        benchmark::DoNotOptimize(buf.data());
    }
}
BENCHMARK(BM_HidResponseCheck);

}  // namespace

BENCHMARK_MAIN();
