#pragma once

#include <boost/signals2/signal.hpp>

namespace morvane::devices {

// Tells the device manager directory that the set of attached devices has changed. The
// signal runs on the detector's own thread; the directory's slot rescans every manager.
class hardware_detector {
public:
    virtual ~hardware_detector() = default;
    virtual void startHardwareDetection() = 0;
    virtual void stopHardwareDetection() = 0;

    boost::signals2::signal<void()> m_hardware_changed;
};

}  // namespace morvane::devices
