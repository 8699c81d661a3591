#pragma once

#include "DeviceMgr/api/interface_desc.h"
#include "Logger/logmgr.h"

#include <list>
#include <memory>
#include <string>

namespace morvane::devicemgrapi {

class interface_base;

// A connected probe as the rest of the system sees it. Created by a hardware manager's
// factory, owned by shared pointers (the manager's list, the Bridge API while open).
// Descriptive members are written during construction and the first open, before the device
// is handed to clients; state changes spanning several calls hold the device's own lock.
class hardware_device_api {
public:
    using InterfaceType = interface_desc::InterfaceType;

    virtual ~hardware_device_api() = default;
    virtual bool hasInterface(InterfaceType type, unsigned short index) = 0;
    virtual bool hasInterface(const interface_desc& desc) = 0;
    virtual unsigned int numberOfInterfaces(InterfaceType type) = 0;
    virtual unsigned int getOperationSpeed() const { return m_operation_speed; }
    virtual const std::string& getDescription() const = 0;
    virtual const std::list<interface_desc>& getInterfaceDescriptorList() const = 0;
    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() = 0;
    virtual std::shared_ptr<interface_base> getInterface(const interface_desc& desc) = 0;
    virtual bool upgradeFirmware(const char* file) = 0;
    virtual void modeSwitch(unsigned char mode) = 0;
    virtual bool isFirmwareUpgradePossible(const char* file, bool flag) = 0;
    virtual bool isFirmwareUpgradeRequired(const char* file, bool flag) = 0;
    virtual void getFwVersion(unsigned int& major, unsigned int& minor, unsigned int& build) const {
        major = m_fw_major;
        minor = m_fw_minor;
        build = m_fw_build;
    }
    virtual unsigned int getHwVersion() const { return m_hw_version; }
    virtual void getProtVersion(unsigned int& major, unsigned int& minor) const {
        major = m_prot_major;
        minor = m_prot_minor;
    }
    virtual bool isReEnumByBootldr() { return m_reenum_by_bootldr; }
    virtual void setOperationSpeed(unsigned int speed) { m_operation_speed = speed; }
    virtual void setHardwareID(const std::string& id) { m_hardware_id = id; }
    virtual void setShortHardwareID(const std::string& id) { m_short_hardware_id = id; }
    virtual void setProductStr(const std::string& s) { m_product_str = s; }
    virtual void setManufacturerStr(const std::string& s) { m_manufacturer_str = s; }
    virtual void setSerialNum(const std::string& s) { m_serial = s; }
    virtual void setLocation(const std::string& s) { m_location = s; }
    virtual void setReEnumByBootldr(bool v) { m_reenum_by_bootldr = v; }

    unsigned short vid() const { return m_vid; }
    unsigned short pid() const { return m_pid; }
    const std::string& getSerialNum() const { return m_serial; }
    const std::string& getLocation() const { return m_location; }
    const std::string& getHardwareID() const { return m_hardware_id; }
    const std::string& getShortHardwareID() const { return m_short_hardware_id; }
    const std::string& getProductStr() const { return m_product_str; }
    const std::string& getManufacturerStr() const { return m_manufacturer_str; }
    const std::string& getKits() const { return m_kits; }
    const std::string& getDetectedKits() const { return m_detected_kits; }
    const std::string& getTypeName() const { return m_type_name; }
    const std::string& getHostProtocol() const { return m_host_protocol; }
    logger::logmsg& getOperMessage() { return m_oper_message; }

protected:
    unsigned short m_vid = 0;
    unsigned short m_pid = 0;
    std::string m_serial;
    std::string m_location;
    std::string m_hardware_id;
    std::string m_short_hardware_id;
    std::string m_product_str;
    std::string m_manufacturer_str;
    logger::logmsg m_oper_message{"oper", logger::logmsg::msgtype::Debug, 1};
    bool m_reenum_by_bootldr = false;
    unsigned int m_fw_major = 0;
    unsigned int m_fw_minor = 0;
    unsigned int m_fw_build = 0;
    unsigned int m_hw_version = 0;
    unsigned int m_prot_major = 0;
    unsigned int m_prot_minor = 0;
    std::string m_kits;
    std::string m_detected_kits;
    std::string m_type_name;
    std::string m_host_protocol;
    unsigned int m_operation_speed = 0;
};

}  // namespace morvane::devicemgrapi
