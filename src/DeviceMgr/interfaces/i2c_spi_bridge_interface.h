#pragma once

#include "DeviceMgr/api/interface_base.h"

#include <vector>

namespace morvane::devicemgrapi {

enum I2C_SPI_Mode : int { Mode_I2C = 0, Mode_SPI = 1 };
enum i2c_start_condition : int { i2c_start = 0, i2c_restart = 1, i2c_no_start = 2 };
enum i2c_stop_condition : int { i2c_no_stop = 0, i2c_stop = 1 };
enum i2c_read_write_condition : int { i2c_read = 0, i2c_write = 1 };

// The I2C and SPI masters of a probe. Capability answers are valid once the interface is
// enabled. Failures throw devmgr_exception.
//
// Threads: every operation runs on the thread that owns the device, one at a time, except
// cancelTransfer(), which another thread may call while a transfer runs; the transfer then
// fails with ERR_CANCELLED.
class i2c_spi_bridge_interface : public interface_base {
public:
    using interface_base::interface_base;

    virtual bool isI2cSupported() = 0;
    virtual bool isSpiSupported() = 0;
    virtual std::vector<unsigned int>& getI2cFreqs() = 0;
    virtual std::vector<unsigned int>& getSpiFreqs() = 0;
    virtual bool isSpiFreqPredefined() = 0;
    virtual void setI2cFreq(unsigned int hz) = 0;
    virtual unsigned int getCurrentI2cFreq() = 0;
    virtual unsigned int getCurrentSpiFreq() = 0;
    virtual unsigned char getSpiBitOrder() = 0;
    virtual unsigned char getSpiMode() = 0;
    virtual void setSpiBitOrder(unsigned char order) = 0;
    virtual void setSpiMode(unsigned char mode) = 0;
    virtual void setSpiFreq(unsigned int hz) = 0;
    virtual void setSpiSS(unsigned char line) = 0;
    virtual void restartI2cMaster() = 0;
    // With i2c_no_start the entry value of `ack` decides whether the read is carried out.
    virtual void i2cReadData(i2c_start_condition start, i2c_stop_condition stop, unsigned char address,
                             std::vector<unsigned char>& data, bool& ack) = 0;
    virtual void i2cSendData(i2c_start_condition start, i2c_stop_condition stop, unsigned char address,
                             std::vector<unsigned char>& data, bool& ack, std::vector<unsigned char>& acks) = 0;
    virtual void i2cSendBufferData(std::vector<unsigned char>& out) = 0;
    virtual void i2cAppendBufferData(i2c_read_write_condition rw, i2c_start_condition start,
                                     i2c_stop_condition stop, unsigned char address,
                                     std::vector<unsigned char>& data) = 0;
    virtual void i2cInitExecuteBuffer() = 0;
    virtual unsigned long i2cGetCurrentBufferSize() = 0;
    virtual void spiTransferData(bool first, bool last, std::vector<unsigned char>& out,
                                 std::vector<unsigned char>& in) = 0;
    // Any thread.
    virtual void cancelTransfer() = 0;
};

}  // namespace morvane::devicemgrapi
