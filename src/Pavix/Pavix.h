#pragma once

// The client-visible interface of libpavix.
//
// A client obtains one object from createPavix() and talks to it only through the virtual
// operations of Pavix. The order of those operations is the library's binary interface:
// never reorder, insert or remove one. Every operation returns a PavixErrorCode (or a count)
// and lets no exception out; the one exception is setLogCallback() with an invalid level,
// which throws std::domain_error after installing the sinks.
//
// Threads: one object is used from one client thread at a time; cancelTransfer() alone may
// come from another thread. Connect callbacks run on the thread that scans for devices
// (the client's during initialize(), the hot-plug thread otherwise).

#include "Pavix/export.h"

// Device-family mask of initialize(); 0 admits every family.
enum PavixDevices : unsigned int {
    PavixDevAll = 0x0,
    PavixDevCmsisDap = 0x1,
    PavixDevTallvex = 0x2,        // second- and third-generation probes
    PavixDevTallvex2 = 0x4,
    PavixDevTallvex3 = 0x8,
    PavixDevUsbUart = 0x10,
    PavixDevJLink = 0x20,
    PavixDevSelvoWiFi = 0x40,
    PavixDevSelvoBT = 0x80,
    PavixDevTallvex3WithUart = 0x1000,  // 0x8 | 0x10 plus pairing of the probe with its USB-UART
};

// Same values as the log manager's message types.
enum PavixLogLevel {
    PavixLogNone = 0,
    PavixLogDebug = 1,
    PavixLogInfo = 2,
    PavixLogPlain = 3,
    PavixLogTrace = 4,
    PavixLogWarning = 5,
    PavixLogError = 6,
};

enum PavixErrorCode {
    PavixWarnFwUpgradeRecommended = 1,
    PavixOk = 0,
    PavixErrNoMemory = -1,
    PavixErrExecution = -2,
    PavixErrInvalidArgument = -3,
    PavixErrUnsupportedValue = -4,
    PavixErrDeviceNotFound = -5,
    PavixErrUnsupportedInterfaceNumber = -6,
    PavixErrDeviceNotOpened = -7,
    PavixErrNoPowerMonitor = -8,
    PavixErrNoPowerControl = -9,
    PavixErrNoSwd = -10,
    PavixErrNoSpi = -11,
    PavixErrNoI2c = -12,
    PavixErrNotSupported = -13,
    PavixErrBufferTooSmall = -14,
    PavixErrDeviceBusy = -15,
    PavixErrNotInitialized = -16,
    PavixErrTimeout = -17,
    PavixErrFwUpdateForbidden = -18,
    PavixErrAccessDenied = -19,
    PavixErrNoJtag = -20,
    PavixErrNoUart = -21,
    PavixErrAbortedByTimeout = -22,
    PavixErrFwUpgradeRequired = -23,
    PavixErrRestartRequired = -24,
    PavixErrSetVoltageFailed = -25,
    PavixErrNoUsb = -26,
    PavixErrTransferCanceled = -27,
};

struct PavixProps {
    const char* baseDirectory;  // null keeps the default "firmware" directory beside the program
    bool exclusiveHidAccess;
};

// Public device record. The library allocates it and frees it in releaseDeviceList() (or, for
// records handed to the connect callback, right after the callback returns).
struct PavixDevice {
    const char* name;
    const char* shortHardwareId;
    unsigned short pid;
    unsigned short vid;
    const char* serialNumber;
    const char* product;
    const char* manufacturer;
    const char* location;
    const char* familyName;
    const char* kits;
    const char* hostProtocol;
    int operationSpeed;
};

// Properties of the opened device, from getDeviceProps(); freed by releaseDeviceProps().
struct PavixDeviceProps : PavixDevice {
    unsigned char interfaceCount;
    const char* interfaces;
    unsigned int fwMajor;
    unsigned int fwMinor;
    unsigned int fwPatch;
    unsigned int hwVersion;
    unsigned int protMajor;
    unsigned int protMinor;
    const char* detectedKits;
};

#define PavixIfacePowCtrlName "power_control"
#define PavixIfacePowMonName "power_monitor"
#define PavixIfaceI2CName "i2c"
#define PavixIfaceSPIName "spi"
#define PavixIfaceSWDName "swd"
#define PavixIfaceJTAGName "jtag"
#define PavixIfaceUARTName "uart"
#define PavixIfaceUSBName "usb"

enum PavixGetParams {
    PavixParamTl3FwVersion = 0,
};

enum PavixPowerMonitorGetParams {
    PavixPowMonCanMeasureVoltage = 0,
};

enum PavixPowerControlGetParams {
    PavixPowCtrlIsOnOffSupported = 0,
    PavixPowCtrlIsVoltControlSupported = 1,
    PavixPowCtrlIsContinuous = 2,
    PavixPowCtrlMinimumVoltage = 3,
    PavixPowCtrlMaximumVoltage = 4,
    PavixPowCtrlLastSetVoltage = 5,
    PavixPowCtrlVoltages = 6,
    PavixPowCtrlIsPoweredByThisInterface = 7,
};

enum PavixI2cGetParams {
    PavixI2cFreqs = 0,
    PavixI2cCurrentFreq = 1,
    PavixI2cMultipleTransactionSupported = 2,
    PavixI2cMaxCommandSize = 3,
    PavixI2cTransactionState = 4,
    PavixI2cHasAppendedCommands = 5,
    PavixI2cCanAppendCommand = 6,
};

enum PavixI2cSetParams {
    PavixI2cSetFreq = 0,
    PavixI2cRestartMaster = 1,
};

enum PavixSpiGetParams {
    PavixSpiFreqs = 0,
    PavixSpiCurrentFreq = 1,
    PavixSpiMode = 2,
    PavixSpiBitOrder = 3,
    PavixSpiIsFreqPredefined = 4,
};

enum PavixSpiSetParams {
    PavixSpiSetFreq = 0,
    PavixSpiSetMode = 1,
    PavixSpiSetBitOrder = 2,
    PavixSpiSetSS = 3,
};

enum PavixSWDJtagGetParams {
    PavixSwdJtagFreqs = 0,
    PavixSwdJtagModes = 1,
};

enum PavixUartSetParams {
    PavixUartBaudRate = 0,
    PavixUartStopBits = 1,
    PavixUartParity = 2,
    PavixUartDataBits = 3,
};

enum PavixI2cMultipleTransactionState {
    PavixI2cTransactionNotStarted = 0,
    PavixI2cTransactionStarted = 1,
    PavixI2cTransactionExecuted = 2,
};

// Stored in 8 bits.
enum PavixTallvexModeSwitch : unsigned char {
    PavixModeBootloader = 0,
    PavixModeBulk = 1,
    PavixModeHid = 2,
    PavixModeDapLink = 3,
};

typedef void (*PavixConnectCallback)(PavixDevice* device, bool arrived, void* userData);
typedef void (*PavixLogCallback)(const char* line, PavixLogLevel level, void* userData);
typedef void (*PavixUartReceiveCallback)(const unsigned char* data, unsigned int size, void* userData);

class PAVIX_EXPORT Pavix {
public:
    virtual ~Pavix() {}
    virtual int initialize(unsigned int devices, PavixProps* props) = 0;
    virtual int exit() = 0;
    virtual int getVersion(unsigned int& major, unsigned int& minor, unsigned int& patch,
                           unsigned int& build) = 0;
    virtual const char* getErrorDescription(int code) = 0;
    virtual void setConnectCallback(PavixConnectCallback callback, void* userData) = 0;
    virtual void setLogCallback(PavixLogCallback callback, void* userData, PavixLogLevel level) = 0;
    virtual int getDeviceList(PavixDevice*** list) = 0;
    virtual int releaseDeviceList(PavixDevice** list) = 0;
    virtual int openDevice(const char* name) = 0;
    virtual void closeDevice() = 0;
    virtual int getDeviceProps(PavixDeviceProps** props) = 0;
    virtual int releaseDeviceProps(PavixDeviceProps* props) = 0;
    virtual int getPavixParam(PavixGetParams param, char* buffer, unsigned int size) = 0;
    virtual int getPowerMonitorParam(PavixPowerMonitorGetParams param, char* buffer,
                                     unsigned int size, unsigned char iface) = 0;
    virtual int getPowerControlParam(PavixPowerControlGetParams param, char* buffer,
                                     unsigned int size, unsigned char iface) = 0;
    virtual int getI2cParam(PavixI2cGetParams param, char* buffer, unsigned int size,
                            unsigned char iface) = 0;
    virtual int setI2cParam(PavixI2cSetParams param, unsigned int value, unsigned char iface) = 0;
    virtual int getSpiParam(PavixSpiGetParams param, char* buffer, unsigned int size,
                            unsigned char iface) = 0;
    virtual int setSpiParam(PavixSpiSetParams param, unsigned int value, unsigned char iface) = 0;
    virtual int getSwdParam(PavixSWDJtagGetParams param, char* buffer, unsigned int size,
                            unsigned char iface) = 0;
    virtual int getJtagParam(PavixSWDJtagGetParams param, char* buffer, unsigned int size,
                             unsigned char iface) = 0;
    virtual int getVoltage(int* millivolts, unsigned char iface) = 0;
    virtual int setVoltage(unsigned int millivolts, unsigned char iface) = 0;
    virtual int powerOn(bool on, unsigned char iface) = 0;
    virtual int upgradeFw(const char* file) = 0;
    virtual int i2cDataTransfer(unsigned char address, unsigned char flags,
                                unsigned int readCount, const unsigned char* writeData,
                                unsigned int writeCount, unsigned char* out,
                                unsigned int outSize, unsigned char iface) = 0;
    virtual int spiDataTransfer(unsigned char flags, const unsigned char* writeData,
                                unsigned char* readData, unsigned int size,
                                unsigned char iface) = 0;
    virtual int uartWrite(const unsigned char* data, unsigned int size) = 0;
    virtual int uartRead(unsigned char* data, unsigned int size, unsigned int timeoutMs) = 0;
    virtual int uartReadSinglePacket(unsigned char* data, unsigned int size,
                                     unsigned int timeoutMs) = 0;
    virtual int uartReadAsync(PavixUartReceiveCallback callback, unsigned char* buffer,
                              unsigned int size, void* userData) = 0;
    virtual int setUartParam(PavixUartSetParams param, unsigned int value) = 0;
    virtual int usbWrite(const char* hex, unsigned int length) = 0;
    virtual int modeSwitch(PavixTallvexModeSwitch mode) = 0;
    virtual int i2cStartMultipleTransaction(unsigned char iface) = 0;
    virtual int i2cStopMultipleTransaction() = 0;
    virtual int i2cAppendCommand(unsigned char address, unsigned char flags,
                                 const unsigned char* data, unsigned int size) = 0;
    virtual int i2cExecuteCommands() = 0;
    virtual int i2cGetCmdResponse(unsigned int index, unsigned char* buffer,
                                  unsigned int size) = 0;
    virtual int cancelTransfer() = 0;
};

extern "C" PAVIX_EXPORT Pavix* createPavix();
