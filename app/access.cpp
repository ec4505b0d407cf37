// The server's access checks; see access.h. PAPPL asks the authorization
// callback about every IPP operation that needs a check and every web page
// that changes something, except for clients on the local socket, which it
// lets through itself (the socket's mode keeps other users out). Before
// asking, it sends a client on another address that is not on TLS an
// "upgrade required" (a web page is redirected to https): clients on the
// network print, and log in, over TLS only.
#include "app/access.h"

#include <grp.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/login.h"

namespace {

bool isLocalMachine(pappl_client_t* client) {
  return httpAddrLocalhost(httpGetAddress(papplClientGetHTTP(client))) != 0;
}

// The client's address, for the log.
std::string peerOf(pappl_client_t* client) {
  char peer[256];
  return httpGetHostname(papplClientGetHTTP(client), peer, sizeof peer);
}

// Whether the request's requesting-user-name is the owner of its job.
bool ownsJob(pappl_client_t* client) {
  pappl_job_t* job = papplClientGetJob(client);
  ipp_attribute_t* user = ippFindAttribute(papplClientGetRequest(client), "requesting-user-name", IPP_TAG_NAME);
  const char* owner = job != nullptr ? papplJobGetUsername(job) : nullptr;
  return owner != nullptr && user != nullptr && std::strcmp(ippGetString(user, 0, nullptr), owner) == 0;
}

// Takes the drawer and logo attributes out of a job request from another
// address, so that the job gets the printer's settings for them.
void dropDrawerAndLogo(pappl_client_t* client) {
  ipp_op_t op = papplClientGetOperation(client);
  if (op != IPP_OP_PRINT_JOB && op != IPP_OP_CREATE_JOB && op != IPP_OP_VALIDATE_JOB) return;
  ipp_t* request = papplClientGetRequest(client);
  std::vector<ipp_attribute_t*> dropped;
  std::string names;
  for (ipp_attribute_t* attr = ippFirstAttribute(request); attr; attr = ippNextAttribute(request)) {
    const char* name = ippGetName(attr);
    if (ippGetGroupTag(attr) == IPP_TAG_JOB && name != nullptr && isDrawerOrLogoAttribute(name)) {
      dropped.push_back(attr);
      names += (names.empty() ? "" : ", ") + std::string(name);
    }
  }
  for (ipp_attribute_t* attr : dropped) ippDeleteAttribute(request, attr);
  if (!dropped.empty()) {
    papplLogClient(client, PAPPL_LOGLEVEL_INFO,
                   "Job from %s: %s left out, the printer's own settings apply "
                   "(drawer-and-logo-from-network=no).",
                   peerOf(client).c_str(), names.c_str());
  }
}

// PAPPL's authorization callback (`data` is the AccessSettings).
http_status_t authorize(pappl_client_t* client, const char*, gid_t, void* data) {
  const auto& settings = *static_cast<const AccessSettings*>(data);
  if (isLocalMachine(client)) return HTTP_STATUS_CONTINUE;
  // Web pages carry no IPP request; PAPPL asks only about those that change
  // something or show the log.
  Need need = papplClientGetRequest(client) != nullptr ? needOf(papplClientGetOperation(client)) : Need::Admin;
  if (need == Need::Anyone) {
    if (!settings.networkDrawerAndLogo) dropDrawerAndLogo(client);
    return HTTP_STATUS_CONTINUE;
  }
  if (need == Need::JobOwner && ownsJob(client)) return HTTP_STATUS_CONTINUE;
  if (!settings.remoteAdmin) {
    papplLogClient(client, PAPPL_LOGLEVEL_WARN, "%s %s from %s refused: administration is for the local machine "
                   "(remote-admin=no).",
                   papplClientGetRequest(client) ? ippOpString(papplClientGetOperation(client)) : "Web page",
                   papplClientGetURI(client), peerOf(client).c_str());
    return HTTP_STATUS_FORBIDDEN;
  }
  switch (checkLogin(client, settings)) {
    case Login::Accepted:
      return HTTP_STATUS_CONTINUE;
    case Login::Forbidden:
      return HTTP_STATUS_FORBIDDEN;
    case Login::Missing:
      break;
  }
  return HTTP_STATUS_UNAUTHORIZED;
}

}  // namespace

bool readSwitchOption(const char* name, int count, cups_option_t* options, bool& value, std::string& why) {
  const char* text = cupsGetOption(name, count, options);
  if (text == nullptr) return true;
  for (const char* yes : {"yes", "true", "on"}) {
    if (std::strcmp(text, yes) == 0) {
      value = true;
      return true;
    }
  }
  for (const char* no : {"no", "false", "off"}) {
    if (std::strcmp(text, no) == 0) {
      value = false;
      return true;
    }
  }
  why = std::string("-o ") + name + "=" + text + ": the value is yes or no";
  return false;
}

bool readAccessSettings(int count, cups_option_t* options, AccessSettings& settings, std::string& why) {
  if (!readSwitchOption("remote-admin", count, options, settings.remoteAdmin, why) ||
      !readSwitchOption("drawer-and-logo-from-network", count, options, settings.networkDrawerAndLogo, why)) {
    return false;
  }
  const char* service = cupsGetOption("auth-service", count, options);
  const char* group = cupsGetOption("admin-group", count, options);
  settings.authService = service != nullptr ? service : "";
  settings.adminGroup = group != nullptr ? group : "";
  if (!settings.adminGroup.empty() && getgrnam(group) == nullptr) {
    why = "-o admin-group=" + settings.adminGroup + ": no such group";
    return false;
  }
  if (!settings.authService.empty() && settings.adminGroup.empty()) {
    why = "-o auth-service needs -o admin-group: the group whose accounts may log in";
    return false;
  }
  return true;
}

void applyAccessSettings(pappl_system_t* system, const AccessSettings& settings) {
  papplSystemSetAuthCallback(system, "Basic", authorize, const_cast<AccessSettings*>(&settings));
  if (!settings.adminGroup.empty()) papplSystemSetAdminGroup(system, settings.adminGroup.c_str());
}

Need needOf(ipp_op_t op) {
  switch (op) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_VALIDATE_JOB:
    case IPP_OP_CREATE_JOB:
    case IPP_OP_GET_JOB_ATTRIBUTES:
    case IPP_OP_GET_JOBS:
    case IPP_OP_GET_PRINTER_ATTRIBUTES:
    case IPP_OP_GET_PRINTER_SUPPORTED_VALUES:
    case IPP_OP_GET_PRINTERS:
    case IPP_OP_GET_SYSTEM_ATTRIBUTES:
    case IPP_OP_CUPS_GET_DEFAULT:
    case IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS:
    case IPP_OP_CREATE_JOB_SUBSCRIPTIONS:
    case IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES:
    case IPP_OP_GET_SUBSCRIPTIONS:
    case IPP_OP_RENEW_SUBSCRIPTION:
    case IPP_OP_CANCEL_SUBSCRIPTION:
    case IPP_OP_GET_NOTIFICATIONS:
      return Need::Anyone;
    case IPP_OP_SEND_DOCUMENT:
    case IPP_OP_CLOSE_JOB:
    case IPP_OP_CANCEL_JOB:
    case IPP_OP_HOLD_JOB:
    case IPP_OP_RELEASE_JOB:
      return Need::JobOwner;
    default:
      return Need::Admin;
  }
}

bool isDrawerOrLogoAttribute(const char* name) {
  return std::strncmp(name, "cash-drawer", 11) == 0 || std::strncmp(name, "logo-", 5) == 0;
}
