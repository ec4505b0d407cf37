// The web pages the Printer Application adds to each printer's: its own
// Printing Defaults page (in place of PAPPL's, at /NAME/printing: every
// option under a label in the reader's language, with units, instead of
// PAPPL's attribute names) and the Logo page (/NAME/logo: upload, preview
// and store a logo in the printer). Both are for administrators, as PAPPL's
// settings pages are, and their forms carry PAPPL's CSRF token.
#pragma once

#include <pappl/pappl.h>

// PAPPL's printer creation callback: registers the pages of a new printer
// (before PAPPL registers its own, so ours take /NAME/printing) and links
// the Logo and Messages pages from the printer's pages.
void addPrinterPages(pappl_printer_t* printer, void* data);

// The printer's files (stored logos) are removed with it (driver delete
// callback).
void removePrinterFiles(pappl_printer_t* printer, pappl_pr_driver_data_t* data);

// The pages (resource callbacks; `printer` is the pappl_printer_t). True:
// the request was answered.
bool settingsPage(pappl_client_t* client, void* printer);
bool logoPage(pappl_client_t* client, void* printer);

// `text` (English) in the reader's language (the browser's first language
// that has a catalogue), or `text` itself.
const char* tr(pappl_client_t* client, const char* text);
