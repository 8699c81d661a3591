#pragma once

#include "DeviceMgr/api/interface_desc.h"
#include "Logger/logmgr.h"

#include <boost/signals2/signal.hpp>

#include <memory>

namespace morvane::devicemgrapi {

class hardware_device_api;

// Root of every interface object a device offers (bridges, power, ...).
//
// Ownership: created and held by its device (hwdevice's interface map), and shared with the
// Bridge API while a device is open. Keeps a plain back pointer to the device, which
// outlives it. The signals carry `this`; slots run on the thread that enables or disables.
class interface_base {
public:
    using signal_type = boost::signals2::signal<void(interface_base*)>;

    explicit interface_base(hardware_device_api* parent);
    virtual ~interface_base();
    interface_base(const interface_base&) = delete;
    interface_base& operator=(const interface_base&) = delete;

    virtual signal_type& getEnabledSignal();
    virtual signal_type& getDisabledSignal();
    virtual const interface_desc& getInterfaceDescriptor() = 0;
    virtual void enable() = 0;
    virtual void disable() = 0;
    virtual bool isEnabled() = 0;
    // Emits the disabled signal with this interface.
    virtual void notifyDisable();
    virtual bool isDerived() const;
    virtual bool isHighLevel() const;
    virtual std::shared_ptr<interface_base> getParent();
    virtual logger::logmsg& getOperMessage();

    hardware_device_api* getDevice() const { return m_parent; }

protected:
    hardware_device_api* m_parent;
    signal_type m_enabled_signal;
    signal_type m_disabled_signal;
    logger::logmsg m_oper_message;
};

}  // namespace morvane::devicemgrapi
