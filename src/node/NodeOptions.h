#pragma once
// Command line and configuration file of orvix-node.
//
// The file (/etc/orvix/node.conf when present, or --config FILE) holds one setting a line,
// named as the long options without their dashes:
//
//   # comments and blank lines are ignored
//   aet = ORVIX
//   port = 11112
//   spool = /var/lib/orvix-node
//   allow = MODALITY1          (one line per calling AE title)
//   send-to = PACS@pacs.example.org:104
//   delete-after-send = yes    (yes / no)
//
// A setting given on the command line replaces the file's (for allow, all of the file's).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "orvix/Result.h"

namespace orvix::node {

// Where results are sent: AE title, host, port.
struct Peer {
    std::string aet, host;
    std::uint16_t port = 0;

    std::string text() const;  // "AET@HOST:PORT"
};

struct NodeOptions {
    std::string aet;
    std::optional<std::uint16_t> port;
    std::filesystem::path spool;
    std::vector<std::string> allow;  // calling AE titles allowed to associate; any when empty
    std::string bind;                // the IPv4 address to listen on; all interfaces when empty
    std::optional<Peer> sendTo;
    std::optional<std::filesystem::path> reportsDir;
    unsigned jobs = 1;  // films screened at once
    bool deleteAfterSend = false;
    bool check = false;  // validate the configuration and exit
    std::optional<std::filesystem::path> config;
    bool help = false;
    bool version = false;
};

inline constexpr const char* kDefaultConfig = "/etc/orvix/node.conf";

// Parses "AET@HOST:PORT"; the error names what is wrong.
Result<Peer> parsePeer(const std::string& text);

// Whether text is a valid AE title: 1 to 16 characters of printable ASCII but backslash, not
// all spaces.
bool isAeTitle(const std::string& text);

// Reads argv; then the configuration file (--config FILE, else defaultConfig when it exists)
// beneath it; then checks that the settings make a node (an AE title, a port, a spool
// folder; --delete-after-send only with --send-to). Returns the usage error.
std::optional<std::string> parseNodeOptions(int argc, char** argv, NodeOptions& options,
                                            const std::filesystem::path& defaultConfig = kDefaultConfig);

std::string usageText();

}  // namespace orvix::node
