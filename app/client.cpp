// Connections of the sub-commands to a printer; see client.h.
#include "app/client.h"

#include <cstring>

#include "app/local_socket.h"

bool connectPrinter(const char* programName, const char* printerUri, const char* printerName,
                    PrinterConnection& connection, std::string& why) {
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (printerUri != nullptr) {
    if (httpSeparateURI(HTTP_URI_CODING_ALL, printerUri, scheme, sizeof scheme, user, sizeof user, host,
                        sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK ||
        (std::strcmp(scheme, "ipp") != 0 && std::strcmp(scheme, "ipps") != 0)) {
      why = std::string("bad printer URI \"") + printerUri + "\"";
      return false;
    }
    connection.uri = printerUri;
    connection.resource = resource;
    connection.http = httpConnect2(host, port, nullptr, AF_UNSPEC,
                                   std::strcmp(scheme, "ipps") == 0 ? HTTP_ENCRYPTION_ALWAYS
                                                                    : HTTP_ENCRYPTION_IF_REQUESTED,
                                   1, 30000, nullptr);
  } else {
    // The local socket; the printer by name, or the default printer.
    connection.resource = printerName != nullptr ? std::string("/ipp/print/") + printerName : "/ipp/print";
    connection.uri = "ipp://localhost" + connection.resource;
    for (const std::string& path : serverSocketPaths(programName)) {
      if (!serverAnswersAt(path)) continue;
      connection.http = httpConnect2(path.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
      if (connection.http != nullptr) break;
    }
  }
  if (connection.http == nullptr) why = std::string("unable to connect to the server: ") + cupsLastErrorString();
  return connection.http != nullptr;
}

ipp_t* printerAttributes(PrinterConnection& connection, const char* language, std::string& why) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  // Printer strings (printer-strings-uri) come in the request's language.
  ipp_attribute_t* natural = ippFindAttribute(request, "attributes-natural-language", IPP_TAG_LANGUAGE);
  if (natural != nullptr && language != nullptr) ippSetString(request, &natural, 0, language);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, connection.uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ipp_t* response = cupsDoRequest(connection.http, request, connection.resource.c_str());
  if (cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
    why = std::string("unable to get the printer's attributes: ") + cupsLastErrorString();
    ippDelete(response);
    return nullptr;
  }
  return response;
}
