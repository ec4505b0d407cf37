// The test receipt, from the printer's web page ("Print Test Page", PAPPL's
// test page callback) and from the command line ("talvero-printer-app
// testpage -u URI" or "-d NAME"). Both fill the same TestPage from the
// printer's current settings and print it as an ordinary job of one
// picture (PNG), so it goes through the printer's job path like any page.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/client.h"
#include "app/driver.h"
#include "app/model_names.h"
#include "app/system.h"
#include "app/test_page.h"
#include "app/vendor_defaults.h"

namespace {

constexpr char kPngFormat[] = "image/png";

bool isColour(pappl_color_mode_t mode) {
  return mode != PAPPL_COLOR_MODE_MONOCHROME && mode != PAPPL_COLOR_MODE_BI_LEVEL &&
         mode != PAPPL_COLOR_MODE_AUTO_MONOCHROME && mode != PAPPL_COLOR_MODE_PROCESS_MONOCHROME;
}

// The test page of a printer of the server.
TestPage serverTestPage(pappl_printer_t* printer) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  const ModelRow& model = *static_cast<const ModelRow*>(data.extension);
  TestPage page;
  page.model = data.make_and_model;
  page.twoColour = model.twoColour;
  page.widthDots = printableDots(data.media_default.size_width, data.media_default.left_margin);
  VendorDefaults defaults{papplPrinterGetDriverAttributes(printer), {}};
  page.settings = testPageSettings(model, isColour(data.color_default), vendorDefault, &defaults);
  ippDelete(defaults.attributes);
  char host[256], path[1024];
  papplSystemGetHostName(papplPrinterGetSystem(printer), host, sizeof host);
  papplPrinterGetPath(printer, nullptr, path, sizeof path);
  page.printerUri = "ipp://" + std::string(host) + ":" +
                    std::to_string(papplSystemGetHostPort(papplPrinterGetSystem(printer))) + "/ipp/print" + path;
  const char* device = papplPrinterGetDeviceURI(printer);
  page.deviceUri = device != nullptr ? device : "";
  return page;
}

// The test page of a printer as a sub-command sees it: its attributes.
bool clientTestPage(ipp_t* attributes, TestPage& page, std::string& why) {
  const char* makeAndModel = ippGetString(ippFindAttribute(attributes, "printer-make-and-model", IPP_TAG_TEXT), 0,
                                          nullptr);
  const ModelRow* model = modelOfMakeAndModel(makeAndModel);
  if (model == nullptr) {
    why = std::string("not a Talvero printer: ") + (makeAndModel != nullptr ? makeAndModel : "no make and model");
    return false;
  }
  page.model = makeAndModel;
  page.twoColour = model->twoColour;
  ipp_t* media = ippGetCollection(ippFindAttribute(attributes, "media-col-default", IPP_TAG_BEGIN_COLLECTION), 0);
  ipp_t* size = ippGetCollection(ippFindAttribute(media, "media-size", IPP_TAG_BEGIN_COLLECTION), 0);
  int width = ippGetInteger(ippFindAttribute(size, "x-dimension", IPP_TAG_INTEGER), 0);
  int margin = ippGetInteger(ippFindAttribute(media, "media-left-margin", IPP_TAG_INTEGER), 0);
  if (width > 0) page.widthDots = printableDots(width, margin);
  const char* mode = ippGetString(ippFindAttribute(attributes, "print-color-mode-default", IPP_TAG_KEYWORD), 0,
                                  nullptr);
  VendorDefaults defaults{attributes, {}};
  page.settings = testPageSettings(*model, mode == nullptr || std::string(mode) != "monochrome", vendorDefault,
                                   &defaults);
  const char* uri = ippGetString(ippFindAttribute(attributes, "printer-uri-supported", IPP_TAG_URI), 0, nullptr);
  const char* device = ippGetString(ippFindAttribute(attributes, "smi55357-device-uri", IPP_TAG_URI), 0, nullptr);
  page.printerUri = uri != nullptr ? uri : "";
  page.deviceUri = device != nullptr ? device : "";
  return true;
}

// Print-Job of the PNG file `path`; returns the job id, 0 on failure.
int printFile(PrinterConnection& connection, const std::string& path, std::string& why) {
  ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, connection.uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, "Test Page");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, kPngFormat);
  ipp_t* response = cupsDoFileRequest(connection.http, request, connection.resource.c_str(), path.c_str());
  int job = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
  if (cupsLastError() > IPP_STATUS_OK_CONFLICTING || job <= 0) why = cupsLastErrorString();
  ippDelete(response);
  return why.empty() ? job : 0;
}

}  // namespace

const char* talveroTestPage(pappl_printer_t* printer, char* buffer, size_t bufsize) {
  // A file of its own: a second test page may be asked for before the first prints.
  std::string path = spoolDirectory() + "/test-receipt-XXXXXX";
  int fd = mkstemp(path.data());
  std::string why = fd < 0 ? "cannot create a file in the spool directory" : "";
  if (fd >= 0) close(fd);
  if (fd < 0 || !writeTestPagePng(drawTestPage(serverTestPage(printer)), path, why)) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Cannot write the test receipt: %s", why.c_str());
    return nullptr;
  }
  std::snprintf(buffer, bufsize, "%s", path.c_str());
  return buffer;
}

int talveroTestPageCommand(const char* programName, int count, cups_option_t* options, int, char**, void*) {
  PrinterConnection connection;
  std::string why;
  TestPage page;
  ipp_t* attributes = nullptr;
  bool ok = connectPrinter(programName, cupsGetOption("printer-uri", count, options),
                           cupsGetOption("printer-name", count, options), connection, why) &&
            (attributes = printerAttributes(connection, nullptr, why)) != nullptr &&
            clientTestPage(attributes, page, why);
  ippDelete(attributes);
  char path[1024];
  int fd = ok ? cupsTempFd(path, sizeof path) : -1;
  if (fd >= 0) close(fd);
  int job = fd >= 0 && writeTestPagePng(drawTestPage(page), path, why) ? printFile(connection, path, why) : 0;
  if (fd >= 0) unlink(path);
  if (job == 0) {
    std::fprintf(stderr, "%s: Unable to print the test page: %s\n", programName,
                 why.empty() ? "cannot create a temporary file" : why.c_str());
    return 1;
  }
  std::printf("%d\n", job);
  return 0;
}
