#include "DeviceMgr/devices/identity_device.h"

#include "DeviceMgr/api/devmgr_exception.h"

namespace morvane::devices {

using devicemgrapi::devmgr_exception;

identity_device::identity_device(const std::shared_ptr<usbdevice>& dev, logger::logmgr& log,
                                 const devicedb_config& config)
    : usbhardwaredev(dev, config.getName() + " Programming Device", log) {
    m_vid = dev->getVID();
    m_pid = dev->getPID();
    const std::string serial = dev->getSerial();
    setSerialNum(serial);
    setLocation(dev->getLocation());
    setProductStr(dev->getProductStr());
    setManufacturerStr(dev->getManufacturerStr());
    setHardwareID(config.getName() + "-" + serial);
    setShortHardwareID(config.getShortName() + "-" + serial);
    m_kits = config.getKits();
    m_type_name = config.getDeviceName();
    m_host_protocol = config.getProtocol();
}

bool identity_device::upgradeFirmware(const char*) {
    throw devmgr_exception(devmgr_exception::ERR_NOT_SUPPORTED, "upgradeFirmware is not supported by this device");
}

bool identity_device::isFirmwareUpgradePossible(const char*, bool) { return false; }

bool identity_device::isFirmwareUpgradeRequired(const char*, bool) { return false; }

}  // namespace morvane::devices
