// The Printer Application's server (papplMainloop's system callback).
#pragma once

#include <string>
#include <vector>

#include <pappl/pappl.h>

// What main hands the system callback.
struct AppSetup {
  std::vector<pappl_pr_driver_t> drivers;
  std::string programName;  // the program's name, as the sub-commands see it
  std::string stateFile;    // set by talveroSystem
};

// The server's spool directory (set when the server is created; printers
// keep their stored logos and test receipts there).
const std::string& spoolDirectory();

// The local socket on which papplMainloop's sub-commands reach the server.
std::string localSocketPath(const char* programName);

// Creates the server from the "server" sub-command's -o options
// (spool-directory, server-port, listen-hostname, log-file, log-level,
// admin-group, auth-service), with its state loaded from and saved to the
// spool directory. `data` is the AppSetup. nullptr when it cannot start.
pappl_system_t* talveroSystem(int count, cups_option_t* options, void* data);

// "options" (options_command.cpp): whether the arguments ask for it, and
// the receipt printer's own options with their labels, printed after
// PAPPL's list. Returns the exit status.
bool isOptionsCommand(int argc, char* argv[]);
int printVendorOptions(int argc, char* argv[], const char* programName);

// "shutdown -u URI" (remote_shutdown.cpp): whether the arguments ask for it,
// and asking the server at URI to shut down. Returns the exit status.
bool isRemoteShutdown(int argc, char* argv[]);
int remoteShutdown(int argc, char* argv[], const char* programName);
