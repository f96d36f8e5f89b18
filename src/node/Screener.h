#pragma once
// Screens the films of the spool on worker threads, one DiagnosisState (its own models) per
// worker, exactly as orvix-screen screens a file (cli::analysePicture). For each film, in
// order: its result objects are staged in the outbox; its line (orvix-screen's --json row with
// sopInstanceUid, studyInstanceUid and callingAet) is committed to results.jsonl; the film
// moves to done/; the staged objects are published (see Spool.h). With a reports folder, the
// plain-text report is written there too, as orvix-screen --reports names it.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Spool.h"
#include "orvix/DiagnosisState.h"
#include "orvix/OperatingPoint.h"

namespace orvix::node {

class Screener {
public:
    // onPublished is called, on a worker, after a film's results were published.
    Screener(Spool& spool, std::vector<DiagnosisState>& states, const OperatingPoint* point,
             std::optional<std::filesystem::path> reportsDir, std::function<void()> onPublished);
    ~Screener();  // finishes the films in hand, leaves the others in the spool
    Screener(const Screener&) = delete;
    Screener& operator=(const Screener&) = delete;

    // Queues a film of the spool (once, however often it is added while it waits).
    void add(const std::string& uid);

    // Stops taking films; the workers finish the one in hand.
    void stop();

private:
    void work(DiagnosisState& state);
    void screen(DiagnosisState& state, const std::string& uid);

    Spool& spool_;
    const OperatingPoint* point_;
    std::optional<std::filesystem::path> reportsDir_;
    std::function<void()> onPublished_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    std::set<std::string> queued_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace orvix::node
