#pragma once
// Environment variables are read at the edges only: a function whose answer depends on them
// takes a lookup, and a wrapper without one passes the process's own environment. Tests pass
// their values in instead of changing the process's environment.

#include <functional>
#include <optional>
#include <string>

namespace orvix {

using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;

// The process's environment; a variable set to the empty string counts as unset.
std::optional<std::string> processEnvironment(const std::string& name);

}  // namespace orvix
