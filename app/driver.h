// The Printer Application's drivers: one per model of the model table, named
// talvero_tlvNNN ("Talvero TLV-NN"), and the PAPPL callbacks that print and
// ask the printer for its paper state.
#pragma once

#include <vector>

#include <pappl/pappl.h>

// The driver list for papplMainloop; the strings live as long as the process.
std::vector<pappl_pr_driver_t> talveroDrivers();

// PAPPL's driver callback: fills a printer's capabilities, callbacks and
// vendor attributes for driver `driverName`. False for an unknown driver,
// and for a file:// device unless the server allows them (`context` is the
// AppSetup).
bool talveroDriverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                           const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attrs,
                           void* context);

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

// Status (printer_status.cpp): PAPPL's status callback, which asks the
// printer for its paper state, and the same check a second after a job.
bool talveroStatusCallback(pappl_printer_t* printer);
void checkPaperAfterJob(pappl_printer_t* printer);
