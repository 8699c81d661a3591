#pragma once

#include <exception>
#include <sstream>
#include <stdexcept>
#include <string>

namespace morvane::devicemgrapi {

// The one exception type of the device layer. The Bridge API maps the code to a public
// status; codes it does not map become "execution error".
class devmgr_exception : public std::exception {
public:
    enum ErrorCode : int {
        ERR_INVALID_VALUE = 1,
        ERR_LIBRARY_INIT = 2,
        ERR_OPEN_STATE = 3,
        ERR_PATH_TOO_LONG = 4,
        ERR_IO = 5,
        ERR_TIMEOUT = 6,
        ERR_PIPE = 7,
        ERR_NO_DEVICE = 8,
        ERR_OTHER_USB = 9,
        ERR_NO_MEMORY = 10,
        ERR_OPEN = 11,
        ERR_BUFFER_SIZE = 12,
        ERR_OVERFLOW = 13,
        ERR_BUSY = 14,
        ERR_NO_INTERFACE = 15,
        ERR_NOT_OPEN = 16,
        ERR_ALREADY_ENABLED = 17,
        ERR_CLAIM = 20,
        ERR_CANCELLED = 26,
        ERR_MALFORMED_DEVICE = 27,
        ERR_BAD_RESPONSE = 28,
        ERR_DATABASE = 30,
        ERR_INVALID_ARGUMENT = 32,
        ERR_INVALID_REQUEST = 33,
        ERR_COMMAND_FAILED = 34,
        ERR_NOT_SUPPORTED = 35,
        ERR_DATABASE_LOAD = 37,
        ERR_UNSUPPORTED_VALUE = 40,
        ERR_PROTOCOL_NOT_SUPPORTED = 41,
        ERR_NO_CONFIGURATION = 42,
        ERR_UPGRADE_REQUIRED = 44,
        ERR_NOT_FOUND = 45,
        ERR_POWER = 46,
        ERR_FILE_CONTENT = 47,
    };

    devmgr_exception(ErrorCode code, const std::string& message) : m_message(message), m_code(code) {}
    devmgr_exception(ErrorCode code, const std::stringstream& message)
        : m_message(message.str()), m_code(code) {}

    const char* what() const noexcept override { return m_message.what(); }
    ErrorCode getErrorCode() const noexcept { return m_code; }

private:
    std::runtime_error m_message;
    ErrorCode m_code;
};

}  // namespace morvane::devicemgrapi
