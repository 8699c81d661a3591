#pragma once

#include "DeviceMgr/api/interface_base.h"

#include <vector>

namespace morvane::devicemgrapi {

// The debug clock of a probe's SWD/JTAG bridge. Frequencies in Hz. Failures throw
// devmgr_exception.
class swd_jtag_bridge_interface : public interface_base {
public:
    using interface_base::interface_base;

    // More than one clock frequency is offered.
    virtual bool isFreqConfigurable() = 0;
    virtual std::vector<unsigned int>& getFrequencies() = 0;
    virtual void setFrequency(unsigned int hz) = 0;
    virtual unsigned int getCurrentFrequency() = 0;
};

}  // namespace morvane::devicemgrapi
