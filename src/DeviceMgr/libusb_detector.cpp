#include "DeviceMgr/libusb_detector.h"

#include "DeviceMgr/api/devmgr_exception.h"

#include <chrono>

namespace morvane::devices {

using devicemgrapi::devmgr_exception;
using logger::logmgr;
using logger::logmsg;

namespace {

int LIBUSB_CALL usbcb(libusb_context*, libusb_device*, libusb_hotplug_event, void* userData) {
    ++*static_cast<int*>(userData);
    return 0;  // stay registered
}

}  // namespace

libusb_detector::state::~state() {
    if (context) libusb_exit(context);
}

libusb_detector::libusb_detector(logmgr& log) : m_state(std::make_shared<state>()), m_log(log) {
    m_log << m_msg << "libusb_detector::libusb_detector" << logmgr::end;
    if (libusb_init(&m_state->context) < 0) {
        m_state->context = nullptr;
        throw devmgr_exception(devmgr_exception::ERR_LIBRARY_INIT, "Error initializing libusb library");
    }
#if LIBUSB_API_VERSION >= 0x01000106
    libusb_set_option(m_state->context, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_NONE);
#else
    libusb_set_debug(m_state->context, 0);
#endif
}

libusb_detector::~libusb_detector() {
    m_log << m_msg << "~libusb_detector() Enter" << logmgr::end;
    stopHardwareDetection();
    m_log << m_msg << "~libusb_detector() Exit" << logmgr::end;
    // The context goes with the last holder of the state: this object, or a detached thread.
}

void libusb_detector::startHardwareDetection() {
    if (m_background_thread.joinable()) return;  // already running
    int rc = libusb_hotplug_register_callback(
        m_state->context,
        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        LIBUSB_HOTPLUG_ENUMERATE, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
        usbcb, &m_state->pending, &m_callback_handle);
    m_callback_registered = (rc == LIBUSB_SUCCESS);
    m_state->running = true;
    m_background_thread = std::thread(&libusb_detector::backgroundThread, m_state, weak_from_this());
    m_log << m_msg << "m_background_thread started" << logmgr::end;
}

void libusb_detector::stopHardwareDetection() {
    if (m_state->running.exchange(false)) {
        // Wake the loop at once instead of letting it finish its event wait and its pause.
        libusb_interrupt_event_handler(m_state->context);
        {
            std::lock_guard<std::mutex> lock(m_state->mutex);
        }
        m_state->wake.notify_all();
    }
    if (m_background_thread.joinable()) {
        if (m_background_thread.get_id() == std::this_thread::get_id()) {
            // Called from inside a rescan: joining would wait for ourselves.
            m_background_thread.detach();
        } else {
            m_log << m_msg << "m_background_thread.join() before" << logmgr::end;
            m_background_thread.join();
            m_log << m_msg << "m_background_thread.join() after" << logmgr::end;
        }
    }
    if (m_callback_registered) {
        libusb_hotplug_deregister_callback(m_state->context, m_callback_handle);
        m_callback_registered = false;
    }
}

unsigned long libusb_detector::rescans() const { return m_state->rescans.load(); }

void libusb_detector::rescan() {
    m_log << m_msg << "rescan from detect thread started" << logmgr::end;
    try {
        m_hardware_changed();
    } catch (const std::exception& e) {
        // A failing rescan must not take the process down; the next event rescans again.
        m_log << logmsg("devmgr", logmsg::msgtype::Error, 0) << "Error =  " << e.what() << logmgr::end;
    } catch (...) {
        m_log << logmsg("devmgr", logmsg::msgtype::Error, 0) << "Error =  unknown exception in rescan"
              << logmgr::end;
    }
    if (m_state->running) m_log << m_msg << "rescan from detect thread completed" << logmgr::end;
}

void libusb_detector::backgroundThread(std::shared_ptr<state> st, std::weak_ptr<libusb_detector> weak) {
    if (auto self = weak.lock()) self->m_log << self->m_msg << "backgroundThread enter" << logmgr::end;
    while (st->running) {
        timeval tv{1, 0};
        libusb_handle_events_timeout_completed(st->context, &tv, nullptr);
        if (st->pending > 0) {
            if (!st->running) break;
            if (auto self = weak.lock()) self->rescan();
            // `self` is gone here; if it was the last holder the detector no longer exists.
            st->rescans.fetch_add(1);
            --st->pending;
        }
        std::unique_lock<std::mutex> lock(st->mutex);
        st->wake.wait_for(lock, std::chrono::milliseconds(100), [&] { return !st->running; });
    }
    if (auto self = weak.lock()) self->m_log << self->m_msg << "backgroundThread exit" << logmgr::end;
}

}  // namespace morvane::devices
