// Ctrl-C (SIGINT) and SIGTERM in qvdecode: the first asks the running command to stop at its
// next picture, so that it closes its files whole and prints what it did; a second one ends
// the process at once, as it would without the handlers.
#pragma once

namespace qvtool {

// Catches SIGINT and SIGTERM from now on; any number of calls.
void InstallStopHandlers();
// True once either signal came.
bool StopRequested();

}  // namespace qvtool
