#pragma once
// The spool folder of orvix-node: what it received, what it answered, what it still has to
// send. Nothing is kept elsewhere, so that a node stopped at any moment (kill -9, power loss)
// resumes from the folder alone.
//
//   DIR/<SOP Instance UID>.dcm           a film received and not yet screened
//   DIR/done/<SOP Instance UID>.dcm      a film screened (the user's archive)
//   DIR/results.jsonl                    one line per film screened: the commit of its screening
//   DIR/outbox/<film UID>.sr.dcm         a result object to send (.sc.dcm: the secondary capture)
//   DIR/outbox/.<film UID>.sr.dcm.staged  a result written before its screening was committed
//   DIR/sent/                            result objects delivered
//
// A film's screening is committed by its line in results.jsonl: before it, its staged results
// are thrown away and it is screened again; after it, the staged results are published and the
// film moved to done/, however often that is resumed. Every file is written under a temporary
// name, flushed to disk and renamed, and the folder flushed, before anything relies on it.

#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "orvix/Result.h"

class DcmFileFormat;

namespace orvix::node {

// Whether text can name a spool file: a UID of digits and dots, at most 64 characters.
bool isUid(std::string_view text);

// The film a result object belongs to: "<film UID>.sr.dcm" and ".<film UID>.sr.dcm.staged" -> "<film UID>".
std::string filmOfObject(std::string_view name);

// Writes the file (its meta header made to match, in transfer syntax xfer, which is an
// E_TransferSyntax) to a temporary name beside target, flushes it, renames it to target and
// flushes the folder. Fails naming target and the reason, leaving no temporary file behind.
Status saveDicomDurably(DcmFileFormat& file, int xfer, const std::filesystem::path& target);

// rename(from, to) followed by a flush of both folders. Fails naming both.
Status moveDurably(const std::filesystem::path& from, const std::filesystem::path& to);

class Spool {
public:
    // What open makes of the folder: the node's whole spool, or only its root for a receiver that
    // keeps the films and answers nothing (the window's Receive from PACS): no subfolder is made
    // and results.jsonl is not read, so that every film counts as not yet screened.
    enum class Layout { Node, FilmsOnly };

    // Creates the folders when missing, removes temporary files a stop left behind, cuts off a
    // last line of results.jsonl that a stop cut short, and reads which films it answers.
    // Fails naming the folder or file and the reason.
    static Result<Spool> open(const std::filesystem::path& dir, Layout layout = Layout::Node);

    const std::filesystem::path& dir() const { return dir_; }
    std::filesystem::path film(const std::string& uid) const { return dir_ / (uid + ".dcm"); }
    std::filesystem::path done(const std::string& uid) const { return dir_ / "done" / (uid + ".dcm"); }
    std::filesystem::path outbox() const { return dir_ / "outbox"; }
    std::filesystem::path sent() const { return dir_ / "sent"; }
    std::filesystem::path resultsFile() const { return dir_ / "results.jsonl"; }
    // A result object's staged name in the outbox, and the name it is published under.
    std::filesystem::path staged(const std::string& name) const { return outbox() / ("." + name + ".staged"); }
    std::filesystem::path published(const std::string& name) const { return outbox() / name; }

    // The films waiting in the spool, oldest first.
    std::vector<std::string> pending() const;

    // Whether results.jsonl holds the film's line.
    bool screened(const std::string& uid) const;

    // Appends one line (without its line feed), flushed to disk, and records the film as
    // screened. Refused for a line feed inside the line.
    Status commit(const std::string& uid, std::string_view line);

    // Publishes the film's staged results (when committed) or removes them (when not).
    // Returns the names published.
    std::vector<std::string> settleStaged(const std::string& uid);

    // The staged results of films that are no longer in the spool's root: published when
    // their film is committed, removed otherwise (a stop between commit and publication).
    std::vector<std::string> settleOrphans();

    Spool(Spool&& other) noexcept;
    Spool& operator=(Spool&&) = delete;
    Spool(const Spool&) = delete;

private:
    Spool() = default;
    std::filesystem::path dir_;
    mutable std::mutex mutex_;
    std::set<std::string> screened_;
};

}  // namespace orvix::node
