// cancelTransfer() from another thread while an exchange runs on the device's thread.
#include "transport_support.h"

#include "DeviceMgr/api/devmgr_exception.h"
#include "inproc/inproc_device.h"
#include "model/generic_model.h"
#include "model/generic_probes.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <thread>

using morvane::devicemgrapi::devmgr_exception;
using morvane::devices::transport_bulk;
using morvane::devices::transport_hid;
using morvane::devices::usb_transport;
using morvane::logger::logmgr;
using morvane::logger::logmsg;
using namespace pavix_bench;

namespace {

// Signals once the exchange has logged its second wait answer: it is then inside its read loop.
class second_wait_sink : public morvane::logger::logsink {
public:
    void putString(const logmsg&, const std::string& line) override {
        if (line.find("WAIT Read retry N = 2 ") == std::string::npos) return;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_seen = true;
        m_cv.notify_all();
    }
    void waitForIt() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return m_seen; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_seen = false;
};


class CancelFromAnotherThread : public ::testing::TestWithParam<bool> {};

TEST_P(CancelFromAnotherThread, StopsALongExchangeAndIsConsumed) {
    const bool hid = GetParam();
    logmgr log;
    auto sink = std::make_shared<second_wait_sink>();
    log.setSink(logmsg::msgtype::Debug, sink);
    log.setLevel(logmsg::msgtype::Debug, 1);

    auto probe = makeProbe(hid ? genericHidProbe() : genericBulkProbe());
    auto dev = std::make_shared<inproc_usbdevice>(probe, 0);
    std::unique_ptr<usb_transport> t;
    if (hid) {
        t = std::make_unique<transport_hid>(dev, log);
    } else {
        dev->setConfiguration(1);
        t = std::make_unique<transport_bulk>(dev, log, 0x02, 0x82);
    }
    t->open();
    // Wait answers for about a minute: the exchange only ends early if the cancel stops it.
    auto& fw = probe->modelAs<generic_model>();
    fw.script(fault::waitsEvery(30000, 2));

    auto exchange = std::async(std::launch::async, [&] {
        std::vector<unsigned char> buf{0x88, 0x01};
        t->transmitDataResponseCheck(buf, buf, true, false);
    });
    sink->waitForIt();
    std::thread canceller([&] { t->cancelTransfer(); });
    canceller.join();
    try {
        exchange.get();
        FAIL() << "the exchange was not cancelled";
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_CANCELLED);
        EXPECT_STREQ(e.what(), "USB data transfer was canceled");
    }

    // The probe forgets the rest of the burst; the cancel was used up by the one exchange.
    probe->discard(hid ? channel::hid(0) : channel::bulk(0x82));
    std::vector<unsigned char> buf{0x88, 0x02};
    t->transmitDataResponseCheck(buf, buf, true, false);
    EXPECT_EQ(buf[0], 0x88);
    EXPECT_EQ(buf[1], 0x00);
}

INSTANTIATE_TEST_SUITE_P(Transports, CancelFromAnotherThread, ::testing::Values(true, false),
                         [](const auto& info) { return std::string(info.param ? "Hid" : "Bulk"); });

// Cancels raced against a stream of short exchanges: each raise cancels at most one exchange,
// and none is lost while nobody observes it.
TEST(CancelRace, EveryRaiseIsObservedAtMostOnce) {
    logmgr log;
    auto probe = makeProbe(genericHidProbe());
    auto dev = std::make_shared<inproc_usbdevice>(probe, 0);
    transport_hid t(dev, log);
    t.open();

    std::atomic<bool> done{false};
    std::atomic<int> raised{0};
    std::thread canceller([&] {
        while (!done.load()) {
            t.cancelTransfer();
            raised.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    int cancelled = 0;
    for (int i = 0; i < 300; ++i) {
        std::vector<unsigned char> buf{0x89, uint8_t(i)};
        try {
            t.transmitDataResponseCheck(buf, buf, false, false);
            EXPECT_EQ(buf[0], 0x89);
        } catch (const devmgr_exception& e) {
            ASSERT_EQ(e.getErrorCode(), devmgr_exception::ERR_CANCELLED);
            ++cancelled;
        }
    }
    done.store(true);
    canceller.join();
    EXPECT_LE(cancelled, raised.load());
    // A raise after the last exchange stays pending for the next one.
    t.cancelTransfer();
    std::vector<unsigned char> buf{0x89, 0};
    EXPECT_THROW(t.transmitDataResponseCheck(buf, buf, false, false), devmgr_exception);
}

}  // namespace
