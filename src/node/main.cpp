// orvix-node: a DICOM node that receives films, screens each as orvix-screen does and answers
// in DICOM. This file wires the parts together: the spool (Spool.h), the Storage SCP
// (StorageServer.h), the screening workers (Screener.h) and the delivery of results (Sender.h).

#include <malloc.h>
#include <pthread.h>

#include <atomic>
#include <csignal>
#include <iostream>
#include <optional>
#include <thread>
#include <vector>

#include <dcmtk/oflog/oflog.h>

#include "Log.h"
#include "NodeOptions.h"
#include "Screener.h"
#include "Sender.h"
#include "Spool.h"
#include "StorageServer.h"
#include "orvix/Console.h"
#include "orvix/DiagnosisState.h"
#include "orvix/Model.h"
#include "orvix/OperatingPoint.h"
#include "orvix/Version.h"

namespace {

using namespace orvix;
using namespace orvix::node;

int fail(const std::string& message) {
    Log(Level::Error) << message;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    NodeOptions options;
    if (auto error = parseNodeOptions(argc, argv, options)) {
        std::cerr << "orvix-node: " << *error << "\n\n" << usageText();
        return 2;
    }
    if (options.help) {
        std::cout << usageText();
        return 0;
    }
    if (options.version) {
        std::cout << "orvix-node " << ORVIX_VERSION << '\n';
        return 0;
    }

    // The signals that stop the node are taken by one thread (sigwait below); every thread
    // started from here on inherits the mask. A peer that drops a connection is an error of
    // that write, not the end of the node.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // The log is the node's own lines; the core's console and diagnostics, and DCMTK's logger,
    // would interleave lines without a priority.
    setConsoleStream(nullptr);
    setDiagnosticStream(nullptr);
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);

    // Each film passes through buffers of megabytes (the film, its picture, the heatmap, the capture). glibc would map
    // each afresh and unmap it when freed, and every page of every film would fault in anew; kept in the heap, the
    // next film reuses them.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    if (options.jobs > 1) setThreadsPerPrediction(static_cast<int>(std::max(1u, cores / options.jobs)));
    std::vector<DiagnosisState> states;
    for (unsigned j = 0; j < options.jobs; ++j) {
        auto created = DiagnosisState::create();
        if (!created) return fail(created.error().message);
        states.push_back(std::move(created).value());
    }
    std::optional<OperatingPoint> point;
    if (const auto file = findOperatingPoint(processEnvironment)) {
        auto read =
            loadOperatingPoint(*file, states.front().model->model.metadata(), states.front().model2->model.metadata());
        if (!read) return fail(read.error().message);
        point = std::move(read).value();
    }
    auto opened = Spool::open(options.spool);
    if (!opened) return fail(opened.error().message);
    Spool spool = std::move(opened).value();

    if (options.check) {
        std::cout << "orvix-node: configuration valid: " << options.aet << " on "
                  << (options.bind.empty() ? std::string("all interfaces") : options.bind) << " port " << *options.port
                  << ", spool " << options.spool.string() << ", "
                  << (options.allow.empty() ? std::string("any calling AE title")
                                            : std::to_string(options.allow.size()) + " calling AE title(s) allowed")
                  << ", "
                  << (options.sendTo ? "results sent to " + options.sendTo->text() : "results kept in the outbox")
                  << (point ? ", " + point->description() : std::string()) << '\n';
        return 0;
    }

    std::optional<Sender> sender;
    if (options.sendTo) sender.emplace(options.aet, *options.sendTo, spool, options.deleteAfterSend);
    Screener screener(spool, states, point ? &*point : nullptr, options.reportsDir, [&sender] {
        if (sender) sender->wake();
    });
    StorageServer server({options.aet, *options.port, options.bind, options.allow, 16}, spool,
                         [&screener](const std::string& uid) { screener.add(uid); });
    if (auto listening = server.open(); !listening) return fail(listening.error().message);

    // What a stop left: results committed but not published, films received but not screened.
    spool.settleOrphans();
    const auto pending = spool.pending();
    for (const auto& uid : pending) screener.add(uid);
    Log(Level::Info) << "orvix-node " << ORVIX_VERSION << " listening as " << options.aet << " on "
                     << (options.bind.empty() ? std::string("all interfaces") : options.bind) << " port "
                     << *options.port << "; " << pending.size() << " film(s) in the spool to screen"
                     << (point ? "; " + point->description() : std::string());

    std::atomic<bool> stop{false};
    std::thread serving([&] { server.run(stop); });
    std::thread sending([&] {
        if (sender) sender->run(stop);
    });
    int signal = 0;
    sigwait(&stopSignals, &signal);
    Log(Level::Info) << "stopping (" << (signal == SIGTERM ? "SIGTERM" : "SIGINT") << "): finishing the films in hand";
    stop = true;
    screener.stop();
    serving.join();
    sending.join();
    return 0;
}
