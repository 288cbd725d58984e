#pragma once
// nuboftpd's account commands: "user ...", "deny ..." and "allow ..." edit ftp_users.ini
// and the address lists of ftp_config.ini in the program folder and exit. They never
// start a server and never hand themselves to a running copy: a running server reads
// the files afresh at each login, as it does after the dialogs' changes.

namespace nubo {

// The usage lines of the commands, for --help.
extern const char* const kAdminUsage;

// Runs the account command the command line names and returns its exit code (0 done,
// 1 refused, 2 bad usage); -1 when the command line names none (a server start).
int RunAdminCommandLine(int argc, char** argv);

} // namespace nubo
