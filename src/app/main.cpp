// Process entry: hands control to the application.

#include <csignal>

#include "TolMeranApp.h"

int main(int argc, char** argv) {
    // Past a file-size limit (ulimit -f) a save fails with EFBIG and says so, rather than the
    // signal ending the program with the report half written.
    std::signal(SIGXFSZ, SIG_IGN);
    return orvix::app::tolMeranApp::main(argc, argv);
}
