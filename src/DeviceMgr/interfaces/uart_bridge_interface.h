#pragma once

#include "DeviceMgr/api/interface_base.h"

#include <functional>
#include <vector>

namespace morvane::devicemgrapi {

// A serial line. Failures throw devmgr_exception.
//
// Threads: the callback of readAsync() runs on the interface's receive thread while
// continuous reception is active; everything else on the thread that owns the device.
class uart_bridge_interface : public interface_base {
public:
    enum ParityType : int { ParityOdd = 0, ParityEven = 1, ParityNone = 2 };
    enum StopBits : int { StopBitsOne = 0, StopBitsOnePointFive = 1, StopBitsTwo = 2 };

    using interface_base::interface_base;

    virtual void setBaudRate(unsigned int baud) = 0;
    virtual void setDataBits(unsigned char bits) = 0;
    virtual void setStopBits(StopBits bits) = 0;
    virtual void setParity(ParityType parity) = 0;
    virtual void write(const std::vector<unsigned char>& data) = 0;
    // Each arrival calls `callback` with `buffer` and the number of bytes received.
    virtual void readAsync(std::vector<unsigned char>& buffer,
                           std::function<void(std::vector<unsigned char>&, unsigned int)> callback) = 0;
    virtual void stopAsyncRead() = 0;
    // Fills `buffer` within the time-out (ms); returns the number of bytes received.
    virtual unsigned int read(std::vector<unsigned char>& buffer, unsigned int timeout) = 0;
    // What one arrival delivers; returns the number of bytes.
    virtual unsigned int readSinglePacket(std::vector<unsigned char>& buffer, unsigned int timeout) = 0;
};

}  // namespace morvane::devicemgrapi
