#pragma once
// Text for numbers and lists as the console, the report and the batch tool show them.
// Never localised; depends on nothing else in the core.

#include <map>
#include <set>
#include <string>

namespace orvix {

// The shortest decimal text that reads back as the same double: plain decimal with at
// least one fractional digit from 0.0001 up to 2^53 ("0.0", "100.0", "98.76543283462524"),
// exponent form otherwise ("5e-05", "1.25e-05", "1e+16"). Never localised.
std::string describeDouble(double value);

// ["a": 0.5, "b": 0.5] and [:] for none; labels in sorted order.
std::string describeProbabilities(const std::map<std::string, double>& probabilities);
// ["a", "b"] and [] for none.
std::string describeNames(const std::set<std::string>& names);

}  // namespace orvix
