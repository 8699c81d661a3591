// Bulk transfers of the libusb device object against virtual probes: the result-code table
// as far as the bench can produce each code (the rest is checked on the mapping alone in
// libusb_tables_test), and unplugging or closing while a transfer is in flight.
#include "libusb_env.h"

#include <atomic>
#include <thread>

using namespace libusb_env;
using pavix_bench::bytes;
using pavix_bench::fault;
using pavix_bench::generic_model;

namespace {

enum class provoke { nothing, no_answer, stall, disconnect_after_request, unplug_before, oversized_answer };

struct BulkRow {
    const char* name;
    bool send;  // the failing (or succeeding) call is sendBulkPacket; else receiveBulkPacket
    provoke how;
    int code;  // 0: success
    const char* text;
};

class LibusbBulkResults : public libusb_fixture, public ::testing::WithParamInterface<BulkRow> {};

TEST_P(LibusbBulkResults, CodeAndText) {
    const BulkRow& r = GetParam();
    auto probe = plugFamily("DAPLink");
    auto& fw = probe->modelAs<generic_model>();
    fw.on(0x61, [](const bytes& req) {
        bytes answer(100, 0xEE);  // more than one 64-byte packet
        answer[0] = req.at(0);
        return answer;
    });
    dir().initialize();
    auto obj = openedObject();
    ASSERT_NE(obj, nullptr);

    switch (r.how) {
    case provoke::no_answer: fw.script(fault::noAnswer()); break;
    case provoke::stall: fw.script(fault::stall()); break;
    case provoke::disconnect_after_request: fw.script(fault::disconnect()); break;
    case provoke::unplug_before: bench().unplug(*probe); break;
    default: break;
    }
    const std::vector<unsigned char> cmd{static_cast<unsigned char>(r.how == provoke::oversized_answer ? 0x61 : 0x60),
                                         0, 1, 2};
    std::vector<unsigned char> in;
    auto call = [&] {
        if (r.send) {
            obj->sendBulkPacket(0x01, cmd, 500);
        } else {
            obj->sendBulkPacket(0x01, cmd, 500);
            obj->receiveBulkPacket(0x81, in, r.how == provoke::no_answer ? 100 : 2000);
        }
    };
    if (r.code == 0) {
        ASSERT_NO_THROW(call());
        if (!r.send) {
            EXPECT_EQ(in.size(), 64u);  // the endpoint's packet size, whatever came
            EXPECT_EQ(in.at(0), 0x60);
            EXPECT_EQ(in.at(3), 2);
        }
        return;
    }
    const auto e = thrownBy(call);
    EXPECT_EQ(e.getErrorCode(), r.code);
    EXPECT_STREQ(e.what(), r.text);
}

using E = devmgr_exception;
INSTANTIATE_TEST_SUITE_P(
    Table, LibusbBulkResults,
    ::testing::Values(
        BulkRow{"SendSuccess", true, provoke::nothing, 0, nullptr},
        BulkRow{"SendNoDevice", true, provoke::unplug_before, E::ERR_NO_DEVICE, "Device is no longer connected"},
        BulkRow{"ReceiveSuccess", false, provoke::nothing, 0, nullptr},
        BulkRow{"ReceiveTimeout", false, provoke::no_answer, E::ERR_TIMEOUT, "Timeout in receiveBuildPacket()"},
        BulkRow{"ReceivePipe", false, provoke::stall, E::ERR_PIPE, "Endpoint has halted"},
        BulkRow{"ReceiveNoDevice", false, provoke::disconnect_after_request, E::ERR_NO_DEVICE,
                "Device is no longer connected"},
        BulkRow{"ReceiveOverflow", false, provoke::oversized_answer, E::ERR_OVERFLOW, "Endpoint data overflowed"}),
    [](const ::testing::TestParamInfo<BulkRow>& info) { return std::string(info.param.name); });

class LibusbInFlight : public libusb_fixture {};

TEST_F(LibusbInFlight, UnplugDuringABulkReadFailsTheReadAndTheRemovalClosesTheObject) {
    auto probe = plugFamily("DAPLink");
    auto& d = dir();
    // As the Bridge API does: a departing device is closed from the disconnected slot.
    m_dir->getHardwareDisconnectedSignal().connect([](device_ptr dev) {
        if (auto obj = objectOf(dev)) obj->close();
    });
    d.initialize();
    auto obj = openedObject();
    ASSERT_NE(obj, nullptr);
    obj->sendBulkPacket(0x01, {0x70, 0, 0}, 500);
    std::vector<unsigned char> in;
    obj->receiveBulkPacket(0x81, in, 1000);  // the answer: nothing is pending now

    std::thread hotplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        bench().unplug(*probe);
        d.hardwareChange();
    });
    const auto e = thrownBy([&] { obj->receiveBulkPacket(0x81, in, 3000); });
    hotplug.join();
    EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_NO_DEVICE);
    EXPECT_STREQ(e.what(), "Device is no longer connected");
    ASSERT_EQ(disconnected.size(), 1u);
    EXPECT_FALSE(obj->isOpen());
    EXPECT_EQ(thrownBy([&] { obj->sendBulkPacket(0x01, {1}, 100); }).getErrorCode(), devmgr_exception::ERR_NOT_OPEN);
}

TEST_F(LibusbInFlight, CloseFromAnotherThreadWaitsForTheTransferInFlight) {
    plugFamily("DAPLink");
    dir().initialize();
    auto obj = openedObject();
    ASSERT_NE(obj, nullptr);
    std::atomic<bool> readDone{false};
    std::atomic<bool> closedAfterRead{false};
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        obj->close();
        closedAfterRead = readDone.load();
    });
    std::vector<unsigned char> in;
    // Nothing was asked, so nothing comes: the read runs until its time-out.
    const auto e = thrownBy([&] { obj->receiveBulkPacket(0x81, in, 600); });
    readDone = true;
    closer.join();
    if (e.getErrorCode() == devmgr_exception::ERR_NOT_OPEN) {
        // The closer came first (a very slow start of the read): also sound.
        SUCCEED();
    } else {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_TIMEOUT);
        EXPECT_TRUE(closedAfterRead.load());
    }
    EXPECT_FALSE(obj->isOpen());
    EXPECT_EQ(thrownBy([&] { obj->receiveBulkPacket(0x81, in, 100); }).getErrorCode(),
              devmgr_exception::ERR_NOT_OPEN);
}

}  // namespace
