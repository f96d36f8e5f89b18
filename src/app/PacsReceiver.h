#pragma once
// File -> Receive from PACS: orvix-node's Storage SCP (the library's StorageServer, not a copy)
// run inside the window on a worker thread. Each film, once flushed to disk in the folder the
// user chose, is announced on the GUI thread (filmReceived, a queued call), where the window
// puts it in the worklist to be analysed as any other picture. Nothing is sent back: answering
// the PACS with results is orvix-node's job.
//
// Off until start; nothing about it is remembered between runs.

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include <QObject>

#include "StorageServer.h"
#include "orvix/Result.h"

namespace orvix::app {

struct ReceiveSettings {
    node::ServerSettings server;   // its bind is an address: 0.0.0.0 for every interface
    std::filesystem::path folder;  // where the received films are kept, <SOP Instance UID>.dcm
};

class PacsReceiver : public QObject {
    Q_OBJECT
public:
    explicit PacsReceiver(QObject* parent = nullptr);
    ~PacsReceiver() override;  // stops

    // Opens the folder (created when missing) and the listening socket, then accepts associations
    // on the worker thread. Fails, receiving nothing, naming the folder or the address and port
    // and the reason (a port below 1024 without the privilege, a port in use), or when already
    // receiving.
    Status start(const ReceiveSettings& settings);
    // Refuses new associations, waits (at most about a second, plus the associations in progress)
    // for the worker thread to end and closes the socket, so that the port is free again when it
    // returns. Nothing when not receiving.
    void stop();
    bool receiving() const { return server_ != nullptr; }
    // Those of the last start.
    const ReceiveSettings& settings() const { return settings_; }

signals:
    // A film received and kept at path.
    void filmReceived(const std::filesystem::path& path);

private:
    ReceiveSettings settings_;
    std::unique_ptr<node::Spool> spool_;
    std::unique_ptr<node::StorageServer> server_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace orvix::app
