#pragma once

#include "DeviceMgr/api/interface_base.h"

#include <vector>

namespace morvane::devicemgrapi {

// Raw access to a probe's bridge endpoint. Failures throw devmgr_exception.
class usb_bridge_interface : public interface_base {
public:
    using interface_base::interface_base;

    // One transfer to the bridge endpoint; no answer is read.
    virtual void sendData(const std::vector<unsigned char>& data) = 0;
};

}  // namespace morvane::devicemgrapi
