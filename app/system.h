// The Printer Application's server (papplMainloop's system callback) and the
// sub-commands the application runs itself (commands.cpp).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "app/access.h"

// What main hands the system callback, and what the server keeps for its
// whole run.
struct AppSetup {
  std::vector<pappl_pr_driver_t> drivers;
  std::string programName;  // the program's name, as the sub-commands see it
  std::string stateFile;    // set by talveroSystem
  AccessSettings access;    // who may do what (access.h)
  bool fileDevices = false; // file:// device URIs allowed (-o file-devices=yes, for tests)
  std::string socketPath;   // the local socket, once listening
  ino_t socketInode = 0;
  std::chrono::steady_clock::time_point lastSave{};  // when the state file was last written
};

// The server's spool directory (set when the server is created; printers
// keep their stored logos and test receipts there).
const std::string& spoolDirectory();

// Creates the server from the "server" sub-command's -o options
// (spool-directory, server-port, listen-hostname, local-socket, log-file,
// log-level, remote-admin, auth-service, admin-group,
// drawer-and-logo-from-network, file-devices), with its state loaded from
// and saved to the spool directory. `data` is the AppSetup. nullptr when it
// cannot start.
pappl_system_t* talveroSystem(int count, cups_option_t* options, void* data);

// The "server" sub-command: runs the server of talveroSystem until it is
// shut down (shutdown, SIGTERM). PAPPL's own would also bind the default
// local socket for anyone to use. Returns the exit status.
int runServer(int count, cups_option_t* options, AppSetup& setup);

// Runs the sub-commands the application handles itself (commands.cpp):
// `server`, `drivers`, and `printers`, `status`, `modify`, `delete` and
// `shutdown` with -u or the local socket. Sets `status` to the exit status and returns
// true when it ran one; false leaves the command to papplMainloop.
bool runOwnCommand(int argc, char* argv[], AppSetup& setup, int& status);

// Whether the command line's sub-command talks to a server on the local
// socket (no -u) while no server answers there; says so on standard error.
// PAPPL would start a private, empty server instead.
bool noServerForCommand(int argc, char* argv[], const AppSetup& setup);

// "options" (options_command.cpp): whether the arguments ask for it, and
// the receipt printer's own options with their labels, printed after
// PAPPL's list. Returns the exit status.
bool isOptionsCommand(int argc, char* argv[]);
int printVendorOptions(int argc, char* argv[], const char* programName);
