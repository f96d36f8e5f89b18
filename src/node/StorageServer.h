#pragma once
// orvix-node's Storage SCP: accepts associations on a port (of every interface, or of one
// address), one thread per association, each a DCMTK DcmThreadSCP. It answers C-ECHO, and
// C-STORE of CR, DX (for presentation and for processing) and Secondary Capture films in the
// transfer syntaxes the core decodes (implicit and explicit little endian, explicit big endian,
// RLE, JPEG baseline, extended and lossless, JPEG-LS, JPEG 2000). A calling AE title that is not
// allowed is refused at association (A-ASSOCIATE-RJ) and logged.
//
// A film is written to the spool (its calling AE title in the meta header's Source Application
// Entity Title) and flushed to disk before the C-STORE response says success; a film the spool
// already screened is answered with success and not kept again. onStored then gets its SOP
// Instance UID, on the association's thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Spool.h"
#include "orvix/Result.h"

namespace orvix::node {

struct ServerSettings {
    std::string aet;
    std::uint16_t port = 0;
    std::string bind;                // "" for every interface
    std::vector<std::string> allow;  // any calling AE title when empty
    unsigned maxAssociations = 16;   // more at once are refused (local limit exceeded)
};

class StorageServer {
public:
    StorageServer(ServerSettings settings, Spool& spool, std::function<void(const std::string&)> onStored);
    ~StorageServer();
    StorageServer(const StorageServer&) = delete;
    StorageServer& operator=(const StorageServer&) = delete;

    // Opens the listening socket. Fails naming the address and port and the reason.
    Status open();

    // Accepts associations until stop is set (looked at every second), then waits for the
    // associations in progress to end.
    void run(const std::atomic<bool>& stop);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvix::node
