#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace morvane::pgmfile {

// Every failure to read or assemble a firmware image.
class pgmfile_exception : public std::exception {
public:
    explicit pgmfile_exception(const char* message) : m_message(message) {}
    explicit pgmfile_exception(const std::string& message) : m_message(message) {}

    const char* what() const noexcept override { return m_message.what(); }

private:
    std::runtime_error m_message;  // copying it never throws
};

}  // namespace morvane::pgmfile
