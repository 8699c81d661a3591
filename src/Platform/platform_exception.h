#pragma once

#include "Pavix/export.h"

#include <exception>
#include <string>

namespace morvane::platform {

// Failure of a host query.
class PAVIX_EXPORT platform_exception : public std::exception {
public:
    explicit platform_exception(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

}  // namespace morvane::platform
