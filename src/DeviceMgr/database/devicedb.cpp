#include "DeviceMgr/database/devicedb.h"

#include "DeviceMgr/api/devmgr_exception.h"
#include "Logger/format.h"
#include "Logger/modules.h"

#include <boost/filesystem/operations.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLEntityResolver.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/validators/common/Grammar.hpp>

#include <mutex>

namespace morvane::devices {

using devicemgrapi::devmgr_exception;
using logger::fmt;
using logger::logmgr;
using logger::logmsg;
using namespace xercesc;

const std::string devicedb::DeviceDBElemName = "devicedb";
const std::string devicedb::DevicesElemName = "devices";
const std::string devicedb::DeviceElemName = "device";
const std::string devicedb::ConfigurationElemName = "configuration";
const std::string devicedb::PropsElemName = "props";
const std::string devicedb::PropElemName = "prop";
const std::string devicedb::CategoryElemName = "category";
const std::string devicedb::KitsElemName = "kits";
const std::string devicedb::KitElemName = "kit";

const XMLCh devicedb::NameAttrName[] = u"name";
const XMLCh devicedb::ValueAttrName[] = u"value";
const XMLCh devicedb::ShortNameAttrName[] = u"short_name";
const XMLCh devicedb::VidAttrName[] = u"vid";
const XMLCh devicedb::PidAttrName[] = u"pid";
const XMLCh devicedb::ProtocolAttrName[] = u"protocol";
const XMLCh devicedb::IfsAttrName[] = u"interface";
const XMLCh devicedb::PlatformIdName[] = u"platform_id";
const XMLCh devicedb::PropsAttrName[] = u"props";
const XMLCh devicedb::KitsAttrName[] = u"kits";
const XMLCh devicedb::MajorAttrName[] = u"major";
const XMLCh devicedb::MinorAttrName[] = u"minor";
const XMLCh devicedb::KitsIdAttrName[] = u"kits_id";

namespace {

const char* const HexFormatError = "Invalid VID or PID in device, expected 16 bit hex number";
const char* const HexRangeError = "Invalid VID or PID in device, value is greater than 0xFFFF";

// The database file needs no entities; the limit only stops expansion bombs.
constexpr XMLSize_t EntityExpansionLimit = 1000;

// Xerces platform start and end are process-wide and not thread-safe themselves.
// Constant-initialised, so it outlives every database, the shared one included.
std::mutex g_platform_mutex;
std::mutex& platformMutex() { return g_platform_mutex; }

// Guards the shared database; constant-initialised like the one above.
std::mutex g_shared_mutex;

// Text of the exception being handled, for the Xerces types that do not derive from
// std::exception. Call only inside a catch block.
std::string currentXercesText() {
    try {
        throw;
    } catch (const DOMException& e) {
        return devicedb::toString(e.getMessage());
    } catch (const XMLException& e) {
        return devicedb::toString(e.getMessage());
    } catch (const SAXException& e) {
        return devicedb::toString(e.getMessage());
    } catch (const OutOfMemoryException&) {
        return "Out of memory";
    } catch (...) {
        return std::string();
    }
}

// Lets the parser open the schema and nothing else: no external DTD, no external entity.
// A refused resource reads as an empty document, which makes the load fail.
class schema_only_resolver : public XMLEntityResolver {
public:
    explicit schema_only_resolver(std::string schema) : m_schema(std::move(schema)) {}
    InputSource* resolveEntity(XMLResourceIdentifier* id) override {
        if (id && devicedb::toString(id->getSystemId()) == m_schema) return nullptr;
        static const XMLByte empty[] = {0};
        return new MemBufInputSource(empty, 0, id ? id->getSystemId() : u"", false);
    }

private:
    std::string m_schema;
};

// Everything one parse needs, kept alive together; the parser is handed out through an
// aliasing pointer. Members are destroyed in reverse order, the parser first.
struct parse_session {
    explicit parse_session(const std::string& schema) : resolver(schema) {}
    schema_only_resolver resolver;
    SecurityManager security;
    XercesDOMParser parser;
};

std::string elementName(const DOMNode* node) { return devicedb::toString(node->getNodeName()); }

}  // namespace

// ---- error handler ---------------------------------------------------------------------

devicedb_error_handler::devicedb_error_handler(const boost::filesystem::path& file, logmgr& log)
    : m_file(file), m_log(log) {}

void devicedb_error_handler::report(const SAXParseException& exc, logmsg::msgtype type, int level) {
    logmsg header(modules::ZorView, type, level);
    header.setContext(m_file.string());
    header.setLine(static_cast<int>(exc.getLineNumber()));
    header.setColumn(static_cast<int>(exc.getColumnNumber()));
    m_log << header << devicedb::toString(exc.getMessage()) << logmgr::end;
}

void devicedb_error_handler::warning(const SAXParseException& exc) {
    report(exc, logmsg::msgtype::Warning, 2);
    ++m_warnings;
}

void devicedb_error_handler::error(const SAXParseException& exc) {
    report(exc, logmsg::msgtype::Error, 0);
    ++m_errors;
}

void devicedb_error_handler::fatalError(const SAXParseException& exc) {
    report(exc, logmsg::msgtype::Error, 0);
    ++m_errors;
}

void devicedb_error_handler::resetErrors() {
    m_warnings = 0;
    m_errors = 0;
}

// ---- platform ----------------------------------------------------------------------------

devicedb::xerces_platform::xerces_platform() {
    std::lock_guard<std::mutex> lock(platformMutex());
    try {
        XMLPlatformUtils::Initialize();
    } catch (const XMLException& e) {
        throw devmgr_exception(devmgr_exception::ERR_DATABASE,
                               fmt("Xerces XML reader initialization failed - {1}", toString(e.getMessage())));
    } catch (...) {
        throw devmgr_exception(devmgr_exception::ERR_DATABASE,
                               fmt("Xerces XML reader initialization failed - {1}", currentXercesText()));
    }
}

devicedb::xerces_platform::~xerces_platform() {
    std::lock_guard<std::mutex> lock(platformMutex());
    try {
        XMLPlatformUtils::Terminate();
    } catch (...) {
        // Nothing sensible is left to do while tearing down.
    }
}

// ---- conversions -------------------------------------------------------------------------

std::string devicedb::toString(const XMLCh* text) {
    if (!text || !*text) return std::string();
    TranscodeToStr utf8(text, "UTF-8");
    return std::string(reinterpret_cast<const char*>(utf8.str()), utf8.length());
}

uint16_t devicedb::toUInt16(const XMLCh* text) { return toUInt16(toString(text)); }

// Accepts what a base-16 strtoul accepts (leading blanks, a sign, "0x"), but never reads
// past the text and never overflows.
uint16_t devicedb::toUInt16(const std::string& s) {
    if (s.empty()) return 0;
    auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    size_t i = 0;
    while (i < s.size() && isSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') && digit(s[i + 2]) >= 0)
        i += 2;
    const size_t first = i;
    unsigned long value = 0;
    bool tooBig = false;
    for (; i < s.size() && digit(s[i]) >= 0; ++i) {
        value = value * 16 + static_cast<unsigned long>(digit(s[i]));
        if (value > 0xFFFF) {
            tooBig = true;
            value = 0x10000;
        }
    }
    if (i == first || i != s.size())
        throw devmgr_exception(devmgr_exception::ERR_DATABASE, HexFormatError);
    if (tooBig || (negative && value != 0))
        throw devmgr_exception(devmgr_exception::ERR_DATABASE, HexRangeError);
    return static_cast<uint16_t>(value);
}

// ---- loading -----------------------------------------------------------------------------

devicedb::devicedb(logmgr& log, const boost::filesystem::path& xmlFile,
                   const boost::filesystem::path& schemaFile)
    : m_log(log) {
    std::shared_ptr<XercesDOMParser> parser;
    try {
        parser = readXMLFile(xmlFile, schemaFile);
    } catch (const std::exception& e) {
        throw devmgr_exception(devmgr_exception::ERR_DATABASE,
                               fmt("XML reader initialization failed - {1}", e.what()));
    } catch (...) {
        throw devmgr_exception(devmgr_exception::ERR_DATABASE,
                               fmt("XML reader initialization failed - {1}", currentXercesText()));
    }
    DOMDocument* doc = parser->getDocument();
    if (!doc)
        throw devmgr_exception(devmgr_exception::ERR_DATABASE_LOAD, "Cannot load the device database file");
    try {
        extractDatabase(doc);
    } catch (const devmgr_exception&) {
        throw;
    } catch (const std::exception& e) {
        throw devmgr_exception(devmgr_exception::ERR_DATABASE, e.what());
    } catch (...) {
        throw devmgr_exception(devmgr_exception::ERR_DATABASE, currentXercesText());
    }
}

devicedb::~devicedb() = default;

std::shared_ptr<devicedb> devicedb::shared(logmgr& log, const boost::filesystem::path& xmlFile,
                                           const boost::filesystem::path& schemaFile) {
    static std::shared_ptr<devicedb> instance;
    // Held across the load: a second caller waits for the first load and then shares it.
    std::lock_guard<std::mutex> lock(g_shared_mutex);
    if (!instance) instance = std::make_shared<devicedb>(log, xmlFile, schemaFile);
    return instance;
}

std::shared_ptr<XercesDOMParser> devicedb::readXMLFile(const boost::filesystem::path& xmlFile,
                                                       const boost::filesystem::path& schemaFile) {
    // Fails for a missing schema before the XML file is touched.
    const boost::filesystem::path schema = boost::filesystem::canonical(schemaFile);
    const std::string schemaText = schema.string();

    auto session = std::make_shared<parse_session>(schemaText);
    std::shared_ptr<XercesDOMParser> parser(session, &session->parser);
    session->security.setEntityExpansionLimit(EntityExpansionLimit);
    parser->setSecurityManager(&session->security);
    parser->setXMLEntityResolver(&session->resolver);

    {
        // Schema problems are reported against the schema file.
        devicedb_error_handler schemaHandler(schema, m_log);
        parser->setErrorHandler(&schemaHandler);
        Grammar* grammar = nullptr;
        try {
            grammar = parser->loadGrammar(schemaText.c_str(), Grammar::SchemaGrammarType, false);
        } catch (const DOMException& e) {
            parser->setErrorHandler(nullptr);
            throw devmgr_exception(devmgr_exception::ERR_DATABASE,
                                   fmt("Error reading schema file - {1}", toString(e.getMessage())));
        } catch (...) {
            parser->setErrorHandler(nullptr);
            throw devmgr_exception(devmgr_exception::ERR_DATABASE,
                                   "Error reading schema file - " + currentXercesText());
        }
        parser->setErrorHandler(nullptr);
        if (!grammar || schemaHandler.getErrorCount() > 0 || schemaHandler.getWarningCount() > 0)
            throw devmgr_exception(devmgr_exception::ERR_DATABASE,
                                   "Error reading schema file - " +
                                       fmt("Error reading Device database file '{1}'", schemaFile.string()));
    }

    devicedb_error_handler handler(xmlFile, m_log);
    parser->setErrorHandler(&handler);
    parser->setValidationScheme(XercesDOMParser::Val_Always);
    parser->setDoNamespaces(true);
    parser->setDoSchema(true);
    parser->setValidationSchemaFullChecking(true);
    std::unique_ptr<XMLCh[], void (*)(XMLCh*)> loc(XMLString::transcode(schemaText.c_str()),
                                                   [](XMLCh* p) { XMLString::release(&p); });
    parser->setExternalNoNamespaceSchemaLocation(loc.get());

    try {
        parser->parse(xmlFile.string().c_str());
    } catch (const DOMException& e) {
        parser->setErrorHandler(nullptr);
        throw devmgr_exception(devmgr_exception::ERR_DATABASE,
                               fmt("Error reading XML file - {1}", toString(e.getMessage())));
    } catch (...) {
        parser->setErrorHandler(nullptr);
        throw devmgr_exception(devmgr_exception::ERR_DATABASE,
                               fmt("Error reading XML file - {1}", currentXercesText()));
    }
    // The handler dies with this scope; the parser must not keep pointing at it.
    parser->setErrorHandler(nullptr);
    if (handler.getWarningCount() > 0 || handler.getErrorCount() > 0)
        throw devmgr_exception(devmgr_exception::ERR_DATABASE,
                               fmt("Error reading Device database file '{1}'", xmlFile.string()));
    return parser;
}

DOMElement* devicedb::getDBNode(DOMElement* element, const std::string& name) {
    if (!element) return nullptr;
    for (DOMNode* n = element->getFirstChild(); n; n = n->getNextSibling())
        if (n->getNodeType() == DOMNode::ELEMENT_NODE && elementName(n) == name)
            return static_cast<DOMElement*>(n);
    return nullptr;
}

void devicedb::extractDatabase(DOMDocument* doc) {
    for (DOMNode* n = doc->getFirstChild(); n; n = n->getNextSibling()) {
        if (n->getNodeType() != DOMNode::ELEMENT_NODE || elementName(n) != DeviceDBElemName) continue;
        auto* db = static_cast<DOMElement*>(n);
        if (toUInt16(db->getAttribute(MajorAttrName)) == 0)
            throw devmgr_exception(devmgr_exception::ERR_DATABASE, "Invalid database version");
        // Configurations refer to categories and kits by name: those load first.
        extractPropsList(db);
        extractKitList(db);
        extractDeviceList(db);
    }
}

void devicedb::logListError(const char* prefix, const std::exception& e, bool deviceMgrError) {
    m_log << logmsg(modules::Devmgr, logmsg::msgtype::Error, 0)
          << (deviceMgrError ? std::string(prefix) : std::string("Error =  ")) << e.what() << logmgr::end;
}

// Each list contains its own failures: what was read before the bad element stays, and
// loading goes on with the next list.
template <typename Body>
void devicedb::containList(const char* prefix, Body body) {
    try {
        body();
    } catch (const devmgr_exception& e) {
        logListError(prefix, e, true);
    } catch (const std::exception& e) {
        logListError(prefix, e, false);
    } catch (...) {
        logListError(prefix, std::runtime_error(currentXercesText()), false);
    }
}

void devicedb::extractPropsList(DOMElement* db) {
    DOMElement* props = getDBNode(db, PropsElemName);
    if (!props) return;
    containList("", [&] {
        for (DOMNode* n = props->getFirstChild(); n; n = n->getNextSibling())
            if (n->getNodeType() == DOMNode::ELEMENT_NODE && elementName(n) == CategoryElemName)
                extractProp(static_cast<DOMElement*>(n));
    });
}

void devicedb::extractProp(DOMElement* category) {
    const std::string name = toString(category->getAttribute(NameAttrName));
    pair_list values;
    for (DOMNode* n = category->getFirstChild(); n; n = n->getNextSibling()) {
        if (n->getNodeType() != DOMNode::ELEMENT_NODE || elementName(n) != PropElemName) continue;
        auto* prop = static_cast<DOMElement*>(n);
        values.emplace_back(toString(prop->getAttribute(NameAttrName)), toString(prop->getAttribute(ValueAttrName)));
    }
    m_prop_categories[name] = std::move(values);
}

void devicedb::extractKitList(DOMElement* db) {
    DOMElement* kits = getDBNode(db, KitsElemName);
    if (!kits) return;
    containList("Error processing 'kit' elements in device database - ", [&] {
        for (DOMNode* n = kits->getFirstChild(); n; n = n->getNextSibling()) {
            if (n->getNodeType() != DOMNode::ELEMENT_NODE || elementName(n) != KitElemName) continue;
            auto* kit = static_cast<DOMElement*>(n);
            m_kit_list.emplace_back(toString(kit->getAttribute(NameAttrName)),
                                    toString(kit->getAttribute(ValueAttrName)));
        }
    });
}

void devicedb::extractDeviceList(DOMElement* db) {
    DOMElement* devices = getDBNode(db, DevicesElemName);
    if (!devices) return;
    containList("Error processing 'device' elements in device database - ", [&] {
        for (DOMNode* n = devices->getFirstChild(); n; n = n->getNextSibling())
            if (n->getNodeType() == DOMNode::ELEMENT_NODE && elementName(n) == DeviceElemName)
                extractDevice(static_cast<DOMElement*>(n));
    });
}

void devicedb::extractDevice(DOMElement* element) {
    auto device = std::make_shared<devicedb_device>(toString(element->getAttribute(NameAttrName)));
    for (DOMNode* n = element->getFirstChild(); n; n = n->getNextSibling())
        if (n->getNodeType() == DOMNode::ELEMENT_NODE && elementName(n) == ConfigurationElemName)
            extractConfigurations(device, static_cast<DOMElement*>(n));
    // Only a device whose every configuration was read is published.
    m_devices.push_back(device);
}

void devicedb::extractConfigurations(const std::shared_ptr<devicedb_device>& device, DOMElement* element) {
    std::string name = toString(element->getAttribute(NameAttrName));
    std::string shortName = toString(element->getAttribute(ShortNameAttrName));
    const uint16_t vid = toUInt16(element->getAttribute(VidAttrName));
    const uint16_t pid = toUInt16(element->getAttribute(PidAttrName));
    std::string protocol = toString(element->getAttribute(ProtocolAttrName));
    const uint16_t ifs = toUInt16(element->getAttribute(IfsAttrName));
    const auto platformId = static_cast<unsigned char>(toUInt16(element->getAttribute(PlatformIdName)) & 0xFF);

    std::map<std::string, std::string> props;
    const std::string category = toString(element->getAttribute(PropsAttrName));
    if (!category.empty()) {
        auto it = m_prop_categories.find(category);
        if (it != m_prop_categories.end())
            for (const auto& p : it->second) props[p.first] = p.second;
    }
    std::string kitText;
    const std::string kit = toString(element->getAttribute(KitsAttrName));
    if (!kit.empty()) {
        for (const auto& k : m_kit_list)
            if (k.first == kit) {
                kitText = k.second;
                break;
            }
    }
    device->addConfig(std::make_shared<devicedb_config>(device.get(), std::move(name), std::move(shortName), vid,
                                                        pid, std::move(protocol), ifs, platformId, std::move(props),
                                                        std::move(kitText)));
}

// ---- lookups -----------------------------------------------------------------------------

template <typename Lookup>
devicedb::config_ptr devicedb::findFirst(Lookup lookup) const {
    for (const auto& d : m_devices)
        if (auto c = lookup(*d)) return c;
    return nullptr;
}

devicedb::config_ptr devicedb::getHIDConfig(unsigned short vid, unsigned short pid, unsigned short ifs) const {
    return findFirst([&](const devicedb_device& d) { return d.getHidByVidPidIfs(vid, pid, ifs); });
}

devicedb::config_ptr devicedb::getBulkConfig(unsigned short vid, unsigned short pid) const {
    return findFirst([&](const devicedb_device& d) { return d.getBulkByVidPid(vid, pid); });
}

devicedb::config_ptr devicedb::getBulkConfigEx(unsigned short vid, unsigned short pid, int ifs) const {
    return findFirst([&](const devicedb_device& d) { return d.getBulkByVidPidIfs(vid, pid, ifs); });
}

devicedb::config_ptr devicedb::getSerialConfig(unsigned short vid, unsigned short pid) const {
    return findFirst([&](const devicedb_device& d) { return d.getSerialByVidPid(vid, pid); });
}

devicedb::config_ptr devicedb::getSerialConfigWithPlatfId(unsigned short vid, unsigned short pid,
                                                          unsigned char platf) const {
    return findFirst([&](const devicedb_device& d) { return d.getSerialByVidPidPlatfid(vid, pid, platf); });
}

}  // namespace morvane::devices
