#pragma once

#include <cstdint>
#include <string>

namespace morvane::devicemgrapi {

// Names one interface of a device. Identity is (type, index); the description is only text.
class interface_desc {
public:
    enum InterfaceType : uint16_t {
        IF_POWER_CONTROL = 1,
        IF_POWER_MONITOR = 2,
        IF_SWD = 3,
        IF_UART = 6,
        IF_JTAG = 7,
        IF_DEVICE_CONTROL = 8,
        IF_I2C_SPI = 10,
        IF_USB = 11,
    };

    interface_desc(InterfaceType type, unsigned short index, const char* name)
        : m_name(name ? name : ""), m_index(index), m_type(type) {}

    const std::string& getName() const { return m_name; }
    unsigned short getIndex() const { return m_index; }
    InterfaceType getType() const { return m_type; }

    bool operator==(const interface_desc& o) const { return m_type == o.m_type && m_index == o.m_index; }
    bool operator!=(const interface_desc& o) const { return !(*this == o); }
    bool operator<(const interface_desc& o) const {
        return m_type != o.m_type ? m_type < o.m_type : m_index < o.m_index;
    }

private:
    std::string m_name;
    unsigned short m_index;
    InterfaceType m_type;
};

}  // namespace morvane::devicemgrapi
