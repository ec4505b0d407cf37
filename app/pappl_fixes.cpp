// Four faults of PAPPL 1.3.1 (Debian 12's libpappl1), mended where PAPPL
// calls out through the dynamic linker: the program defines these public
// functions itself (the link exports them, see CMakeLists.txt), so PAPPL's
// own calls reach the definitions below, which do their check and hand on to
// the library's definition.
//   - papplSystemHashPassword hashes a password against an existing hash
//     with the whole hash as its nonce, so the web login accepted any
//     password and the Security page never accepted the old one. Here the
//     nonce is the part before '~', as in a new hash.
//   - papplPrinterSetDriverDefaults stores any value for a vendor attribute
//     (from Set-Printer-Attributes or the Printing Defaults page), also one
//     that is not among its -supported values. Here such a value is refused:
//     the client gets client-error-attributes-or-values-not-supported and
//     nothing is stored.
//   - The `submit` command takes a job as printed when the answer names a
//     job id, also when its status says the job was refused (a PWG raster
//     job while another prints is answered server-error-busy, with the id
//     of the job it aborted). Here such an answer loses its job id, so that
//     `submit` says why and exits with 1.
//   - Listing devices (the web page "Add Printer", the `devices` command)
//     asks Avahi for network printers with a client that is null when there
//     is no D-Bus or avahi-daemon, and Avahi aborts the process. Here the
//     browser is simply not made, and PAPPL reports that it cannot browse.
#include <dlfcn.h>

#include <avahi-client/lookup.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <pappl/pappl.h>

#include "app/job_options.h"
#include "app/login.h"

namespace {

// The library's own definition of `name`, the next one after the program's.
template <typename Function>
Function libraryDefinition(const char* name) {
  auto function = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
  if (function == nullptr) {
    std::fprintf(stderr, "talvero-printer-app: %s not found in the libraries: %s\n", name, dlerror());
    std::abort();
  }
  return function;
}

// The vendor option whose IPP attribute is `attribute`, or nullptr.
const JobOption* vendorOptionNamed(const char* attribute) {
  for (const JobOption* option : vendorOptions()) {
    if (std::strcmp(option->ipp, attribute) == 0) return option;
  }
  return nullptr;
}

// The first vendor value of `vendor` that is not a choice of its option.
const cups_option_t* unsupportedVendorValue(const pappl_pr_driver_data_t& data, int count,
                                            const cups_option_t* vendor) {
  for (int i = 0; i < data.num_vendor; ++i) {
    const char* value = cupsGetOption(data.vendor[i], count, const_cast<cups_option_t*>(vendor));
    const JobOption* option = vendorOptionNamed(data.vendor[i]);
    if (value != nullptr && option != nullptr && choiceNumberOf(*option, value) < 0) {
      for (int j = 0; j < count; ++j) {
        if (std::strcmp(vendor[j].name, data.vendor[i]) == 0) return &vendor[j];
      }
    }
  }
  return nullptr;
}

}  // namespace

extern "C" {

char* papplSystemHashPassword(pappl_system_t* system, const char* salt, const char* password, char* buffer,
                              size_t bufsize) {
  if (system == nullptr || password == nullptr || buffer == nullptr || bufsize == 0) {
    if (buffer != nullptr && bufsize > 0) *buffer = '\0';
    return buffer;
  }
  char nonce[32];
  std::snprintf(nonce, sizeof nonce, "%08x%08x", papplGetRand(), papplGetRand());
  return hashPassword(salt, nonce, password, buffer, bufsize);
}

bool papplPrinterSetDriverDefaults(pappl_printer_t* printer, pappl_pr_driver_data_t* data, int num_vendor,
                                   cups_option_t* vendor) {
  using Function = bool (*)(pappl_printer_t*, pappl_pr_driver_data_t*, int, cups_option_t*);
  static const Function library = libraryDefinition<Function>("papplPrinterSetDriverDefaults");
  if (data != nullptr) {
    if (const cups_option_t* bad = unsupportedVendorValue(*data, num_vendor, vendor)) {
      papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Refused %s-default=%s: not one of the values of %s-supported.",
                      bad->name, bad->value, bad->name);
      return false;
    }
  }
  return library(printer, data, num_vendor, vendor);
}

ipp_t* cupsDoFileRequest(http_t* http, ipp_t* request, const char* resource, const char* filename) {
  using Function = ipp_t* (*)(http_t*, ipp_t*, const char*, const char*);
  static const Function library = libraryDefinition<Function>("cupsDoFileRequest");
  ipp_t* response = library(http, request, resource, filename);
  if (response != nullptr && ippGetStatusCode(response) > IPP_STATUS_OK_CONFLICTING) {
    ippDeleteAttribute(response, ippFindAttribute(response, "job-id", IPP_TAG_INTEGER));
  }
  return response;
}

AvahiServiceBrowser* avahi_service_browser_new(AvahiClient* client, AvahiIfIndex interface, AvahiProtocol protocol,
                                               const char* type, const char* domain, AvahiLookupFlags flags,
                                               AvahiServiceBrowserCallback callback, void* userdata) {
  using Function = AvahiServiceBrowser* (*)(AvahiClient*, AvahiIfIndex, AvahiProtocol, const char*, const char*,
                                            AvahiLookupFlags, AvahiServiceBrowserCallback, void*);
  static const Function library = libraryDefinition<Function>("avahi_service_browser_new");
  if (client == nullptr) return nullptr;  // no D-Bus or no avahi-daemon
  return library(client, interface, protocol, type, domain, flags, callback, userdata);
}

}  // extern "C"
