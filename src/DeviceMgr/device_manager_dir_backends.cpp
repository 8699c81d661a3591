#include "DeviceMgr/backends/hidapi_devicemgr.h"
#include "DeviceMgr/backends/libusb_devicemgr.h"
#include "DeviceMgr/device_manager_dir.h"
#include "DeviceMgr/libusb_detector.h"

namespace morvane::devices {

// The real backends, in the order the directory registers them: libusb ("jlink"), HID
// ("hidapi"), serial ("serial"); then the libusb hot-plug detector. The serial manager joins
// this list when it is built.
backend_factory device_manager_dir::defaultBackendFactory() {
    backend_factory f;
    f.createManagers = [](device_manager_dir& dir, logger::logmgr& log, const std::shared_ptr<param_db>& params,
                          std::recursive_mutex& scanMutex) {
        dir.connectHardwareManager("jlink", std::make_shared<libusb_devicemgr>(log, ID_LIBUSB_MGR, params, scanMutex));
        dir.connectHardwareManager("hidapi", std::make_shared<hidapi_devicemgr>(log, ID_HIDAPI_MGR, params, scanMutex));
    };
    f.createDetector = [](logger::logmgr& log) -> std::shared_ptr<hardware_detector> {
        return std::make_shared<libusb_detector>(log);
    };
    return f;
}

}  // namespace morvane::devices
