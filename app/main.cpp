// talvero-printer-app: a driverless (IPP Everywhere) Printer Application for
// the Talvero receipt printers, on PAPPL. Clients send PWG raster, PNG or
// JPEG; each page is printed through the same pipelines and writers as the
// CUPS filter. PAPPL gives the usual sub-commands (server, add, drivers,
// printers, submit, jobs, options, shutdown, ...) and the web interface;
// "testpage" prints the test receipt, and "options" also lists the receipt
// printer's own options with their labels; the application runs some
// sub-commands itself (commands.cpp).
#include <cstring>

#include "app/driver.h"
#include "app/system.h"
#include "core/version.h"

int main(int argc, char* argv[]) {
  AppSetup setup;
  setup.drivers = talveroDrivers();
  const char* slash = std::strrchr(argv[0], '/');
  setup.programName = slash != nullptr ? slash + 1 : argv[0];
  int status = 0;
  if (runOwnCommand(argc, argv, setup, status)) return status;
  if (noServerForCommand(argc, argv, setup)) return 1;
  status = papplMainloop(argc, argv, TALVERO_VERSION, "Talvero receipt printers, driver " TALVERO_VERSION,
                         static_cast<int>(setup.drivers.size()), setup.drivers.data(), talveroAutoAdd,
                         talveroDriverCallback, "testpage", talveroTestPageCommand, talveroSystem, nullptr, &setup);
  if (status == 0 && isOptionsCommand(argc, argv)) status = printVendorOptions(argc, argv, setup.programName.c_str());
  return status;
}
