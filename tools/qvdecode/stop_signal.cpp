#include "stop_signal.h"

#include <csignal>

namespace qvtool {
namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStop(int) { g_stop = 1; }

}  // namespace

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = &OnStop;
    sigemptyset(&action.sa_mask);
    // The first signal is ours; the handler then gives way to the default, so a second one
    // ends a command that does not stop. Interrupted system calls go on (SA_RESTART): a write
    // is never left half done.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() { return g_stop != 0; }

}  // namespace qvtool
