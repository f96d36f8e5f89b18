// Process entry: hands control to the application.

#include "TolMeranApp.h"

int main(int argc, char** argv) { return orvix::app::tolMeranApp::main(argc, argv); }
