#include "DeviceMgr/api/interface_base.h"

namespace morvane::devicemgrapi {

interface_base::interface_base(hardware_device_api* parent)
    : m_parent(parent), m_oper_message("oper", logger::logmsg::msgtype::Debug, 1) {}

interface_base::~interface_base() = default;

interface_base::signal_type& interface_base::getEnabledSignal() { return m_enabled_signal; }

interface_base::signal_type& interface_base::getDisabledSignal() { return m_disabled_signal; }

void interface_base::notifyDisable() { m_disabled_signal(this); }

bool interface_base::isDerived() const { return false; }

bool interface_base::isHighLevel() const { return false; }

std::shared_ptr<interface_base> interface_base::getParent() { return nullptr; }

logger::logmsg& interface_base::getOperMessage() { return m_oper_message; }

}  // namespace morvane::devicemgrapi
