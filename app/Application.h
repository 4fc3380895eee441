#pragma once

class LocalDatabase;

// The whole run of the program on `database`: an open failure is reported
// (one line on standard error, an error box where a display exists) and ends
// the run with status 1; otherwise the main window is shown and the event loop
// runs until it closes. Returns the process's exit status.
int RunApplication(LocalDatabase& database, int argc, char* argv[]);
