#pragma once

#include "DeviceMgr/api/device_manager_api.h"
#include "Logger/logmgr.h"
#include "Pavix/Pavix.h"

#include <boost/signals2/connection.hpp>

#include <atomic>
#include <memory>
#include <string>

namespace morvane::pavix {

// The one implementation of Pavix.
//
// Threads: the client uses an object from one thread at a time (cancelTransfer excepted).
// connected()/disconnected() run on the scanning thread with the scan mutex held.
class PavixImpl : public Pavix {
public:
    PavixImpl();
    ~PavixImpl() override;

    int initialize(unsigned int devices, PavixProps* props) override;
    int exit() override;
    int getVersion(unsigned int& major, unsigned int& minor, unsigned int& patch,
                   unsigned int& build) override;
    const char* getErrorDescription(int code) override;
    void setConnectCallback(PavixConnectCallback callback, void* userData) override;
    void setLogCallback(PavixLogCallback callback, void* userData, PavixLogLevel level) override;
    int getDeviceList(PavixDevice*** list) override;
    int releaseDeviceList(PavixDevice** list) override;
    int openDevice(const char* name) override;
    void closeDevice() override;
    int getDeviceProps(PavixDeviceProps** props) override;
    int releaseDeviceProps(PavixDeviceProps* props) override;
    int getPavixParam(PavixGetParams param, char* buffer, unsigned int size) override;
    int getPowerMonitorParam(PavixPowerMonitorGetParams param, char* buffer, unsigned int size,
                             unsigned char iface) override;
    int getPowerControlParam(PavixPowerControlGetParams param, char* buffer, unsigned int size,
                             unsigned char iface) override;
    int getI2cParam(PavixI2cGetParams param, char* buffer, unsigned int size, unsigned char iface) override;
    int setI2cParam(PavixI2cSetParams param, unsigned int value, unsigned char iface) override;
    int getSpiParam(PavixSpiGetParams param, char* buffer, unsigned int size, unsigned char iface) override;
    int setSpiParam(PavixSpiSetParams param, unsigned int value, unsigned char iface) override;
    int getSwdParam(PavixSWDJtagGetParams param, char* buffer, unsigned int size, unsigned char iface) override;
    int getJtagParam(PavixSWDJtagGetParams param, char* buffer, unsigned int size, unsigned char iface) override;
    int getVoltage(int* millivolts, unsigned char iface) override;
    int setVoltage(unsigned int millivolts, unsigned char iface) override;
    int powerOn(bool on, unsigned char iface) override;
    int upgradeFw(const char* file) override;
    int i2cDataTransfer(unsigned char address, unsigned char flags, unsigned int readCount,
                        const unsigned char* writeData, unsigned int writeCount, unsigned char* out,
                        unsigned int outSize, unsigned char iface) override;
    int spiDataTransfer(unsigned char flags, const unsigned char* writeData, unsigned char* readData,
                        unsigned int size, unsigned char iface) override;
    int uartWrite(const unsigned char* data, unsigned int size) override;
    int uartRead(unsigned char* data, unsigned int size, unsigned int timeoutMs) override;
    int uartReadSinglePacket(unsigned char* data, unsigned int size, unsigned int timeoutMs) override;
    int uartReadAsync(PavixUartReceiveCallback callback, unsigned char* buffer, unsigned int size,
                      void* userData) override;
    int setUartParam(PavixUartSetParams param, unsigned int value) override;
    int usbWrite(const char* hex, unsigned int length) override;
    int modeSwitch(PavixTallvexModeSwitch mode) override;
    int i2cStartMultipleTransaction(unsigned char iface) override;
    int i2cStopMultipleTransaction() override;
    int i2cAppendCommand(unsigned char address, unsigned char flags, const unsigned char* data,
                         unsigned int size) override;
    int i2cExecuteCommands() override;
    int i2cGetCmdResponse(unsigned int index, unsigned char* buffer, unsigned int size) override;
    int cancelTransfer() override;

    // The supported-devices text handed to the device manager for a family mask, and whether
    // the mask asks for pairing probes with their USB-UARTs. Empty text: no known bit.
    static std::string supportedDevicesText(unsigned int devices, bool& pairing);
    // "0x" and eight lower-case hexadecimal digits.
    static std::string hexForm(unsigned int bit);

    void connected(std::shared_ptr<devicemgrapi::hardware_device_api> device);
    void disconnected(std::shared_ptr<devicemgrapi::hardware_device_api> device);

private:
    // Status of an operation whose work is not available in this build: not initialized,
    // no device manager (initialization failed), or not supported.
    int unavailable() const;
    void logError(const std::exception& e);

    std::shared_ptr<devicemgrapi::device_manager_api> m_api_p;
    std::unique_ptr<logger::logmgr> m_log;
    boost::signals2::connection m_connected_connection;
    boost::signals2::connection m_disconnected_connection;
    std::atomic<bool> m_accepting_events{false};
    bool m_device_opened = false;
    bool m_initialized = false;
    PavixConnectCallback m_connect_callback = nullptr;
    void* m_connect_user_data = nullptr;
    std::string m_opened_name;
    bool m_pair_uart = false;
};

}  // namespace morvane::pavix
