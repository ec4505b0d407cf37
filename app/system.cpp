// The Printer Application's system: the server that papplMainloop runs for
// "talvero-printer-app server". Its printers, their settings and its jobs are
// kept under the spool directory (-o spool-directory=DIR), so a user or a
// test can run a server of its own beside the system service. The server
// listens on the TCP port of -o server-port (all addresses, or those of
// -o listen-hostname) and on the local socket where the sub-commands (add,
// printers, submit, shutdown, ...) look for it: /run/NAME.sock for root,
// $TMPDIR/NAMEuid.sock (TMPDIR defaulting to /tmp) for other users, NAME
// being the program's name.
#include "app/system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/driver.h"
#include "app/localization.h"
#include "app/printer_link.h"
#include "app/web_pages.h"
#include "core/version.h"

namespace {

constexpr char kAppName[] = "talvero-printer-app";

// The option's value, or `fallback`.
const char* optionOr(const char* name, int count, cups_option_t* options, const char* fallback) {
  const char* value = cupsGetOption(name, count, options);
  return value != nullptr && *value != '\0' ? value : fallback;
}

// Creates `path` and its missing parents (mode 0700); false on failure.
bool makeDirectories(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Where printers, settings and jobs are kept when no spool directory is given.
std::string defaultSpoolDirectory() {
  if (getuid() == 0) return std::string("/var/lib/") + kAppName;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
    return std::string(state) + "/" + kAppName;
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "/tmp") + "/.local/state/" + kAppName;
}

pappl_loglevel_t logLevelOf(const char* name) {
  static const struct {
    const char* name;
    pappl_loglevel_t level;
  } kLevels[] = {{"debug", PAPPL_LOGLEVEL_DEBUG}, {"info", PAPPL_LOGLEVEL_INFO}, {"warn", PAPPL_LOGLEVEL_WARN},
                 {"error", PAPPL_LOGLEVEL_ERROR}, {"fatal", PAPPL_LOGLEVEL_FATAL}};
  for (const auto& level : kLevels) {
    if (name != nullptr && std::strcmp(name, level.name) == 0) return level.level;
  }
  return PAPPL_LOGLEVEL_INFO;
}

// Saves the system's state to its state file (the callback's data), each
// printer's ready roll with its own margins.
bool saveState(pappl_system_t* system, void* data) {
  settleRollMargins(system);
  return papplSystemSaveState(system, static_cast<const std::string*>(data)->c_str());
}

// Set once by talveroSystem, before the first printer exists.
std::string gSpoolDirectory;

// The strings files of the labels, one per language (en and each catalogue's),
// at /strings/talvero-LANG.strings. PAPPL serves them to IPP clients
// (printer-strings-uri) and its web pages look texts up in them; it keeps
// pointers to the text, so the texts live as long as the process.
void addStrings(pappl_system_t* system) {
  static std::vector<std::pair<std::string, std::string>> files;  // path, text
  if (files.empty()) {
    files.emplace_back("/strings/talvero-en.strings", stringsFile("en"));
    for (const char* language : catalogueLanguages()) {
      files.emplace_back(std::string("/strings/talvero-") + language + ".strings", stringsFile(language));
    }
  }
  for (const auto& [path, text] : files) {
    std::string language = path.substr(path.rfind('-') + 1, 2);
    papplSystemAddStringsData(system, path.c_str(), language.c_str(), text.c_str());
  }
}

// A once-a-second tick: the server's loop waits for its next timer, and only
// then sees a shutdown request; without it "shutdown" can take 30 seconds.
bool tick(pappl_system_t*, void*) { return true; }

// Runs once in the server's loop, after PAPPL has installed its SIGTERM
// handler: jobs waiting for a printer see SIGTERM too (printer_link.h).
bool watchSigterm(pappl_system_t*, void*) {
  watchForSigterm();
  return false;
}

}  // namespace

const std::string& spoolDirectory() { return gSpoolDirectory; }

std::string localSocketPath(const char* programName) {
  if (getuid() == 0) return std::string("/run/") + programName + ".sock";
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + programName +
         std::to_string(getuid()) + ".sock";
}

pappl_system_t* talveroSystem(int count, cups_option_t* options, void* data) {
  auto* setup = static_cast<AppSetup*>(data);
  std::string spool = optionOr("spool-directory", count, options, defaultSpoolDirectory().c_str());
  if (!makeDirectories(spool)) {
    std::fprintf(stderr, "%s: Cannot create the spool directory \"%s\": %s\n", kAppName, spool.c_str(),
                 std::strerror(errno));
    return nullptr;
  }
  const char* portText = optionOr("server-port", count, options, "0");
  char* end = nullptr;
  long port = std::strtol(portText, &end, 10);
  if (*end != '\0' || port < 0 || port > 65535) {
    std::fprintf(stderr, "%s: Bad server-port \"%s\".\n", kAppName, portText);
    return nullptr;
  }
  bool privateServer = cupsGetOption("private-server", count, options) != nullptr;
  pappl_soptions_t soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                              PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY | PAPPL_SOPTIONS_NO_TLS;
  pappl_system_t* system = papplSystemCreate(
      soptions, "Talvero Printer Application", static_cast<int>(port), "_print,_universal", spool.c_str(),
      optionOr("log-file", count, options, "-"), logLevelOf(cupsGetOption("log-level", count, options)),
      cupsGetOption("auth-service", count, options), false);
  if (system == nullptr) return nullptr;

  if (!privateServer && !papplSystemAddListeners(system, cupsGetOption("listen-hostname", count, options))) {
    papplSystemDelete(system);
    return nullptr;
  }
  papplSystemAddListeners(system, localSocketPath(setup->programName.c_str()).c_str());
  if (const char* group = cupsGetOption("admin-group", count, options)) papplSystemSetAdminGroup(system, group);
  addImageFilters(system);
  papplSystemSetFooterHTML(system, "Talvero receipt printers, driver " TALVERO_VERSION);
  gSpoolDirectory = spool;
  addStrings(system);
  papplSystemSetPrinterDrivers(system, static_cast<int>(setup->drivers.size()), setup->drivers.data(), talveroAutoAdd,
                               addPrinterPages, talveroDriverCallback, nullptr);

  setup->stateFile = spool + "/" + kAppName + ".state";
  papplSystemLoadState(system, setup->stateFile.c_str());
  papplSystemSetSaveCallback(system, saveState, &setup->stateFile);
  papplSystemAddTimerCallback(system, 0, 1, tick, nullptr);
  papplSystemAddTimerCallback(system, 0, 0, watchSigterm, nullptr);
  return system;
}
