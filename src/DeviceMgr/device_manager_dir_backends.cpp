#include "DeviceMgr/device_manager_dir.h"

namespace morvane::devices {

// The real backends, in the order the directory registers them: libusb ("jlink"), HID
// ("hidapi"), serial ("serial"); then the libusb hot-plug detector. Each backend joins this
// list when it is built.
backend_factory device_manager_dir::defaultBackendFactory() {
    backend_factory f;
    f.createManagers = [](device_manager_dir&, logger::logmgr&, const std::shared_ptr<param_db>&,
                          std::recursive_mutex&) {};
    f.createDetector = [](logger::logmgr&) { return std::shared_ptr<hardware_detector>(); };
    return f;
}

}  // namespace morvane::devices
