// Registers the printer pages of web_pages.h and removes a printer's files
// with it.
#include "app/web_pages.h"

#include <unistd.h>

#include "app/logo_image.h"
#include "app/messages.h"
#include "app/system.h"

const char* tr(pappl_client_t* client, const char* text) { return papplClientGetLocString(client, text); }

void addPrinterPages(pappl_printer_t* printer, void*) {
  pappl_system_t* system = papplPrinterGetSystem(printer);
  char path[1024];
  // PAPPL adds its own pages after this callback and skips a path taken.
  papplPrinterGetPath(printer, "printing", path, sizeof path);
  papplSystemAddResourceCallback(system, path, "text/html", settingsPage, printer);
  papplPrinterGetPath(printer, "logo", path, sizeof path);
  papplSystemAddResourceCallback(system, path, "text/html", logoPage, printer);
  papplPrinterAddLink(printer, "Logo", path,
                      static_cast<pappl_loptions_t>(PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS));
  addMessagesPage(printer, nullptr);
}

void removePrinterFiles(pappl_printer_t* printer, pappl_pr_driver_data_t*) {
  for (int slot = 0; slot <= kLogoSlots; ++slot) {
    unlink(logoFile(spoolDirectory(), papplPrinterGetID(printer), slot).c_str());
  }
}
