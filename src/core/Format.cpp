#include "orvix/Format.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace orvix {
namespace {

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string describeDouble(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";

    // Shortest round-trip digits and the decimal exponent, then laid out by hand.
    char buf[64];
    const auto end = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific).ptr;
    const std::string sci(buf, end);  // d.ddde±xx
    const auto e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.') digits += c;
    const int exponent = std::atoi(sci.c_str() + e + 1);
    const auto count = static_cast<int>(digits.size());

    std::string out;
    const double magnitude = std::fabs(value);
    if (magnitude < 1e-4 || magnitude >= 9007199254740992.0) {  // below 0.0001 or from 2^53 up
        out = digits.substr(0, 1);
        if (count > 1) out += "." + digits.substr(1);
        const std::string exp = std::to_string(std::abs(exponent));
        out += std::string("e") + (exponent < 0 ? "-" : "+") + (exp.size() < 2 ? "0" : "") + exp;
    } else if (exponent >= 0) {
        if (count <= exponent + 1)
            out = digits + std::string(static_cast<std::size_t>(exponent + 1 - count), '0') + ".0";
        else
            out = digits.substr(0, static_cast<std::size_t>(exponent + 1)) + "." +
                  digits.substr(static_cast<std::size_t>(exponent + 1));
    } else {
        out = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    return (value < 0 ? "-" : "") + out;
}

std::string describeProbabilities(const std::map<std::string, double>& probabilities) {
    if (probabilities.empty()) return "[:]";
    std::string out = "[";
    for (const auto& [label, p] : probabilities) {
        if (out.size() > 1) out += ", ";
        out += quoted(label) + ": " + describeDouble(p);
    }
    return out + "]";
}

std::string describeNames(const std::set<std::string>& names) {
    std::string out = "[";
    for (const auto& name : names) {
        if (out.size() > 1) out += ", ";
        out += quoted(name);
    }
    return out + "]";
}

}  // namespace orvix
