// Operations whose device work is not built yet. Each answers honestly: -16 before
// initialize(), -2 when the device manager could not be created, -13 otherwise.
#include "Pavix/pavix.h"

namespace morvane::pavix {

int PavixImpl::getDeviceList(PavixDevice***) { return unavailable(); }
int PavixImpl::releaseDeviceList(PavixDevice**) { return unavailable(); }
int PavixImpl::openDevice(const char*) { return unavailable(); }
void PavixImpl::closeDevice() {}
int PavixImpl::getDeviceProps(PavixDeviceProps**) { return unavailable(); }
int PavixImpl::releaseDeviceProps(PavixDeviceProps*) { return unavailable(); }
int PavixImpl::getPavixParam(PavixGetParams, char*, unsigned int) { return unavailable(); }
int PavixImpl::getPowerMonitorParam(PavixPowerMonitorGetParams, char*, unsigned int, unsigned char) {
    return unavailable();
}
int PavixImpl::getPowerControlParam(PavixPowerControlGetParams, char*, unsigned int, unsigned char) {
    return unavailable();
}
int PavixImpl::getI2cParam(PavixI2cGetParams, char*, unsigned int, unsigned char) { return unavailable(); }
int PavixImpl::setI2cParam(PavixI2cSetParams, unsigned int, unsigned char) { return unavailable(); }
int PavixImpl::getSpiParam(PavixSpiGetParams, char*, unsigned int, unsigned char) { return unavailable(); }
int PavixImpl::setSpiParam(PavixSpiSetParams, unsigned int, unsigned char) { return unavailable(); }
int PavixImpl::getSwdParam(PavixSWDJtagGetParams, char*, unsigned int, unsigned char) { return unavailable(); }
int PavixImpl::getJtagParam(PavixSWDJtagGetParams, char*, unsigned int, unsigned char) { return unavailable(); }
int PavixImpl::getVoltage(int*, unsigned char) { return unavailable(); }
int PavixImpl::setVoltage(unsigned int, unsigned char) { return unavailable(); }
int PavixImpl::powerOn(bool, unsigned char) { return unavailable(); }
int PavixImpl::upgradeFw(const char*) { return unavailable(); }
int PavixImpl::i2cDataTransfer(unsigned char, unsigned char, unsigned int, const unsigned char*, unsigned int,
                               unsigned char*, unsigned int, unsigned char) {
    return unavailable();
}
int PavixImpl::spiDataTransfer(unsigned char, const unsigned char*, unsigned char*, unsigned int, unsigned char) {
    return unavailable();
}
int PavixImpl::uartWrite(const unsigned char*, unsigned int) { return unavailable(); }
int PavixImpl::uartRead(unsigned char*, unsigned int, unsigned int) { return unavailable(); }
int PavixImpl::uartReadSinglePacket(unsigned char*, unsigned int, unsigned int) { return unavailable(); }
int PavixImpl::uartReadAsync(PavixUartReceiveCallback, unsigned char*, unsigned int, void*) {
    return unavailable();
}
int PavixImpl::setUartParam(PavixUartSetParams, unsigned int) { return unavailable(); }
int PavixImpl::usbWrite(const char*, unsigned int) { return unavailable(); }
int PavixImpl::modeSwitch(PavixTallvexModeSwitch) { return unavailable(); }
int PavixImpl::i2cStartMultipleTransaction(unsigned char) { return unavailable(); }
int PavixImpl::i2cStopMultipleTransaction() { return unavailable(); }
int PavixImpl::i2cAppendCommand(unsigned char, unsigned char, const unsigned char*, unsigned int) {
    return unavailable();
}
int PavixImpl::i2cExecuteCommands() { return unavailable(); }
int PavixImpl::i2cGetCmdResponse(unsigned int, unsigned char*, unsigned int) { return unavailable(); }
int PavixImpl::cancelTransfer() { return unavailable(); }

}  // namespace morvane::pavix
