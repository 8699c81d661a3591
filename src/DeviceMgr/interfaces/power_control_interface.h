#pragma once

#include "DeviceMgr/api/interface_base.h"

#include <string>
#include <vector>

namespace morvane::devicemgrapi {

// The supplies a probe can drive. Voltages in millivolts. Capability answers are valid once
// the interface is enabled. Failures throw devmgr_exception; a supply index the device does
// not have is ERR_INVALID_ARGUMENT.
class power_control_interface : public interface_base {
public:
    using interface_base::interface_base;

    virtual unsigned long getNumberSupplies() const = 0;
    virtual unsigned long getTargetSupplyIndex() const = 0;
    virtual std::string getSupplyName(unsigned long index) const = 0;
    // true: any voltage from minimum to maximum; false: only the listed ones.
    virtual bool isContinous(unsigned long index) const = 0;
    virtual unsigned int getMinimumVoltage(unsigned long index) = 0;
    virtual unsigned int getMaximumVoltage(unsigned long index) = 0;
    virtual std::vector<unsigned int>& getVoltages(unsigned long index) = 0;
    virtual unsigned int getLastSetVoltage(unsigned long index) = 0;
    virtual bool isPoweredByThisInterface(unsigned long index) = 0;
    virtual void setVoltage(unsigned long index, unsigned int mv) = 0;
    virtual bool isOnOffGlobal() const = 0;
    virtual bool isOnOffSupported(unsigned long index) const = 0;
    virtual bool isVoltControlSupported(unsigned long index) const = 0;
    virtual void onOff(unsigned long index, bool on) = 0;
};

}  // namespace morvane::devicemgrapi
