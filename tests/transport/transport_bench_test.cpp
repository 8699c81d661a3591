// The transports at the operating-system boundary: hidapi on hidraw, and libusb on usbdevfs.
#include "libusb_test_device.h"
#include "transport_support.h"

#include "DeviceMgr/api/devmgr_exception.h"
#include "DeviceMgr/backends/hidapi_deviceobj.h"
#include "umockdev/bench_fixture.h"

#include <hidapi/hidapi.h>

#include <mutex>

using morvane::devicemgrapi::devmgr_exception;
using morvane::devices::transport_bulk;
using morvane::devices::transport_hid;
using morvane::logger::logmgr;
using namespace pavix_bench;

namespace {

class TransportOnBench : public bench_fixture {
protected:
    void TearDown() override {
        m_transport.reset();
        m_device.reset();
        if (m_hid_started) hid_exit();
        if (m_ctx) libusb_exit(m_ctx);
        bench_fixture::TearDown();
    }

    // The HID backend's own device object for the plugged probe's interface 0.
    transport_hid& hidTransport(uint16_t vid, uint16_t pid) {
        hid_init();
        m_hid_started = true;
        hid_device_info* list = hid_enumerate(vid, pid);
        EXPECT_NE(list, nullptr);
        if (!list) throw std::runtime_error("probe not listed");
        m_device = std::make_shared<morvane::devices::hidapi_deviceobj>(m_log, m_scan, list, "", "default");
        hid_free_enumeration(list);
        auto t = std::make_unique<transport_hid>(m_device, m_log);
        auto& ref = *t;
        m_transport = std::move(t);
        return ref;
    }
    transport_bulk& bulkTransport(uint16_t vid, uint16_t pid) {
        if (libusb_init(&m_ctx) != 0) throw std::runtime_error("libusb_init");
        auto dev = std::make_shared<transport_test::libusb_test_device>(m_ctx, vid, pid, 0);
        dev->open();
        dev->setConfiguration(1);
        m_device = dev;
        auto t = std::make_unique<transport_bulk>(m_device, m_log, 0x02, 0x82);
        auto& ref = *t;
        m_transport = std::move(t);
        return ref;
    }

    logmgr m_log;
    std::recursive_mutex m_scan;
    bool m_hid_started = false;
    libusb_context* m_ctx = nullptr;
    std::shared_ptr<morvane::devices::usbdevice> m_device;
    std::unique_ptr<morvane::devices::usb_transport> m_transport;
};

TEST_F(TransportOnBench, HidReportsCarryStaleWaitAndRealAnswers) {
    auto probe = plug(genericHidProbe(0x1209, 0x0001));
    auto& fw = probe->modelAs<generic_model>();
    auto& t = hidTransport(0x1209, 0x0001);
    t.open();
    ASSERT_TRUE(t.isOpen());

    fw.script({fault::stale(100), fault::waits(3)});
    std::vector<unsigned char> buf{0x88, 0x21, 0x22};
    t.transmitDataResponseCheck(buf, buf, true, false);
    ASSERT_EQ(buf.size(), 64u);  // one whole input report
    EXPECT_EQ(buf[0], 0x88);
    EXPECT_EQ(buf[1], 0x00);
    EXPECT_EQ(buf[2], 0x22);

    buf = {0x88, 0x31};
    t.transmitDataResponseCheck(buf, buf, true, false);
    EXPECT_EQ(buf[1], 0x00);

    fw.script(fault::stale(2));
    buf = {0x7F, 0x41, 0x42};
    t.transmitExecuteData(buf, buf, false);
    EXPECT_EQ(buf[0], 0x7F);
    EXPECT_EQ(buf[2], 0x42);

    const auto got = fw.received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0][0], 0x88);
    EXPECT_EQ(got[0][1], 0x21);
    EXPECT_EQ(got[2][0], 0x7F);
    t.close();
    EXPECT_FALSE(t.isOpen());
}

TEST_F(TransportOnBench, BulkEndpointsCarryStaleAnswersUntilTheAttemptLimit) {
    auto probe = plug(genericBulkProbe(0x1209, 0x0002));
    auto& fw = probe->modelAs<generic_model>();
    auto& t = bulkTransport(0x1209, 0x0002);

    fw.script(fault::stale(100));
    std::vector<unsigned char> buf{0x89, 0x01, 0x02, 0x03};
    t.transmitDataResponseCheck(buf, buf, false, false);
    EXPECT_EQ(buf[0], 0x89);
    EXPECT_EQ(buf[3], 0x03);

    fw.script(fault::stale(101));
    buf = {0x88, 0x01};
    try {
        t.transmitDataResponseCheck(buf, buf, true, false);
        FAIL() << "no error";
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_COMMAND_FAILED);
        EXPECT_STREQ(e.what(), "Timeout of Response read for '0x88' command. Num attempts = '101'");
    }

    // The answer of the failed exchange is still queued; the command buffer skips it in place.
    fw.script(fault::waits(1));
    buf = {0x7F, 0x0B};
    t.transmitExecuteData(buf, buf, false);
    EXPECT_EQ(buf[0], 0x7F);
    EXPECT_EQ(buf[1], 0x01);

    t.cancelTransfer();
    buf = {0x86, 0x00};
    t.transmitDataResponseCheck(buf, buf, false, true);
    EXPECT_EQ(buf[0], 0x86);
    fw.script(fault::waits(2));
    buf = {0x88, 0x00};
    EXPECT_THROW(t.transmitDataResponseCheck(buf, buf, true, false), devmgr_exception);
}

}  // namespace
