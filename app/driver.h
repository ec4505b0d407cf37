// The Printer Application's drivers: two per model of the model table,
// talvero_tlvNNN ("Talvero TLV-NN, black and red, 80 mm roll") and
// talvero_tlvNNN_58mm (the same on a 58 mm roll), and the PAPPL callbacks
// that print and ask the printer for its paper state.
#pragma once

#include <vector>

#include <pappl/pappl.h>

// Printer-ready ESC/POS bytes, sent to the printer unchanged; filters that
// print on their own (PNG, JPEG) convert to it.
constexpr char kPrinterReadyFormat[] = "application/vnd.talvero-escpos";

// The driver list for papplMainloop; the strings live as long as the process.
std::vector<pappl_pr_driver_t> talveroDrivers();

// PAPPL's auto-add callback ("autoadd", "Auto-Detect Driver" on the Add
// Printer page, "drivers -o device-id=..."): the driver for a printer's IEEE
// 1284 device ID, or nullptr when none of the drivers fits it.
const char* talveroAutoAdd(const char* deviceInfo, const char* deviceUri, const char* deviceId, void* data);

// PAPPL's driver callback: fills a printer's capabilities, callbacks and
// vendor attributes for driver `driverName`. False for an unknown driver,
// and for a file:// device unless the server allows them (`context` is the
// AppSetup).
bool talveroDriverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                           const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attrs,
                           void* context);

// Gives each printer's ready (and so default) media the side margins of its
// size; PAPPL's media page and Set-Printer-Attributes give every size the
// 80 mm roll's.
void settleRollMargins(pappl_system_t* system);

// Takes PNG and JPEG jobs from PAPPL's image filter (image_job.cpp): call
// before the printers are created.
void addImageFilters(pappl_system_t* system);

// Raster job callbacks (print_job.cpp).
bool talveroStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool talveroStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                      unsigned page);
bool talveroWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                      unsigned y, const unsigned char* line);
bool talveroEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                    unsigned page);
bool talveroEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// A job of printer-ready bytes (the driver's own format): copied to the
// device unchanged.
bool talveroPrintRaw(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// The test receipt (test_print.cpp): PAPPL's test page callback, which
// writes the printer's test receipt into the spool directory and returns its
// path (in `buffer`), and the "testpage" sub-command, which prints it on the
// printer of -u URI or -d NAME.
const char* talveroTestPage(pappl_printer_t* printer, char* buffer, size_t bufsize);
int talveroTestPageCommand(const char* programName, int count, cups_option_t* options, int fileCount,
                           char** files, void* data);

// Status (printer_status.cpp): PAPPL's status callback, which asks the
// printer for its paper state, and the same check a second after a job.
bool talveroStatusCallback(pappl_printer_t* printer);
void checkPaperAfterJob(pappl_printer_t* printer);
