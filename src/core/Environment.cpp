#include "orvix/Environment.h"

#include <cstdlib>

namespace orvix {

std::optional<std::string> processEnvironment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr || *value == '\0') return std::nullopt;
    return value;
}

}  // namespace orvix
