#include "PacsReceiver.h"

#include <csignal>

#include <dcmtk/oflog/oflog.h>

#include <QMetaObject>
#include <QPointer>

#include "Spool.h"

namespace orvix::app {

PacsReceiver::PacsReceiver(QObject* parent) : QObject(parent) {}

PacsReceiver::~PacsReceiver() { stop(); }

Status PacsReceiver::start(const ReceiveSettings& settings) {
    if (receiving()) return Error{"already receiving as " + settings_.server.aet};
    // The folder holds only films: no subfolders, no results (the node's spool would add them).
    auto spool = node::Spool::open(settings.folder, node::Spool::Layout::FilmsOnly);
    if (!spool) return spool.error();
    // A peer that drops its connection while an answer is written would end the whole window with
    // SIGPIPE; ignored, the write fails and only that association ends (as in orvix-node).
    std::signal(SIGPIPE, SIG_IGN);
    // DCMTK's network layer logs every association on standard error; the node's own lines say
    // what matters.
    OFLog::getLogger("dcmtk.dcmnet").setLogLevel(OFLogger::FATAL_LOG_LEVEL);
    auto owned = std::make_unique<node::Spool>(std::move(*spool));
    node::Spool* kept = owned.get();
    // Called on an association's thread once the film is flushed; the worklist is the GUI
    // thread's, so the path crosses over as a queued call. stop joins every association before
    // this object goes, and a call still queued then is dropped with it.
    auto server = std::make_unique<node::StorageServer>(settings.server, *kept, [this, kept](const std::string& uid) {
        QMetaObject::invokeMethod(
            this, [this, path = kept->film(uid)] { emit filmReceived(path); }, Qt::QueuedConnection);
    });
    if (const Status opened = server->open(); !opened) return opened;
    settings_ = settings;
    spool_ = std::move(owned);
    server_ = std::move(server);
    stop_ = false;
    thread_ = std::thread([this] { server_->run(stop_); });
    return Done{};
}

void PacsReceiver::stop() {
    if (!receiving()) return;
    stop_ = true;
    thread_.join();
    server_.reset();  // closes the listening socket
    spool_.reset();
}

}  // namespace orvix::app
