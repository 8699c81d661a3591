// Round-trip time of one command and its answer through each attachment of the bench.
// Run it plainly: it puts itself under the umockdev preload.
#include "inproc/inproc_device.h"
#include "model/generic_probes.h"
#include "umockdev/mock_env.h"
#include "umockdev/testbed.h"

#include <benchmark/benchmark.h>
#include <hidapi/hidapi.h>
#include <libusb.h>

#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace pavix_bench;

namespace {

testbed* g_bench = nullptr;
std::shared_ptr<virtual_probe> g_hid, g_bulk, g_serial;

void BM_InprocHid(benchmark::State& state) {
    inproc_usbdevice dev(makeProbe(genericHidProbe()), 0);
    auto hid = dev.getHIDDevice();
    hid->open();
    std::vector<unsigned char> cmd{0x84, 0, 1, 2}, resp;
    for (auto _ : state) {
        hid->writeReport(cmd, 1000);
        hid->readReport(resp, 1000);
        if (resp[0] != 0x84) state.SkipWithError("bad answer");
    }
}
BENCHMARK(BM_InprocHid);

void BM_InprocBulk(benchmark::State& state) {
    inproc_usbdevice dev(makeProbe(genericBulkProbe()), 0);
    dev.open();
    dev.setConfiguration(1);
    std::vector<unsigned char> cmd{0x84, 0, 1, 2}, resp;
    for (auto _ : state) {
        dev.sendBulkPacket(0x02, cmd, 1000);
        dev.receiveBulkPacket(0x82, resp, 1000);
        if (resp[0] != 0x84) state.SkipWithError("bad answer");
    }
}
BENCHMARK(BM_InprocBulk);

void BM_HidrawWriteRead(benchmark::State& state) {
    hid_device* h = hid_open_path(g_bench->hidrawPath(*g_hid, 0).c_str());
    if (!h) return state.SkipWithError("hid_open_path failed");
    unsigned char out[65] = {0, 0x84, 0, 1, 2}, in[64];
    for (auto _ : state) {
        if (hid_write(h, out, 65) != 65 || hid_read_timeout(h, in, 64, 1000) != 64 || in[0] != 0x84) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
    hid_close(h);
}
BENCHMARK(BM_HidrawWriteRead)->UseRealTime();

// The generic bulk probe opened with its interface claimed; closed with the context.
struct bulk_probe {
    libusb_context* ctx = nullptr;
    libusb_device_handle* h = nullptr;
    bulk_probe() {
        if (libusb_init(&ctx) != 0) return;
        h = libusb_open_device_with_vid_pid(ctx, 0x1209, 0x0002);
        if (h && libusb_claim_interface(h, 0) != 0) {
            libusb_close(h);
            h = nullptr;
        }
    }
    ~bulk_probe() {
        if (h) libusb_close(h);
        if (ctx) libusb_exit(ctx);
    }
    bulk_probe(const bulk_probe&) = delete;
    bulk_probe& operator=(const bulk_probe&) = delete;
};

void BM_UsbfsBulkOutIn(benchmark::State& state) {
    bulk_probe probe;
    libusb_device_handle* h = probe.h;
    if (!h) return state.SkipWithError("cannot open the bulk probe");
    unsigned char cmd[4] = {0x84, 0, 1, 2}, in[64];
    int done = 0;
    for (auto _ : state) {
        if (libusb_bulk_transfer(h, 0x02, cmd, 4, &done, 1000) != 0 ||
            libusb_bulk_transfer(h, 0x82, in, 64, &done, 1000) != 0 || in[0] != 0x84) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
}
BENCHMARK(BM_UsbfsBulkOutIn)->UseRealTime();

void BM_UsbfsControlIn(benchmark::State& state) {
    bulk_probe probe;
    libusb_device_handle* h = probe.h;
    if (!h) return state.SkipWithError("cannot open the bulk probe");
    unsigned char buf[18];
    for (auto _ : state) {
        if (libusb_control_transfer(h, 0x80, 6, 0x0100, 0, buf, 18, 1000) != 18) {
            state.SkipWithError("control transfer failed");
            break;
        }
    }
}
BENCHMARK(BM_UsbfsControlIn)->UseRealTime();

void BM_TtyEcho(benchmark::State& state) {
    int fd = open(g_bench->ttyPath(*g_serial).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return state.SkipWithError("cannot open the tty");
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    char out[16] = "0123456789abcde", in[16];
    for (auto _ : state) {
        if (write(fd, out, 16) != 16) {
            state.SkipWithError("write failed");
            break;
        }
        size_t got = 0;
        while (got < 16) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1000) != 1) break;
            ssize_t n = read(fd, in + got, 16 - got);
            if (n <= 0) break;
            got += size_t(n);
        }
        if (got != 16) {
            state.SkipWithError("echo incomplete");
            break;
        }
    }
    close(fd);
}
BENCHMARK(BM_TtyEcho)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (!inMockEnvironment()) {
        prepareChildEnvironment();
        std::vector<char*> args{const_cast<char*>("umockdev-wrapper")};
        for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("umockdev-wrapper", args.data());
        perror("umockdev-wrapper");
        return 3;
    }
    int rc = 0;
    {
        testbed bench;
        g_bench = &bench;
        g_hid = makeProbe(genericHidProbe());
        probe_desc b = genericBulkProbe();
        b.ports = {2};
        g_bulk = makeProbe(b);
        probe_desc s = genericSerialProbe();
        s.ports = {3};
        g_serial = makeProbe(s);
        bench.plug(g_hid);
        bench.plug(g_bulk);
        bench.plug(g_serial);
        hid_init();
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        hid_exit();
    }
    g_hid.reset();
    g_bulk.reset();
    g_serial.reset();
    return rc;
}
