// The sub-commands the application runs itself instead of papplMainloop:
//   server    runs the server (system.cpp);
//   drivers   lists the drivers without starting a server;
//   printers, status, modify, delete
//             against the server at -u URI (any host; a printer's URI for
//             status, modify and delete) or on the local socket (-d NAME),
//             where PAPPL 1.3 ignores or refuses -u and starts a private
//             server when none runs;
//   shutdown -u URI
//             asks the server at URI, where PAPPL's always uses the socket.
// Every one says why it failed and exits with 1 then. Before handing any
// other sub-command that uses the local socket to papplMainloop, main checks
// that a server answers there (noServerForCommand).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <cups/cups.h>

#include "app/local_socket.h"
#include "app/system.h"

namespace {

// The sub-commands of papplMainloop that reach a server through the local
// socket when no -u is given ("" is submit's short form: files alone).
constexpr const char* kSocketCommands[] = {"add",    "autoadd", "cancel", "default", "delete", "jobs",     "modify",
                                           "options", "pause",  "printers", "resume", "status", "submit", "testpage",
                                           ""};
// Options that take a value, as papplMainloop reads them.
constexpr char kValueOptions[] = "dhjmnotuv";

struct CommandLine {
  std::string command;            // the sub-command, "" for none
  const char* uri = nullptr;      // -u
  const char* printer = nullptr;  // -d
  int numOptions = 0;             // -o NAME=VALUE ...
  cups_option_t* options = nullptr;
  int files = 0;                  // other arguments
  bool help = false;              // --help or --version
};

bool isOneOf(const std::string& word, std::initializer_list<const char*> words) {
  for (const char* w : words) {
    if (word == w) return true;
  }
  return false;
}

// Whether `word` is one of papplMainloop's sub-commands.
bool isCommand(const std::string& word) {
  if (isOneOf(word, {"drivers", "devices", "server", "shutdown"})) return true;
  for (const char* command : kSocketCommands) {
    if (*command != '\0' && word == command) return true;
  }
  return false;
}

// Says that no server answers on the local socket.
void sayNoServer(const AppSetup& setup) {
  std::fprintf(stderr, "%s: No server is running (none answers on %s); start one, or name one with -u URI.\n",
               setup.programName.c_str(), serverSocketPaths(setup.programName.c_str()).front().c_str());
}

// Reads the command line as papplMainloop does (sub-command, -u, -d, -o).
CommandLine parseCommandLine(int argc, char* argv[]) {
  CommandLine line;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "--version") line.help = true;
    if (arg.size() == 2 && arg[0] == '-' && std::strchr(kValueOptions, arg[1]) != nullptr && i + 1 < argc) {
      const char* value = argv[++i];
      if (arg[1] == 'u') line.uri = value;
      if (arg[1] == 'd') line.printer = value;
      if (arg[1] == 'o') line.numOptions = cupsParseOptions(value, line.numOptions, &line.options);
    } else if (arg[0] != '-' && line.command.empty() && isCommand(arg)) {
      line.command = arg;
    } else if (arg[0] != '-') {
      ++line.files;
    }
  }
  return line;
}

// PAPPL's resource path of printer `name`: unsafe characters become '_',
// without doubled or trailing ones.
std::string printerResource(const char* name) {
  std::string resource = "/ipp/print/";
  for (const char* p = name; *p; ++p) {
    char c = (*p & 255) <= ' ' || std::strchr("\177/\\'\"?#", *p) ? '_' : *p;
    if (c != '_' || (resource.back() != '_' && resource.back() != '/')) resource += c;
  }
  if (resource.back() == '_') resource.pop_back();
  return resource;
}

// A connection to the server, with the URIs a request names.
struct Server {
  http_t* http = nullptr;
  std::string printerUri;  // empty when the command line names no printer
  std::string resource;    // the printer's resource path
  std::string systemUri;
  ~Server() { httpClose(http); }
};

// Connects to the server of -u, or to the one on the local socket for -d.
bool connectServer(const CommandLine& line, const AppSetup& setup, Server& server) {
  const char* program = setup.programName.c_str();
  if (line.uri != nullptr) {
    char scheme[32], user[256], host[256], resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, line.uri, scheme, sizeof scheme, user, sizeof user, host, sizeof host,
                        &port, resource, sizeof resource) < HTTP_URI_STATUS_OK ||
        (std::strcmp(scheme, "ipp") != 0 && std::strcmp(scheme, "ipps") != 0)) {
      std::fprintf(stderr,
                   "%s: Bad server URI \"%s\" (ipp://HOST:PORT/ or a printer's ipp://HOST:PORT/ipp/print/NAME).\n",
                   program, line.uri);
      return false;
    }
    http_encryption_t encryption =
        std::strcmp(scheme, "ipps") == 0 ? HTTP_ENCRYPTION_ALWAYS : HTTP_ENCRYPTION_IF_REQUESTED;
    server.http = httpConnect2(host, port, nullptr, AF_UNSPEC, encryption, 1, 30000, nullptr);
    if (server.http == nullptr) {
      std::fprintf(stderr, "%s: No server answers at %s:%d: %s\n", program, host, port, cupsLastErrorString());
      return false;
    }
    char uri[1024];
    httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, scheme, nullptr, host, port, "/ipp/system");
    server.systemUri = uri;
    if (std::strncmp(resource, "/ipp/print/", 11) == 0) {
      server.printerUri = line.uri;
      server.resource = resource;
    }
    return true;
  }
  for (const std::string& path : serverSocketPaths(program)) {
    if (serverAnswersAt(path)) {
      server.http = httpConnect2(path.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
      if (server.http != nullptr) break;
    }
  }
  if (server.http == nullptr) {
    sayNoServer(setup);
    return false;
  }
  server.systemUri = "ipp://localhost/ipp/system";
  if (line.printer != nullptr) {
    server.resource = printerResource(line.printer);
    server.printerUri = "ipp://localhost" + server.resource;
  }
  return true;
}

// A request with the operation attributes every one carries and the target
// URI (`uriName` printer-uri or system-uri).
ipp_t* newRequest(ipp_op_t op, const char* uriName, const std::string& uri) {
  ipp_t* request = ippNewRequest(op);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, uriName, nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  return request;
}

// Sends `request` to `resource`; returns the response, or nullptr after
// saying why the server refused it ("Unable to VERB: ...").
ipp_t* ask(Server& server, ipp_t* request, const std::string& resource, const char* program, const char* verb) {
  ipp_t* response = cupsDoRequest(server.http, request, resource.c_str());
  if (cupsLastError() <= IPP_STATUS_OK_CONFLICTING) return response;
  std::fprintf(stderr, "%s: Unable to %s: %s\n", program, verb, cupsLastErrorString());
  ippDelete(response);
  return nullptr;
}

// Says that the command needs a printer; false.
bool needsPrinter(const Server& server, const char* program, const char* command) {
  if (!server.printerUri.empty()) return true;
  std::fprintf(stderr, "%s: %s needs a printer: -d NAME, or -u ipp://HOST:PORT/ipp/print/NAME.\n", program, command);
  return false;
}

int showPrinters(Server& server, const char* program) {
  ipp_t* response = ask(server, newRequest(IPP_OP_GET_PRINTERS, "system-uri", server.systemUri), "/ipp/system",
                        program, "list the printers");
  if (response == nullptr) return 1;
  for (ipp_attribute_t* a = ippFindAttribute(response, "printer-name", IPP_TAG_NAME); a;
       a = ippFindNextAttribute(response, "printer-name", IPP_TAG_NAME)) {
    std::puts(ippGetString(a, 0, nullptr));
  }
  ippDelete(response);
  return 0;
}

// "Running, stopped since DATE (media-empty, ...).": the state of the
// printer (printer-*) or of the whole server (system-*).
int showStatus(Server& server, const char* program) {
  bool printer = !server.printerUri.empty();
  std::string prefix = printer ? "printer-" : "system-";
  ipp_t* request = printer ? newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, "printer-uri", server.printerUri)
                           : newRequest(IPP_OP_GET_SYSTEM_ATTRIBUTES, "system-uri", server.systemUri);
  ipp_t* response = ask(server, request, printer ? server.resource : "/ipp/system", program, "get the status");
  if (response == nullptr) return 1;
  static const char* const kStates[] = {"idle", "processing jobs", "stopped"};
  int state = ippGetInteger(ippFindAttribute(response, (prefix + "state").c_str(), IPP_TAG_ENUM), 0);
  time_t since = ippDateToTime(ippGetDate(ippFindAttribute(response, (prefix + "state-change-date-time").c_str(),
                                                           IPP_TAG_DATE), 0));
  std::string reasons;
  ipp_attribute_t* list = ippFindAttribute(response, (prefix + "state-reasons").c_str(), IPP_TAG_KEYWORD);
  for (int i = 0; i < ippGetCount(list); ++i) {
    const char* reason = ippGetString(list, i, nullptr);
    if (std::strcmp(reason, "none") != 0) reasons += (reasons.empty() ? " (" : ", ") + std::string(reason);
  }
  if (!reasons.empty()) reasons += ")";
  char date[256];
  std::printf("Running, %s since %s%s.\n", kStates[std::clamp(state, 3, 5) - 3],
              httpGetDateString2(since, date, sizeof date), reasons.c_str());
  ippDelete(response);
  return 0;
}

// Adds printer attribute NAME=VALUE to `request`, typed as the printer's
// attributes (`printer`) say: integer or boolean where NAME's -supported
// values are, text for the printer's description, else a keyword.
void addPrinterValue(ipp_t* request, ipp_t* printer, const char* name, const char* value) {
  std::string base = name;
  if (base.size() > 8 && base.compare(base.size() - 8, 8, "-default") == 0) base.resize(base.size() - 8);
  ipp_attribute_t* supported = ippFindAttribute(printer, (base + "-supported").c_str(), IPP_TAG_ZERO);
  ipp_tag_t tag = supported != nullptr ? ippGetValueTag(supported) : IPP_TAG_KEYWORD;
  if (tag == IPP_TAG_INTEGER || tag == IPP_TAG_RANGE) {
    ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_INTEGER, name, std::atoi(value));
  } else if (tag == IPP_TAG_BOOLEAN) {
    ippAddBoolean(request, IPP_TAG_PRINTER, name, std::strcmp(value, "true") == 0 || std::strcmp(value, "yes") == 0);
  } else if (isOneOf(name, {"printer-location", "printer-organization", "printer-organizational-unit"})) {
    ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, name, nullptr, value);
  } else {
    ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, name, nullptr, value);
  }
}

// modify: Set-Printer-Attributes with the -o values.
int modifyPrinter(Server& server, const CommandLine& line, const char* program) {
  if (!needsPrinter(server, program, "modify")) return 1;
  if (line.numOptions == 0) {
    std::fprintf(stderr, "%s: modify needs the values to set: -o NAME-default=VALUE ...\n", program);
    return 1;
  }
  ipp_t* printer = ask(server, newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, "printer-uri", server.printerUri),
                       server.resource, program, "get the printer's attributes");
  if (printer == nullptr) return 1;
  ipp_t* request = newRequest(IPP_OP_SET_PRINTER_ATTRIBUTES, "printer-uri", server.printerUri);
  for (int i = 0; i < line.numOptions; ++i) {
    addPrinterValue(request, printer, line.options[i].name, line.options[i].value);
  }
  ippDelete(printer);
  ipp_t* response = ask(server, request, server.resource, program, "modify the printer");
  ippDelete(response);
  return response != nullptr ? 0 : 1;
}

// The printer-id of the server's printer at `resource` (PAPPL 1.3 gives 0 in
// the printer's own attributes, the right one in system-configured-printers);
// 0 when there is none.
int printerId(ipp_t* systemAttributes, const std::string& resource) {
  ipp_attribute_t* printers =
      ippFindAttribute(systemAttributes, "system-configured-printers", IPP_TAG_BEGIN_COLLECTION);
  for (int i = 0; i < ippGetCount(printers); ++i) {
    ipp_t* printer = ippGetCollection(printers, i);
    ipp_attribute_t* xris = ippFindAttribute(printer, "printer-xri-supported", IPP_TAG_BEGIN_COLLECTION);
    for (int j = 0; j < ippGetCount(xris); ++j) {
      const char* uri = ippGetString(ippFindAttribute(ippGetCollection(xris, j), "xri-uri", IPP_TAG_URI), 0, nullptr);
      char scheme[32], user[256], host[256], path[1024];
      int port = 0;
      if (uri != nullptr && httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host,
                                            sizeof host, &port, path, sizeof path) >= HTTP_URI_STATUS_OK &&
          resource == path) {
        return ippGetInteger(ippFindAttribute(printer, "printer-id", IPP_TAG_INTEGER), 0);
      }
    }
  }
  return 0;
}

// delete: Delete-Printer of the printer's printer-id.
int deletePrinter(Server& server, const char* program) {
  if (!needsPrinter(server, program, "delete")) return 1;
  ipp_t* request = newRequest(IPP_OP_GET_SYSTEM_ATTRIBUTES, "system-uri", server.systemUri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "system-configured-printers");
  ipp_t* system = ask(server, request, "/ipp/system", program, "list the printers");
  if (system == nullptr) return 1;
  int id = printerId(system, server.resource);
  ippDelete(system);
  if (id == 0) {
    std::fprintf(stderr, "%s: Unable to delete the printer: the server has no printer at %s.\n", program,
                 server.resource.c_str());
    return 1;
  }
  request = newRequest(IPP_OP_DELETE_PRINTER, "system-uri", server.systemUri);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "printer-id", id);
  ipp_t* response = ask(server, request, "/ipp/system", program, "delete the printer");
  ippDelete(response);
  return response != nullptr ? 0 : 1;
}

// shutdown -u: Shutdown-All-Printers on the server's system object.
int shutdownServer(Server& server, const char* program) {
  ipp_t* response = ask(server, newRequest(IPP_OP_SHUTDOWN_ALL_PRINTERS, "system-uri", server.systemUri),
                        "/ipp/system", program, "shut the server down");
  ippDelete(response);
  return response != nullptr ? 0 : 1;
}

// drivers: one line per driver, NAME "DESCRIPTION" "DEVICE-ID", as PAPPL
// writes them.
int showDrivers(const AppSetup& setup) {
  for (const pappl_pr_driver_t& driver : setup.drivers) {
    std::printf("%s \"%s\" \"%s\"\n", driver.name, driver.description,
                driver.device_id != nullptr ? driver.device_id : "");
  }
  return 0;
}

bool usesLocalSocket(const CommandLine& line) {
  for (const char* command : kSocketCommands) {
    if (line.command == command) return line.uri == nullptr && (!line.command.empty() || line.files > 0);
  }
  return false;
}

}  // namespace

bool runOwnCommand(int argc, char* argv[], AppSetup& setup, int& status) {
  CommandLine line = parseCommandLine(argc, argv);
  const char* program = setup.programName.c_str();
  bool own = !line.help && (isOneOf(line.command, {"server", "drivers", "printers", "status", "modify", "delete"}) ||
                            (line.command == "shutdown" && line.uri != nullptr));
  if (own && line.command == "server") {
    status = runServer(line.numOptions, line.options, setup);
  } else if (own && line.command == "drivers") {
    status = showDrivers(setup);
  } else if (own) {
    Server server;
    if (!connectServer(line, setup, server)) {
      status = 1;
    } else if (line.command == "printers") {
      status = showPrinters(server, program);
    } else if (line.command == "status") {
      status = showStatus(server, program);
    } else if (line.command == "modify") {
      status = modifyPrinter(server, line, program);
    } else if (line.command == "delete") {
      status = deletePrinter(server, program);
    } else {
      status = shutdownServer(server, program);
    }
  }
  cupsFreeOptions(line.numOptions, line.options);
  return own;
}

bool noServerForCommand(int argc, char* argv[], const AppSetup& setup) {
  CommandLine line = parseCommandLine(argc, argv);
  bool missing = false;
  if (!line.help && usesLocalSocket(line)) {
    std::vector<std::string> paths = serverSocketPaths(setup.programName.c_str());
    missing = std::none_of(paths.begin(), paths.end(), serverAnswersAt);
    if (missing) sayNoServer(setup);
  }
  cupsFreeOptions(line.numOptions, line.options);
  return missing;
}
