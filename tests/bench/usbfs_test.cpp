// libusb (usbdevfs) against virtual probes: what the libusb backend will see.
#include "umockdev/bench_fixture.h"

#include <libusb.h>

#include <chrono>
#include <memory>
#include <thread>
#include <string>

using namespace pavix_bench;

namespace {

class UsbfsBench : public bench_fixture {
protected:
    libusb_context* ctx = nullptr;
    void SetUp() override {
        bench_fixture::SetUp();
        ASSERT_EQ(libusb_init(&ctx), 0);
    }
    void TearDown() override {
        for (auto* h : m_handles) libusb_close(h);
        m_refs.clear();
        if (ctx) libusb_exit(ctx);  // before the testbed goes
        bench_fixture::TearDown();
    }
    // The listed device with this VID and PID (null if none), its reference kept in `keep`.
    libusb_device* find(uint16_t vid, uint16_t pid) {
        libusb_device** list = nullptr;
        ssize_t n = libusb_get_device_list(ctx, &list);
        libusb_device* found = nullptr;
        for (ssize_t i = 0; i < n; ++i) {
            libusb_device_descriptor dd{};
            libusb_get_device_descriptor(list[i], &dd);
            if (dd.idVendor == vid && dd.idProduct == pid) found = libusb_ref_device(list[i]);
        }
        libusb_free_device_list(list, 1);
        if (found) m_refs.emplace_back(found, &libusb_unref_device);
        return found;
    }
    libusb_device_handle* open(uint16_t vid, uint16_t pid) {
        libusb_device* d = find(vid, pid);
        if (!d) return nullptr;
        libusb_device_handle* h = nullptr;
        if (libusb_open(d, &h) != 0) return nullptr;
        m_handles.push_back(h);
        return h;
    }
    void close(libusb_device_handle* h) {
        m_handles.erase(std::find(m_handles.begin(), m_handles.end(), h));
        libusb_close(h);
    }
    std::string str(libusb_device_handle* h, uint8_t index) {
        unsigned char buf[256] = {0};
        int n = libusb_get_string_descriptor_ascii(h, index, buf, sizeof buf);
        return n < 0 ? "<error " + std::to_string(n) + ">" : std::string(reinterpret_cast<char*>(buf), size_t(n));
    }

    std::vector<libusb_device_handle*> m_handles;
    std::vector<std::unique_ptr<libusb_device, void (*)(libusb_device*)>> m_refs;
};

}  // namespace

TEST_F(UsbfsBench, ListingDescriptorsStringsAndPortPathsThroughHubs) {
    probe_desc d = genericBulkProbe(0x1209, 0xB001, "BK-1");
    d.bus = 2;
    d.ports = {4, 2};
    d.interfaces.push_back(bulkInterface(1, "Second Bridge", 0x83, 0x03, 512));
    auto p = plug(d);

    libusb_device* dev = find(0x1209, 0xB001);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(libusb_get_bus_number(dev), 2);
    EXPECT_EQ(libusb_get_device_address(dev), bench().devnum(*p));
    uint8_t ports[8];
    ASSERT_EQ(libusb_get_port_numbers(dev, ports, 8), 2);
    EXPECT_EQ(ports[0], 4);
    EXPECT_EQ(ports[1], 2);
    EXPECT_EQ(libusb_get_port_number(dev), 2);
    EXPECT_EQ(libusb_get_device_speed(dev), LIBUSB_SPEED_HIGH);
    ASSERT_NE(libusb_get_parent(dev), nullptr);

    libusb_config_descriptor* cfg = nullptr;
    ASSERT_EQ(libusb_get_config_descriptor(dev, 0, &cfg), 0);
    ASSERT_EQ(cfg->bNumInterfaces, 2);
    const auto& alt = cfg->interface[1].altsetting[0];
    EXPECT_EQ(alt.bInterfaceNumber, 1);
    EXPECT_EQ(alt.bInterfaceClass, 0xFF);
    ASSERT_EQ(alt.bNumEndpoints, 2);
    EXPECT_EQ(alt.endpoint[1].bEndpointAddress, 0x83);
    EXPECT_EQ(alt.endpoint[1].wMaxPacketSize, 512);
    const uint8_t iface_string = alt.iInterface;
    libusb_free_config_descriptor(cfg);

    libusb_device_handle* h = nullptr;
    ASSERT_EQ(libusb_open(dev, &h), 0);
    m_handles.push_back(h);
    libusb_device_descriptor dd{};
    libusb_get_device_descriptor(dev, &dd);
    EXPECT_EQ(str(h, dd.iManufacturer), "Virtual Probe Works");
    EXPECT_EQ(str(h, dd.iProduct), "Generic Bulk Probe");
    EXPECT_EQ(str(h, dd.iSerialNumber), "BK-1");
    EXPECT_EQ(str(h, iface_string), "Second Bridge");
    EXPECT_EQ(libusb_kernel_driver_active(h, 0), 0);
}

TEST_F(UsbfsBench, ClaimBulkOutAndInRoundTrip) {
    auto p = plug(genericBulkProbe());
    libusb_device_handle* h = open(0x1209, 0x0002);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(libusb_claim_interface(h, 0), 0);
    unsigned char cmd[64] = {0x84, 0x77, 5, 6};
    int done = 0;
    ASSERT_EQ(libusb_bulk_transfer(h, 0x02, cmd, 4, &done, 1000), 0);
    EXPECT_EQ(done, 4);
    unsigned char in[64] = {0};
    ASSERT_EQ(libusb_bulk_transfer(h, 0x82, in, 64, &done, 1000), 0);
    EXPECT_EQ(done, 4);
    EXPECT_EQ(in[0], 0x84);
    EXPECT_EQ(in[1], 0x00);
    EXPECT_EQ(in[3], 6);
    EXPECT_EQ(p->modelAs<generic_model>().received().at(0), (bytes{0x84, 0x77, 5, 6}));
    EXPECT_EQ(libusb_release_interface(h, 0), 0);
    EXPECT_EQ(libusb_claim_interface(h, 7), LIBUSB_ERROR_NOT_FOUND);
}

TEST_F(UsbfsBench, TimeoutThenLateAnswerThenStallAndClearHalt) {
    auto p = plug(genericBulkProbe());
    auto& fw = p->modelAs<generic_model>();
    fw.script({fault::noAnswer(), fault::stall()});
    libusb_device_handle* h = open(0x1209, 0x0002);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(libusb_claim_interface(h, 0), 0);
    unsigned char cmd[4] = {0x86, 0, 0, 0}, in[64];
    int done = 0;
    ASSERT_EQ(libusb_bulk_transfer(h, 0x02, cmd, 4, &done, 1000), 0);
    EXPECT_EQ(libusb_bulk_transfer(h, 0x82, in, 64, &done, 50), LIBUSB_ERROR_TIMEOUT);
    ASSERT_EQ(libusb_bulk_transfer(h, 0x02, cmd, 4, &done, 1000), 0);
    EXPECT_EQ(libusb_bulk_transfer(h, 0x82, in, 64, &done, 1000), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(libusb_bulk_transfer(h, 0x82, in, 64, &done, 100), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(libusb_clear_halt(h, 0x82), 0);
    cmd[0] = 0x87;
    ASSERT_EQ(libusb_bulk_transfer(h, 0x02, cmd, 4, &done, 1000), 0);
    ASSERT_EQ(libusb_bulk_transfer(h, 0x82, in, 64, &done, 1000), 0);
    EXPECT_EQ(in[0], 0x87);
}

TEST_F(UsbfsBench, ControlInOutAndStall) {
    auto p = plug(genericBulkProbe());
    auto& fw = p->modelAs<generic_model>();
    fw.controlIn(0x30, {9, 8, 7});
    libusb_device_handle* h = open(0x1209, 0x0002);
    ASSERT_NE(h, nullptr);
    unsigned char buf[64] = {0};
    EXPECT_EQ(libusb_control_transfer(h, 0xC0, 0x30, 0, 0, buf, 64, 1000), 3);
    EXPECT_EQ(buf[0], 9);
    EXPECT_EQ(buf[2], 7);
    unsigned char out[2] = {0x11, 0x22};
    EXPECT_EQ(libusb_control_transfer(h, 0x40, 0x31, 1, 0, out, 2, 1000), 2);
    EXPECT_EQ(fw.received().back(), (bytes{0x11, 0x22}));
    fw.script(fault::stall());
    EXPECT_EQ(libusb_control_transfer(h, 0xC0, 0x30, 0, 0, buf, 64, 1000), LIBUSB_ERROR_PIPE);
    fw.script(fault::noAnswer());
    EXPECT_EQ(libusb_control_transfer(h, 0xC0, 0x30, 0, 0, buf, 64, 50), LIBUSB_ERROR_TIMEOUT);
    // The device descriptor over the wire matches the one in sysfs.
    unsigned char dd[18];
    EXPECT_EQ(libusb_control_transfer(h, 0x80, 6, 0x0100, 0, dd, 18, 1000), 18);
    EXPECT_EQ(bytes(dd, dd + 18), deviceDescriptor(p->desc()));
}

TEST_F(UsbfsBench, UnplugDuringTransferGivesNoDevice) {
    auto p = plug(genericBulkProbe());
    p->modelAs<generic_model>().script(fault::disconnect());
    libusb_device_handle* h = open(0x1209, 0x0002);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(libusb_claim_interface(h, 0), 0);
    unsigned char cmd[4] = {0x88}, in[64];
    int done = 0;
    ASSERT_EQ(libusb_bulk_transfer(h, 0x02, cmd, 4, &done, 1000), 0);
    EXPECT_EQ(libusb_bulk_transfer(h, 0x82, in, 64, &done, 3000), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_bulk_transfer(h, 0x02, cmd, 4, &done, 1000), LIBUSB_ERROR_NO_DEVICE);
    close(h);
    // libusb learns of the removal from its udev monitor thread, as on a real host.
    bool gone = false;
    for (int i = 0; i < 300 && !gone; ++i) {
        gone = find(0x1209, 0x0002) == nullptr;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
}
