// The Printer Application's system: the server that papplMainloop runs for
// "talvero-printer-app server". Its printers, their settings and its jobs are
// kept under the spool directory (-o spool-directory=DIR), so a user or a
// test can run a server of its own beside the system service. The server
// listens on the TCP port of -o server-port (all addresses, or those of
// -o listen-hostname), plain or TLS on the same port (a self-signed
// certificate made on first use), and on the local socket where the
// sub-commands look for it (local_socket.h, or -o local-socket=PATH). Who
// may do what is set by the options of access.h.
#include "app/system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/driver.h"
#include "app/local_socket.h"
#include "app/localization.h"
#include "app/messages.h"
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

// PAPPL 1.3.1 marks its configuration changed (its own, not in its
// headers); the server's loop then calls the save callback on its next turn.
extern "C" void _papplSystemConfigChanged(pappl_system_t* system);

// How often, at most, the state file is written while the server runs.
constexpr std::chrono::seconds kSaveEvery{2};

// Saves the system's state to its state file, each printer's ready roll
// with its own margins; `data` is the AppSetup. PAPPL asks for a save on
// every turn of its loop after any change, and every job's start and end is
// one: on a busy server that wrote the whole state (every printer's last 100
// jobs, some 800 KB for 16 printers) several times a second, on the thread
// that accepts connections and holding each printer's lock, so requests
// waited behind it. A change within kSaveEvery of the last save is marked
// again instead, for a later turn; when the server stops, the last one is
// written at once.
bool saveState(pappl_system_t* system, void* data) {
  auto* setup = static_cast<AppSetup*>(data);
  auto now = std::chrono::steady_clock::now();
  if (papplSystemIsRunning(system) && now - setup->lastSave < kSaveEvery) {
    _papplSystemConfigChanged(system);
    return true;
  }
  setup->lastSave = now;
  settleRollMargins(system);
  return papplSystemSaveState(system, setup->stateFile.c_str());
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

// The access and device options into `setup`; false, with the reason on
// standard error, for a bad value.
bool readSetup(int count, cups_option_t* options, AppSetup& setup) {
  std::string why;
  if (readAccessSettings(count, options, setup.access, why) &&
      readSwitchOption("file-devices", count, options, setup.fileDevices, why)) {
    return true;
  }
  std::fprintf(stderr, "%s: %s.\n", kAppName, why.c_str());
  return false;
}

// Creates the spool directory; false, with the reason on standard error.
bool makeSpoolDirectory(const std::string& spool) {
  if (makeDirectories(spool)) return true;
  std::fprintf(stderr, "%s: Cannot create the spool directory \"%s\": %s\n", kAppName, spool.c_str(),
               std::strerror(errno));
  return false;
}

// The local socket's path into `setup`; false, with the reason on standard
// error, when another server answers there already.
bool takeSocketPath(int count, cups_option_t* options, AppSetup& setup) {
  setup.socketPath = optionOr("local-socket", count, options, localSocketPath(setup.programName.c_str()).c_str());
  if (!serverAnswersAt(setup.socketPath)) return true;
  std::fprintf(stderr,
               "%s: Another server is running on %s: stop it first (%s shutdown), or give this one a socket "
               "of its own (-o local-socket=PATH).\n",
               kAppName, setup.socketPath.c_str(), setup.programName.c_str());
  setup.socketPath.clear();
  return false;
}

// Listens on the TCP port and on the local socket; false, with the reason on
// standard error.
bool startListening(pappl_system_t* system, int count, cups_option_t* options, AppSetup& setup) {
  // listen-hostname: one address or name, or several separated by commas;
  // every address when not given.
  std::string names = optionOr("listen-hostname", count, options, "*");
  for (size_t start = 0, end; start <= names.size(); start = end + 1) {
    end = std::min(names.find(',', start), names.size());
    std::string name = names.substr(start, end - start);
    if (!papplSystemAddListeners(system, name.c_str())) {
      std::fprintf(stderr, "%s: Cannot listen on %s port (see the log).\n", kAppName, name.c_str());
      return false;
    }
  }
  std::string why;
  if (listenOnLocalSocket(system, setup.socketPath, setup.access.adminGroup, setup.socketInode, why)) return true;
  std::fprintf(stderr, "%s: %s.\n", kAppName, why.c_str());
  setup.socketPath.clear();
  return false;
}

}  // namespace

const std::string& spoolDirectory() { return gSpoolDirectory; }

pappl_system_t* talveroSystem(int count, cups_option_t* options, void* data) {
  auto* setup = static_cast<AppSetup*>(data);
  std::string spool = optionOr("spool-directory", count, options, defaultSpoolDirectory().c_str());
  if (!readSetup(count, options, *setup) || !takeSocketPath(count, options, *setup) || !makeSpoolDirectory(spool)) {
    return nullptr;
  }
  const char* portText = optionOr("server-port", count, options, "0");
  char* end = nullptr;
  long port = std::strtol(portText, &end, 10);
  if (*end != '\0' || port < 0 || port > 65535) {
    std::fprintf(stderr, "%s: Bad server-port \"%s\".\n", kAppName, portText);
    return nullptr;
  }
  pappl_soptions_t soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                              PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY;
  const std::string& service = setup->access.authService;
  pappl_system_t* system = papplSystemCreate(
      soptions, "Talvero Printer Application", static_cast<int>(port), "_print,_universal", spool.c_str(),
      optionOr("log-file", count, options, "-"), logLevelOf(cupsGetOption("log-level", count, options)),
      service.empty() ? nullptr : service.c_str(), false);
  if (system == nullptr) return nullptr;
  if (!startListening(system, count, options, *setup)) {
    papplSystemDelete(system);
    return nullptr;
  }
  applyAccessSettings(system, setup->access);
  addImageFilters(system);
  papplSystemSetFooterHTML(system, "Talvero receipt printers, driver " TALVERO_VERSION);
  gSpoolDirectory = spool;
  addStrings(system);
  papplSystemSetPrinterDrivers(system, static_cast<int>(setup->drivers.size()), setup->drivers.data(), talveroAutoAdd,
                               addPrinterPages, talveroDriverCallback, setup);

  setup->stateFile = spool + "/" + kAppName + ".state";
  papplSystemLoadState(system, setup->stateFile.c_str());
  papplSystemSetSaveCallback(system, saveState, setup);
  papplSystemAddTimerCallback(system, 0, 1, tick, nullptr);
  papplSystemAddTimerCallback(system, 0, 0, watchSigterm, nullptr);
  return system;
}

int runServer(int count, cups_option_t* options, AppSetup& setup) {
  pappl_system_t* system = talveroSystem(count, options, &setup);
  if (system == nullptr) return 1;
  pappl_version_t version{};
  std::snprintf(version.name, sizeof version.name, "%s", setup.programName.c_str());
  std::snprintf(version.sversion, sizeof version.sversion, "%s", TALVERO_VERSION);
  std::sscanf(TALVERO_VERSION, "%hu.%hu.%hu", version.version + 0, version.version + 1, version.version + 2);
  papplSystemSetVersions(system, 1, &version);
  startWatch(system);
  papplSystemRun(system);
  stopWatch();
  papplSystemDelete(system);
  removeLocalSocket(setup.socketPath, setup.socketInode);
  return 0;
}
