#include "NodeOptions.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>
#include <set>

namespace orvix::node {
namespace {

// The settings as given, before they are checked: one entry per occurrence.
using Settings = std::vector<std::pair<std::string, std::string>>;

const std::set<std::string> kValued = {"aet", "port", "spool", "allow", "bind", "send-to", "reports", "jobs"};
const std::set<std::string> kFlags = {"delete-after-send"};

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

template <class T>
std::optional<T> number(const std::string& text, T low, T high) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
    return value;
}

std::optional<std::string> readConfig(const std::filesystem::path& file, Settings& settings) {
    std::ifstream in(file);
    if (!in) return "cannot read " + file.string();
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        const auto eq = line.find('=');
        const std::string where = file.string() + ":" + std::to_string(number) + ": ";
        if (eq == std::string::npos) return where + "expected NAME = VALUE, not " + line;
        const std::string name = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
        if (kFlags.count(name)) {
            if (value != "yes" && value != "no") return where + name + " needs yes or no, not " + value;
            if (value == "yes") settings.emplace_back(name, "");
        } else if (kValued.count(name)) {
            settings.emplace_back(name, value);
        } else {
            return where + "unknown setting " + name;
        }
    }
    return std::nullopt;
}

std::optional<std::string> applySettings(const Settings& settings, NodeOptions& options) {
    for (const auto& [name, value] : settings) {
        if (name == "aet") {
            if (!isAeTitle(value)) return "--aet needs an AE title (1 to 16 characters), not '" + value + "'";
            options.aet = value;
        } else if (name == "port") {
            const auto port = number<std::uint16_t>(value, 1, 65535);
            if (!port) return "--port needs a number from 1 to 65535, not " + value;
            options.port = *port;
        } else if (name == "spool") {
            if (value.empty()) return "--spool needs a folder";
            options.spool = value;
        } else if (name == "allow") {
            if (!isAeTitle(value)) return "--allow needs an AE title (1 to 16 characters), not '" + value + "'";
            options.allow.push_back(value);
        } else if (name == "bind") {
            // DCMTK 3.6.7 accepts IPv4 connections only.
            unsigned char address[4];
            if (::inet_pton(AF_INET, value.c_str(), address) != 1)
                return "--bind needs a numeric IPv4 address, not '" + value + "'";
            options.bind = value;
        } else if (name == "send-to") {
            auto peer = parsePeer(value);
            if (!peer) return "--send-to: " + peer.error().message;
            options.sendTo = *peer;
        } else if (name == "reports") {
            if (value.empty()) return "--reports needs a folder";
            options.reportsDir = value;
        } else if (name == "jobs") {
            const auto jobs = number<unsigned>(value, 1, 64);
            if (!jobs) return "--jobs needs a number from 1 to 64, not " + value;
            options.jobs = *jobs;
        } else if (name == "delete-after-send") {
            options.deleteAfterSend = true;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string Peer::text() const { return aet + "@" + host + ":" + std::to_string(port); }

bool isAeTitle(const std::string& text) {
    if (text.empty() || text.size() > 16 || text.find_first_not_of(' ') == std::string::npos) return false;
    for (const char c : text)
        if (c < 0x20 || c > 0x7e || c == '\\') return false;
    return true;
}

Result<Peer> parsePeer(const std::string& text) {
    const auto at = text.find('@'), colon = text.rfind(':');
    if (at == std::string::npos || colon == std::string::npos || colon < at)
        return Error{"expected AET@HOST:PORT, not " + text};
    Peer peer{text.substr(0, at), text.substr(at + 1, colon - at - 1), 0};
    if (!isAeTitle(peer.aet)) return Error{"'" + peer.aet + "' is not an AE title (1 to 16 characters)"};
    if (peer.host.empty()) return Error{"no host in " + text};
    const auto port = number<std::uint16_t>(text.substr(colon + 1), 1, 65535);
    if (!port) return Error{"the port of " + text + " is not a number from 1 to 65535"};
    peer.port = *port;
    return peer;
}

std::optional<std::string> parseNodeOptions(int argc, char** argv, NodeOptions& options,
                                            const std::filesystem::path& defaultConfig) {
    Settings flags;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") options.help = true;
        else if (arg == "--version") options.version = true;
        else if (arg == "--check") options.check = true;
        else if (arg.rfind("--", 0) == 0 && kFlags.count(arg.substr(2))) flags.emplace_back(arg.substr(2), "");
        else if (arg.rfind("--", 0) == 0 && (kValued.count(arg.substr(2)) || arg == "--config")) {
            if (i + 1 >= argc) return arg + " needs a value";
            if (arg == "--config") options.config = argv[++i];
            else flags.emplace_back(arg.substr(2), argv[++i]);
        } else {
            return "unknown argument " + arg;
        }
    }
    if (options.help || options.version) return std::nullopt;

    Settings settings;
    std::error_code ec;
    if (options.config) {
        if (auto error = readConfig(*options.config, settings)) return error;
    } else if (std::filesystem::exists(defaultConfig, ec)) {
        if (auto error = readConfig(defaultConfig, settings)) return error;
    }
    // The command line's allow list replaces the file's rather than adding to it.
    const bool flagsAllow = std::any_of(flags.begin(), flags.end(), [](const auto& s) { return s.first == "allow"; });
    if (flagsAllow) std::erase_if(settings, [](const auto& s) { return s.first == "allow"; });
    settings.insert(settings.end(), flags.begin(), flags.end());
    if (auto error = applySettings(settings, options)) return error;

    if (options.aet.empty()) return "no AE title: give --aet AET";
    if (!options.port) return "no port: give --port PORT";
    if (options.spool.empty()) return "no spool folder: give --spool DIR";
    if (options.deleteAfterSend && !options.sendTo)
        return "--delete-after-send needs --send-to: without a destination no result is ever acknowledged";
    return std::nullopt;
}

std::string usageText() {
    return "Usage: orvix-node --aet AET --port PORT --spool DIR [options]\n"
           "A DICOM node: receives films (C-STORE), screens each for pneumonia as orvix-screen does, and answers\n"
           "with a structured report and a secondary capture of the heatmap. Not for diagnostic use.\n"
           "\n"
           "  --aet AET              this node's AE title\n"
           "  --port PORT            the port to listen on\n"
           "  --spool DIR            where received films, results and outgoing objects are kept\n"
           "  --allow AET            a calling AE title that may send (repeatable); any when none is given\n"
           "  --bind ADDR            listen on this IPv4 address only (all interfaces by default)\n"
           "  --send-to AET@HOST:PORT  send the results there by C-STORE\n"
           "  --reports DIR          also write each film's plain-text report into DIR\n"
           "  --jobs N               screen N films at once (1 by default)\n"
           "  --delete-after-send    delete a film and its results once the results were delivered\n"
           "  --config FILE          read settings from FILE (default /etc/orvix/node.conf when present)\n"
           "  --check                check the configuration and the models, then exit\n"
           "  --help                 show this help and exit\n"
           "  --version              show the version and exit\n";
}

}  // namespace orvix::node
