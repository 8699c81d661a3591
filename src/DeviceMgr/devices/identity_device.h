#pragma once

#include "DeviceMgr/database/devicedb_config.h"
#include "DeviceMgr/devices/usbhardwaredev.h"

namespace morvane::devices {

// A device known only by its identity: hardware ID, USB strings, location, database family
// and kits; no interfaces and no firmware operations. The factory creates it for families
// whose own device class the library does not have yet, so they are listed and can be
// told apart, but nothing pretends to drive them.
class identity_device : public usbhardwaredev {
public:
    identity_device(const std::shared_ptr<usbdevice>& dev, logger::logmgr& log, const devicedb_config& config);

    bool upgradeFirmware(const char* file) override;
    bool isFirmwareUpgradePossible(const char* file, bool flag) override;
    bool isFirmwareUpgradeRequired(const char* file, bool flag) override;
};

}  // namespace morvane::devices
