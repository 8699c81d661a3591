#pragma once

#include "DeviceMgr/api/interface_base.h"

#include <string>

namespace morvane::devicemgrapi {

// The meters of a probe. Voltages in millivolts. Failures throw devmgr_exception; a meter
// index the device does not have is ERR_INVALID_ARGUMENT.
class power_monitor_interface : public interface_base {
public:
    using interface_base::interface_base;

    virtual unsigned long getNumberSupplies() const = 0;
    virtual unsigned long getTargetSupplyIndex() const = 0;
    virtual std::string getSupplyName(unsigned long index) const = 0;
    virtual bool canMeasureVoltage(unsigned long index) = 0;
    virtual unsigned int getVoltage(unsigned long index) = 0;
    virtual bool canMeasureCurrent(unsigned long index) = 0;
    virtual unsigned int getCurrent(unsigned long index) = 0;
};

}  // namespace morvane::devicemgrapi
