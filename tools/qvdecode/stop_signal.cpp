#include "stop_signal.h"

#include <csignal>
#include <unistd.h>

namespace qvtool {
namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStop(int signal) {
    if (g_stop) {
        // Asked twice: the command did not get to stop; leave with the shell's code for it.
        _exit(128 + signal);
    }
    g_stop = 1;
}

}  // namespace

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() { return g_stop != 0; }

}  // namespace qvtool
