#pragma once
// Delivers the spool's outbox by C-STORE (DCMTK's DcmSCU) to one destination: every object
// published in DIR/outbox/ in one association, oldest first; each acknowledged object moves
// to DIR/sent/ (or, with deleteAfterSend, is deleted, and its film too once none of the film's
// results is left to send). An object that is not acknowledged stays in the outbox and is
// tried again after a pause that doubles from 1 s up to 60 s while the destination fails, and
// after a restart: delivery is at least once, and a result sent again after a stop between its
// acknowledgement and its move keeps its SOP Instance UID, so that the destination files it once.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "NodeOptions.h"
#include "Spool.h"

namespace orvix::node {

class Sender {
public:
    Sender(std::string aet, Peer peer, Spool& spool, bool deleteAfterSend);

    // New objects were published.
    void wake();

    // Delivers until stop is set (then returns after the object in hand).
    void run(const std::atomic<bool>& stop);

private:
    // Delivers what the outbox holds now; returns false (the reason logged) when any object is left.
    bool deliver(const std::atomic<bool>& stop);
    void delivered(const std::string& name);
    void sleep(const std::atomic<bool>& stop, int seconds, bool untilWoken);

    std::string aet_;
    Peer peer_;
    Spool& spool_;
    bool deleteAfterSend_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool woken_ = false;
};

}  // namespace orvix::node
