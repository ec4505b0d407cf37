// "talvero-printer-app shutdown -u URI": PAPPL's own shutdown sub-command
// always talks to the local socket, whatever -u says, and so stops whichever
// server owns it. With -u this asks the server at URI itself, by IPP
// Shutdown-All-Printers on its system object.
#include "app/system.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <cups/cups.h>

namespace {

// The value of "-u" among the arguments after the sub-command, or nullptr.
const char* serverUri(int argc, char* argv[]) {
  for (int i = 2; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "-u") == 0) return argv[i + 1];
  }
  return nullptr;
}

}  // namespace

bool isRemoteShutdown(int argc, char* argv[]) {
  return argc >= 2 && std::strcmp(argv[1], "shutdown") == 0 && serverUri(argc, argv) != nullptr;
}

int remoteShutdown(int argc, char* argv[], const char* programName) {
  const char* uri = serverUri(argc, argv);
  char scheme[32], user[256], host[256], resource[256];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host, sizeof host, &port,
                      resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    std::fprintf(stderr, "%s: Bad server URI \"%s\".\n", programName, uri);
    return 1;
  }
  http_t* http = httpConnect2(host, port, nullptr, AF_UNSPEC,
                              std::strcmp(scheme, "ipps") == 0 ? HTTP_ENCRYPTION_ALWAYS : HTTP_ENCRYPTION_IF_REQUESTED,
                              1, 30000, nullptr);
  if (http == nullptr) {
    std::fprintf(stderr, "%s: Unable to connect to server: %s\n", programName, cupsLastErrorString());
    return 1;
  }
  char systemUri[1024];
  httpAssembleURI(HTTP_URI_CODING_ALL, systemUri, sizeof systemUri, "ipp", nullptr, host, port, "/ipp/system");
  ipp_t* request = ippNewRequest(IPP_OP_SHUTDOWN_ALL_PRINTERS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr, systemUri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippDelete(cupsDoRequest(http, request, "/ipp/system"));
  httpClose(http);
  if (cupsLastError() != IPP_STATUS_OK) {
    std::fprintf(stderr, "%s: Unable to shutdown server: %s\n", programName, cupsLastErrorString());
    return 1;
  }
  return 0;
}
