#pragma once

#include "DeviceMgr/hardware_detector.h"
#include "Logger/logmgr.h"

#include <libusb.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace morvane::devices {

// Hot-plug detection through libusb: a background thread pumps libusb events on the
// detector's own context and raises the hardware-changed signal once per counted arrival or
// removal (at most one rescan per pass of its loop).
//
// Ownership and threads: create it with std::make_shared. The background thread holds the
// detector only while it emits the signal, so a slot that ends up destroying the detector
// (a client callback that deletes the library object) does not free it mid-emission; the
// destructor then runs on the background thread, which is detached instead of joining
// itself. Everything the loop needs after that lives in a state block it shares.
class libusb_detector : public hardware_detector, public std::enable_shared_from_this<libusb_detector> {
public:
    explicit libusb_detector(logger::logmgr& log);
    ~libusb_detector() override;

    void startHardwareDetection() override;
    void stopHardwareDetection() override;

    // Number of rescans the background thread has run; for tests and diagnostics.
    unsigned long rescans() const;

private:
    struct state {
        libusb_context* context = nullptr;
        int pending = 0;  // touched only by the background thread (callback runs inside it)
        std::atomic<bool> running{false};
        std::atomic<unsigned long> rescans{0};
        std::mutex mutex;
        std::condition_variable wake;
        ~state();
    };

    static void backgroundThread(std::shared_ptr<state> st, std::weak_ptr<libusb_detector> self);
    void rescan();

    std::shared_ptr<state> m_state;
    libusb_hotplug_callback_handle m_callback_handle = 0;
    bool m_callback_registered = false;
    std::thread m_background_thread;
    logger::logmgr& m_log;
    logger::logmsg m_msg{"devmgr", logger::logmsg::msgtype::Debug, 1};
};

}  // namespace morvane::devices
