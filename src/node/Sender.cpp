#include "Sender.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <vector>

#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/scu.h>

#include "Log.h"

namespace orvix::node {
namespace {

namespace fs = std::filesystem;

constexpr int kLongestPause = 60;  // seconds

// C-STORE response statuses that mean the object is kept: success and the warnings
// (coercion of data elements, elements discarded, data set does not match the SOP class).
bool acknowledged(Uint16 status) {
    return status == 0x0000 || status == 0xB000 || status == 0xB006 || status == 0xB007;
}

const char* sopClassOf(const std::string& name) {
    return name.ends_with(".sr.dcm") ? UID_ComprehensiveSRStorage : UID_SecondaryCaptureImageStorage;
}

}  // namespace

Sender::Sender(std::string aet, Peer peer, Spool& spool, bool deleteAfterSend)
    : aet_(std::move(aet)), peer_(std::move(peer)), spool_(spool), deleteAfterSend_(deleteAfterSend) {}

void Sender::wake() {
    {
        const std::lock_guard lock(mutex_);
        woken_ = true;
    }
    changed_.notify_all();
}

void Sender::sleep(const std::atomic<bool>& stop, int seconds, bool untilWoken) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::unique_lock lock(mutex_);
    // Stop is set from another thread without this mutex: look at it every few tenths.
    while (!stop.load() && !(untilWoken && woken_) && std::chrono::steady_clock::now() < until)
        changed_.wait_for(lock, std::chrono::milliseconds(200));
    woken_ = false;
}

void Sender::run(const std::atomic<bool>& stop) {
    int pause = 0;
    while (!stop.load()) {
        if (deliver(stop)) {
            pause = 0;
            sleep(stop, 5, true);
        } else {
            pause = std::min(kLongestPause, std::max(1, 2 * pause));
            Log(Level::Info) << "next delivery to " << peer_.text() << " in " << pause << " s";
            sleep(stop, pause, false);
        }
    }
}

bool Sender::deliver(const std::atomic<bool>& stop) {
    std::vector<std::pair<fs::file_time_type, std::string>> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(spool_.outbox(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name[0] != '.' && name.ends_with(".dcm") && entry.is_regular_file(ec))
            found.emplace_back(entry.last_write_time(ec), name);
    }
    if (ec) {
        Log(Level::Error) << "cannot list " << spool_.outbox().string() << ": " << ec.message();
        return false;
    }
    if (found.empty()) return true;
    std::sort(found.begin(), found.end());

    DcmSCU scu;
    scu.setAETitle(aet_.c_str());
    scu.setPeerAETitle(peer_.aet.c_str());
    scu.setPeerHostName(peer_.host.c_str());
    scu.setPeerPort(peer_.port);
    scu.setConnectionTimeout(10);
    scu.setACSETimeout(30);
    scu.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    scu.setDIMSETimeout(60);
    OFList<OFString> syntaxes;
    syntaxes.push_back(UID_LittleEndianExplicitTransferSyntax);
    syntaxes.push_back(UID_LittleEndianImplicitTransferSyntax);
    scu.addPresentationContext(UID_ComprehensiveSRStorage, syntaxes);
    scu.addPresentationContext(UID_SecondaryCaptureImageStorage, syntaxes);
    OFCondition cond = scu.initNetwork();
    if (cond.good()) cond = scu.negotiateAssociation();
    if (cond.bad()) {
        Log(Level::Warning) << found.size() << " result object(s) not delivered: " << peer_.text() << ": "
                            << cond.text();
        return false;
    }
    bool all = true;
    for (const auto& [time, name] : found) {
        if (stop.load()) {
            all = false;
            break;
        }
        const T_ASC_PresentationContextID context = scu.findPresentationContextID(sopClassOf(name), "");
        Uint16 status = 0;
        const fs::path path = spool_.published(name);
        cond =
            context == 0 ? OFCondition(EC_IllegalCall) : scu.sendSTORERequest(context, path.c_str(), nullptr, status);
        if (cond.good() && acknowledged(status)) {
            delivered(name);
            continue;
        }
        all = false;
        if (cond.bad()) {
            Log(Level::Warning) << name << " not delivered to " << peer_.text() << ": " << cond.text();
            break;  // the association is gone
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X", status);
        Log(Level::Warning) << name << " not delivered to " << peer_.text() << ": refused with status 0x" << hex;
    }
    if (scu.isConnected()) scu.releaseAssociation();
    return all;
}

void Sender::delivered(const std::string& name) {
    const fs::path path = spool_.published(name);
    Log(Level::Info) << "delivered " << name << " to " << peer_.text();
    if (!deleteAfterSend_) {
        if (auto moved = moveDurably(path, spool_.sent() / name); !moved) Log(Level::Error) << moved.error().message;
        return;
    }
    std::error_code ec;
    fs::remove(path, ec);
    // The film goes with its last result: none of its objects left, published or staged.
    const std::string film = filmOfObject(name);
    for (const auto& entry : fs::directory_iterator(spool_.outbox(), ec)) {
        const std::string other = entry.path().filename().string();
        if (filmOfObject(other) == film) return;
    }
    fs::remove(spool_.done(film), ec);
    Log(Level::Info) << "deleted " << film << " and its results: delivered";
}

}  // namespace orvix::node
