// hidapi (hidraw) against virtual probes: what the HID backend will see.
#include "umockdev/bench_fixture.h"

#include <hidapi/hidapi.h>

#include <memory>
#include <string>

using namespace pavix_bench;

namespace {

std::string narrow(const wchar_t* w) {
    std::string s;
    for (; w && *w; ++w) s += char(*w);
    return s;
}

struct hid_handle {
    hid_device* h = nullptr;
    explicit hid_handle(const std::string& path) : h(hid_open_path(path.c_str())) {}
    ~hid_handle() {
        if (h) hid_close(h);
    }
};

class HidrawBench : public bench_fixture {
protected:
    void SetUp() override {
        bench_fixture::SetUp();
        ASSERT_EQ(hid_init(), 0);
    }
    void TearDown() override {
        hid_exit();
        bench_fixture::TearDown();
    }
    // write(cmd) as the HID backend does: report ID 0 then 64 data bytes.
    static int write64(hid_device* h, const bytes& data) {
        unsigned char buf[65] = {0};
        std::copy(data.begin(), data.end(), buf + 1);
        return hid_write(h, buf, sizeof buf);
    }
};

}  // namespace

TEST_F(HidrawBench, EnumerationShowsEveryField) {
    probe_desc d = genericHidProbe(0x1209, 0xC0DE, "HX-77");
    d.interfaces.push_back(hidInterface(2, "Second", 0x83, 0x03));
    d.interfaces.back().hid_report_descriptor = vendorReportDescriptor(0xFF42, 0x07);
    auto p = plug(d);
    probe_desc other = genericHidProbe(0x1209, 0x0001, "OTHER");
    other.ports = {2};
    plug(other);

    hid_device_info* list = hid_enumerate(0x1209, 0xC0DE);
    ASSERT_NE(list, nullptr);
    int seen = 0;
    for (auto* i = list; i; i = i->next) {
        ++seen;
        EXPECT_EQ(i->vendor_id, 0x1209);
        EXPECT_EQ(i->product_id, 0xC0DE);
        EXPECT_EQ(narrow(i->serial_number), "HX-77");
        EXPECT_EQ(narrow(i->manufacturer_string), "Virtual Probe Works");
        EXPECT_EQ(narrow(i->product_string), "Generic HID Probe");
        EXPECT_EQ(i->release_number, 0x0100);
        EXPECT_EQ(i->bus_type, HID_API_BUS_USB);
        ASSERT_TRUE(i->interface_number == 0 || i->interface_number == 2) << i->interface_number;
        EXPECT_EQ(std::string(i->path), bench().hidrawPath(*p, uint8_t(i->interface_number)));
        EXPECT_EQ(i->usage_page, i->interface_number == 0 ? 0xFF00 : 0xFF42);
        EXPECT_EQ(i->usage, i->interface_number == 0 ? 1 : 7);
    }
    hid_free_enumeration(list);
    EXPECT_EQ(seen, 2);
}

TEST_F(HidrawBench, WriteWithReportIdZeroThenReadOneReport) {
    auto p = plug(genericHidProbe());
    auto& fw = p->modelAs<generic_model>();
    hid_handle h(bench().hidrawPath(*p, 0));
    ASSERT_NE(h.h, nullptr);
    EXPECT_EQ(write64(h.h, {0x84, 0x55, 1, 2, 3}), 65);
    unsigned char r[64] = {0};
    ASSERT_EQ(hid_read_timeout(h.h, r, 64, 2000), 64);
    EXPECT_EQ(r[0], 0x84);
    EXPECT_EQ(r[1], 0x00);
    EXPECT_EQ(r[4], 3);
    ASSERT_EQ(fw.receivedCount(), 1u);
    const bytes got = fw.received()[0];
    ASSERT_EQ(got.size(), 64u);  // the report ID is stripped, as the kernel does
    EXPECT_EQ(got[0], 0x84);
    // Exactly one report per read: nothing more is queued.
    EXPECT_EQ(hid_read_timeout(h.h, r, 64, 30), 0);
}

TEST_F(HidrawBench, ReadTimesOutAndDelayedAnswerStillArrives) {
    auto p = plug(genericHidProbe());
    auto& fw = p->modelAs<generic_model>();
    fw.script({fault::noAnswer(), fault::delayMs(100)});
    hid_handle h(bench().hidrawPath(*p, 0));
    ASSERT_NE(h.h, nullptr);
    unsigned char r[64];
    ASSERT_EQ(write64(h.h, {0x86}), 65);
    EXPECT_EQ(hid_read_timeout(h.h, r, 64, 50), 0);
    ASSERT_EQ(write64(h.h, {0x87}), 65);
    EXPECT_EQ(hid_read_timeout(h.h, r, 64, 10), 0);
    ASSERT_EQ(hid_read_timeout(h.h, r, 64, 3000), 64);
    EXPECT_EQ(r[0], 0x87);
}

TEST_F(HidrawBench, WaitAnswersAndWrongCodeComeInOrder) {
    auto p = plug(genericHidProbe());
    p->modelAs<generic_model>().script({fault::waits(2)});
    hid_handle h(bench().hidrawPath(*p, 0));
    ASSERT_NE(h.h, nullptr);
    ASSERT_EQ(write64(h.h, {0x88}), 65);
    unsigned char r[64];
    for (uint8_t status : {1, 1, 0}) {
        ASSERT_EQ(hid_read_timeout(h.h, r, 64, 2000), 64);
        EXPECT_EQ(r[0], 0x88);
        EXPECT_EQ(r[1], status);
    }
    p->modelAs<generic_model>().script(fault::wrongCode());
    ASSERT_EQ(write64(h.h, {0x88}), 65);
    ASSERT_EQ(hid_read_timeout(h.h, r, 64, 2000), 64);
    EXPECT_EQ(r[0], 0x88 ^ 0xFF);
}

TEST_F(HidrawBench, UnplugMidExchangeFailsReadAndWrite) {
    auto p = plug(genericHidProbe());
    p->modelAs<generic_model>().script(fault::disconnect());
    const std::string path = bench().hidrawPath(*p, 0);
    hid_handle h(path);
    ASSERT_NE(h.h, nullptr);
    ASSERT_EQ(write64(h.h, {0x88}), 65);
    unsigned char r[64];
    EXPECT_EQ(hid_read_timeout(h.h, r, 64, 3000), -1);
    EXPECT_EQ(write64(h.h, {0x88}), -1);
    EXPECT_FALSE(bench().plugged(*p));
    hid_device_info* list = hid_enumerate(0, 0);
    EXPECT_EQ(list, nullptr);
    hid_free_enumeration(list);
}
