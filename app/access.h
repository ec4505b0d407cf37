// Who may do what on the Printer Application's server. Anyone who can reach
// it may print, follow their jobs and read the printers' state. Changing
// anything (settings, printers, the password, other users' jobs, the web
// pages that do so) is for the local machine: the server's local socket
// (for its owner or admin group) and clients on a loopback address. Clients
// on other addresses get administration only when the owner turns it on
// (remote-admin=yes), and then only over TLS with a login: the access
// password of the Security page, or an account of the admin group checked by
// PAM (auth-service). A job from another address gets the printer's drawer
// and logo settings, not its own, unless the owner allows them
// (drawer-and-logo-from-network=yes).
#pragma once

#include <string>

#include <pappl/pappl.h>

struct AccessSettings {
  bool remoteAdmin = false;           // clients on other addresses may log in to administer
  std::string authService;            // PAM service for logins; empty: the access password
  std::string adminGroup;             // group of those who administer (local socket, PAM logins)
  bool networkDrawerAndLogo = false;  // jobs from other addresses may set drawer and logo options
};

// Reads the server options remote-admin, auth-service, admin-group and
// drawer-and-logo-from-network. False, with the reason in `why`, for a value
// that is not one of theirs or a group that does not exist.
bool readAccessSettings(int count, cups_option_t* options, AccessSettings& settings, std::string& why);

// A yes/no server option into `value` (left as it is when the option is not
// given); false, with the reason in `why`, for a value that is neither.
bool readSwitchOption(const char* name, int count, cups_option_t* options, bool& value, std::string& why);

// Installs the checks on `system`; `settings` must outlive it.
void applyAccessSettings(pappl_system_t* system, const AccessSettings& settings);

// What an operation needs from a client that is not on the local machine.
enum class Need {
  Anyone,    // printing, reading states and jobs
  JobOwner,  // the job's own user, or an administrator
  Admin,     // an administrator
};

// The need of IPP operation `op` (web pages that PAPPL guards are Admin).
Need needOf(ipp_op_t op);

// The vendor attributes of a job that can open a cash drawer or print a
// stored logo (their names start with one of these).
bool isDrawerOrLogoAttribute(const char* name);
