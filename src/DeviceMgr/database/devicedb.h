#pragma once

#include "DeviceMgr/database/devicedb_config.h"
#include "DeviceMgr/database/devicedb_device.h"
#include "Logger/logmgr.h"

#include <boost/filesystem/path.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/util/XercesDefs.hpp>

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

XERCES_CPP_NAMESPACE_BEGIN
class XercesDOMParser;
class DOMDocument;
class DOMElement;
class SAXParseException;
XERCES_CPP_NAMESPACE_END

namespace morvane::devices {

// Collects the parser's complaints about one file: logs each and counts warnings and errors.
// Used by one parse on one thread.
class devicedb_error_handler : public xercesc::ErrorHandler {
public:
    devicedb_error_handler(const boost::filesystem::path& file, logger::logmgr& log);
    ~devicedb_error_handler() override = default;

    void warning(const xercesc::SAXParseException& exc) override;
    void error(const xercesc::SAXParseException& exc) override;
    void fatalError(const xercesc::SAXParseException& exc) override;
    void resetErrors() override;

    int getWarningCount() const { return m_warnings; }
    int getErrorCount() const { return m_errors; }

private:
    void report(const xercesc::SAXParseException& exc, logger::logmsg::msgtype type, int level);

    const boost::filesystem::path& m_file;
    logger::logmgr& m_log;
    int m_warnings = 0;
    int m_errors = 0;
};

// The device database: devdb.xml, validated against devdb.xsd, read into device records.
//
// The constructor loads everything or throws devmgr_exception; no partly loaded database is
// ever published. Afterwards the object is immutable, so lookups may run on any thread
// without a lock. The log manager is used only while loading.
class devicedb {
public:
    using device_ptr = std::shared_ptr<devicedb_device>;
    using config_ptr = std::shared_ptr<devicedb_config>;
    using pair_list = std::vector<std::pair<std::string, std::string>>;

    static const std::string DeviceDBElemName;
    static const std::string DevicesElemName;
    static const std::string DeviceElemName;
    static const std::string ConfigurationElemName;
    static const std::string PropsElemName;
    static const std::string PropElemName;
    static const std::string CategoryElemName;
    static const std::string KitsElemName;
    static const std::string KitElemName;

    static const XMLCh NameAttrName[];
    static const XMLCh ValueAttrName[];
    static const XMLCh ShortNameAttrName[];
    static const XMLCh VidAttrName[];
    static const XMLCh PidAttrName[];
    static const XMLCh ProtocolAttrName[];
    static const XMLCh IfsAttrName[];
    static const XMLCh PlatformIdName[];
    static const XMLCh PropsAttrName[];
    static const XMLCh KitsAttrName[];
    static const XMLCh MajorAttrName[];
    static const XMLCh MinorAttrName[];
    static const XMLCh KitsIdAttrName[];

    devicedb(logger::logmgr& log, const boost::filesystem::path& xmlFile,
             const boost::filesystem::path& schemaFile);
    virtual ~devicedb();
    devicedb(const devicedb&) = delete;
    devicedb& operator=(const devicedb&) = delete;

    // The one database of the process, loaded on first use. Safe to call from several threads
    // at once: exactly one load runs, the others wait and share its result. A failed load is
    // not remembered (its exception goes to the caller whose load failed); the next call tries
    // again. The arguments of later calls are ignored once a database is loaded.
    static std::shared_ptr<devicedb> shared(logger::logmgr& log, const boost::filesystem::path& xmlFile,
                                            const boost::filesystem::path& schemaFile);

    config_ptr getHIDConfig(unsigned short vid, unsigned short pid, unsigned short ifs) const;
    config_ptr getBulkConfig(unsigned short vid, unsigned short pid) const;
    config_ptr getBulkConfigEx(unsigned short vid, unsigned short pid, int ifs) const;
    config_ptr getSerialConfig(unsigned short vid, unsigned short pid) const;
    config_ptr getSerialConfigWithPlatfId(unsigned short vid, unsigned short pid, unsigned char platf) const;

    const std::list<device_ptr>& getDevices() const { return m_devices; }
    const pair_list& getKitList() const { return m_kit_list; }
    const std::map<std::string, pair_list>& getPropCategories() const { return m_prop_categories; }

    // Parser text to UTF-8, any length; null gives empty text.
    static std::string toString(const XMLCh* text);
    // Base-16 text with optional "0x"/"0X", whole text consumed, at most 0xFFFF; empty reads
    // as 0. Throws devmgr_exception ERR_DATABASE otherwise.
    static uint16_t toUInt16(const XMLCh* text);
    static uint16_t toUInt16(const std::string& text);

private:
    // Keeps the Xerces platform initialised for the life of the database.
    class xerces_platform {
    public:
        xerces_platform();
        ~xerces_platform();
        xerces_platform(const xerces_platform&) = delete;
        xerces_platform& operator=(const xerces_platform&) = delete;
    };

    std::shared_ptr<xercesc::XercesDOMParser> readXMLFile(const boost::filesystem::path& xmlFile,
                                                          const boost::filesystem::path& schemaFile);
    void extractDatabase(xercesc::DOMDocument* doc);
    void extractPropsList(xercesc::DOMElement* db);
    void extractProp(xercesc::DOMElement* category);
    void extractKitList(xercesc::DOMElement* db);
    void extractDeviceList(xercesc::DOMElement* db);
    void extractDevice(xercesc::DOMElement* device);
    void extractConfigurations(const std::shared_ptr<devicedb_device>& device, xercesc::DOMElement* config);
    static xercesc::DOMElement* getDBNode(xercesc::DOMElement* element, const std::string& name);
    template <typename Body>
    void containList(const char* prefix, Body body);
    void logListError(const char* prefix, const std::exception& e, bool deviceMgrError);

    template <typename Lookup>
    config_ptr findFirst(Lookup lookup) const;

    logger::logmgr& m_log;
    // Declared before the records so it is torn down after them (and after a failed load).
    xerces_platform m_platform;
    std::list<device_ptr> m_devices;
    pair_list m_kit_list;
    std::map<std::string, pair_list> m_prop_categories;
};

}  // namespace morvane::devices
