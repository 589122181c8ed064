// Ctrl-C and SIGTERM for the commands that run until stopped: the first signal asks the
// command to stop at its next chance (it then finishes its output and exits 130); a second
// one, when the command is stuck, ends the process at once.
#pragma once

namespace qvtool {

void InstallStopHandlers();
bool StopRequested();

}  // namespace qvtool
