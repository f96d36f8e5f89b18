#include "orvix/DicomIdentity.h"

#include <array>
#include <vector>

#include "orvix/Utf8.h"

namespace orvix {
namespace {

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isSpace(char32_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == 0x85 || c == 0xA0 ||
           c == 0x2028 || c == 0x2029 || c == 0x3000;
}

// Characters that would change how the rest of a line looks or reads: controls, and the marks
// that reorder text (a name could otherwise show another name's letters in reverse).
bool isHidden(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

}  // namespace

std::string displayText(std::string_view bytes, std::size_t maxCharacters) {
    std::string out;
    std::size_t characters = 0;
    bool pendingSpace = false;
    for (std::size_t i = 0; i < bytes.size();) {
        const Utf8Character next = utf8CharacterAt(bytes, i);
        const char32_t c = next.length == 0 ? char32_t{0xFFFD} : next.codePoint;
        i += next.length == 0 ? 1 : next.length;
        if (isSpace(c)) {
            pendingSpace = !out.empty();
            continue;
        }
        if (isHidden(c)) continue;
        if (characters + (pendingSpace ? 1 : 0) >= maxCharacters) {
            out += "\u2026";
            return out;
        }
        if (pendingSpace) {
            out += ' ';
            ++characters;
            pendingSpace = false;
        }
        appendUtf8(out, c);
        ++characters;
    }
    return out;
}

std::string readablePersonName(std::string_view personName) {
    // The first component group that names anyone: alphabetic, else ideographic, else phonetic.
    std::string_view group;
    for (std::size_t start = 0;;) {
        const std::size_t end = personName.find('=', start);
        group = personName.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (group.find_first_not_of(" ^") != std::string_view::npos || end == std::string_view::npos) break;
        start = end + 1;
    }
    std::array<std::string, 5> parts;  // family, given, middle, prefix, suffix
    for (std::size_t i = 0, start = 0; i < parts.size() && start <= group.size(); ++i) {
        const std::size_t end = i + 1 < parts.size() ? group.find('^', start) : std::string_view::npos;
        // A sixth component has no place in the name: it stays with the suffix, as text.
        parts[i] =
            displayText(group.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start),
                        group.size() + 1);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    const auto& [family, given, middle, prefix, suffix] = parts;
    std::string forenames;
    for (const std::string* part : {&prefix, &given, &middle}) {
        if (part->empty()) continue;
        if (!forenames.empty()) forenames += ' ';
        forenames += *part;
    }
    std::string name = family;
    if (!forenames.empty()) name += (name.empty() ? "" : ", ") + forenames;
    if (!suffix.empty()) name += (name.empty() ? "" : ", ") + suffix;
    return displayText(name);
}

std::string readableDate(std::string_view date) {
    const auto digits = [&](std::size_t from, std::size_t count) {
        for (std::size_t i = from; i < from + count; ++i)
            if (date[i] < '0' || date[i] > '9') return false;
        return true;
    };
    while (!date.empty() && date.back() == ' ') date.remove_suffix(1);
    if (date.size() == 8 && digits(0, 8))
        return std::string(date.substr(0, 4)) + '-' + std::string(date.substr(4, 2)) + '-' +
               std::string(date.substr(6, 2));
    if (date.size() == 10 && date[4] == '.' && date[7] == '.' && digits(0, 4) && digits(5, 2) && digits(8, 2))
        return std::string(date.substr(0, 4)) + '-' + std::string(date.substr(5, 2)) + '-' +
               std::string(date.substr(8, 2));
    return displayText(date);
}

std::string identityLine(const DicomIdentity& identity) {
    const std::vector<std::pair<const char*, const std::string*>> parts{
        {"", &identity.patientName},      {"ID ", &identity.patientId},    {"born ", &identity.birthDate},
        {"sex ", &identity.sex},          {"study ", &identity.studyDate}, {"accession ", &identity.accessionNumber},
        {"view ", &identity.viewPosition}};
    std::string line;
    for (const auto& [label, value] : parts) {
        if (value->empty()) continue;
        if (!line.empty()) line += " \u00b7 ";
        line += label + *value;
    }
    return line;
}

std::string patientSummary(const DicomIdentity& identity) {
    const std::string id = identity.patientId.empty() ? "" : "ID " + identity.patientId;
    if (identity.patientName.empty()) return id;
    return id.empty() ? identity.patientName : identity.patientName + " (" + id + ")";
}

}  // namespace orvix
