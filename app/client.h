// How the Printer Application's own sub-commands (testpage, the labelled
// part of options) reach a printer: by its URI (-u ipp://host:port/ipp/print/
// NAME), or on the server's local socket by name (-d NAME, or the default
// printer), as PAPPL's sub-commands do.
#pragma once

#include <string>

#include <cups/cups.h>

struct PrinterConnection {
  http_t* http = nullptr;
  std::string uri;       // the printer URI to put in requests
  std::string resource;  // the HTTP path requests go to

  PrinterConnection() = default;
  PrinterConnection(const PrinterConnection&) = delete;
  PrinterConnection& operator=(const PrinterConnection&) = delete;
  ~PrinterConnection() { httpClose(http); }
};

// Connects to the printer that `printerUri` (may be nullptr) or `printerName`
// (may be nullptr: the default printer) names. False, with the reason in
// `why`, when it cannot.
bool connectPrinter(const char* programName, const char* printerUri, const char* printerName,
                    PrinterConnection& connection, std::string& why);

// Get-Printer-Attributes (all attributes) in `language` ("en" when nullptr).
// nullptr, with the reason in `why`, when it fails.
ipp_t* printerAttributes(PrinterConnection& connection, const char* language, std::string& why);
