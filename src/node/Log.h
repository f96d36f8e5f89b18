#pragma once
// orvix-node's log: one line per event on standard error, prefixed with its syslog priority
// as journald reads it ("<6>received 1.2.3 from MODALITY"), so that a systemd unit's journal
// keeps each line's level; the journal adds the time and the program. Lines from several
// threads never mix.

#include <sstream>
#include <string>

namespace orvix::node {

enum class Level { Error = 3, Warning = 4, Info = 6 };

void logLine(Level level, const std::string& text);

// Log(Level::Info) << "received " << uid;  written when the statement ends.
class Log {
public:
    explicit Log(Level level) : level_(level) {}
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;
    ~Log() { logLine(level_, text_.str()); }
    template <class T>
    Log& operator<<(const T& value) {
        text_ << value;
        return *this;
    }

private:
    Level level_;
    std::ostringstream text_;
};

}  // namespace orvix::node
