// The Logo page of a printer (/NAME/logo): the owner uploads a PNG or JPEG,
// sees it as it will print (the dots, in black and red where the printer
// stores red), picks logo 1, 2 or 3 and stores it. Storing is a job of the
// printer's own bytes (the model's store command), queued like any job, so
// it waits for a busy printer and shows in the job list. The page keeps the
// logos it stored, per printer and slot, in the spool directory: it shows
// them, and sends them again with FS q, which erases every stored image.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/driver.h"
#include "app/job_options.h"
#include "app/logo_image.h"
#include "app/system.h"
#include "app/test_page.h"
#include "app/web_pages.h"

namespace {

// The file of the printer's logo `slot`, or of the upload waiting to be
// stored (slot 0).
std::string logoPath(pappl_printer_t* printer, int slot) {
  return logoFile(spoolDirectory(), papplPrinterGetID(printer), slot);
}

const ModelRow& modelOf(pappl_printer_t* printer, pappl_pr_driver_data_t& data) {
  papplPrinterGetDriverData(printer, &data);
  return *static_cast<const ModelRow*>(data.extension);
}

std::string base64(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t n = uint32_t{bytes[i]} << 16;
    if (i + 1 < bytes.size()) n |= uint32_t{bytes[i + 1]} << 8;
    if (i + 2 < bytes.size()) n |= bytes[i + 2];
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
  }
  return out;
}

// The logo's picture, each dot `zoom` pixels, with a caption.
void putLogo(pappl_client_t* client, const LogoBitmap& logo, const std::string& caption) {
  papplClientHTMLPrintf(client,
                        "<figure style=\"display:inline-block;margin:0 16px 16px 0\"><img alt=\"%s\" "
                        "style=\"border:1px solid #888;image-rendering:pixelated\" width=\"%u\" src=\"data:image/png;"
                        "base64,%s\"><figcaption>%s (%u x %u)</figcaption></figure>\n",
                        caption.c_str(), logo.widthDots, base64(logoPng(logo)).c_str(), caption.c_str(),
                        logo.widthDots, logo.rows);
}

// Reads the uploaded picture as the printer will print it.
std::string uploadLogo(pappl_client_t* client, pappl_printer_t* printer, const char* upload) {
  pappl_pr_driver_data_t data;
  const ModelRow& model = modelOf(printer, data);
  uint32_t width =
      std::min(kMaxLogoWidth, printableDots(data.media_default.size_width, data.media_default.left_margin));
  LogoBitmap logo;
  std::string why;
  if (upload == nullptr) return tr(client, "Choose a PNG or JPEG file first.");
  if (!readLogo(upload, width, storesRed(model), logo, why)) {
    return std::string(tr(client, "The picture cannot be used:")) + " " + tr(client, why.c_str());
  }
  if (!saveLogo(logoPath(printer, 0), logo)) {
    return tr(client, "The logo cannot be kept: the spool directory is not writable.");
  }
  return tr(client, "Below is your logo as the printer will print it. Pick its number and store it.");
}

// Queues a job of the printer's own bytes that stores logo `slot`; false
// when it cannot (the job's file is removed then).
bool queueStoreJob(pappl_client_t* client, pappl_printer_t* printer, int slot, const std::vector<uint8_t>& bytes) {
  std::string path = spoolDirectory() + "/store-logo-XXXXXX";
  int fd = bytes.empty() ? -1 : mkstemp(path.data());
  if (fd < 0) return false;
  bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  written = close(fd) == 0 && written;
  const char* user = papplClientGetUsername(client);
  // PAPPL 1.3 keeps the job name's pointer, not a copy: the names live for the run.
  static const char* const kTitles[kLogoSlots] = {"Store logo 1", "Store logo 2", "Store logo 3"};
  if (written && papplJobCreateWithFile(printer, user != nullptr && *user ? user : "guest", kPrinterReadyFormat,
                                        kTitles[slot - 1], 0, nullptr, path.c_str()) != nullptr) {
    return true;
  }
  unlink(path.c_str());
  return false;
}

// Stores the waiting upload as logo `slot`: queues the store job and keeps
// the logo as stored.
std::string storeLogo(pappl_client_t* client, pappl_printer_t* printer, int slot) {
  pappl_pr_driver_data_t data;
  const ModelRow& model = modelOf(printer, data);
  LogoBitmap logos[kLogoSlots];
  std::array<const LogoBitmap*, kLogoSlots> slots{};
  if (slot < 1 || slot > kLogoSlots || !loadLogo(logoPath(printer, 0), logos[slot - 1])) {
    return tr(client, "Upload a logo first.");
  }
  for (int i = 1; i <= kLogoSlots; ++i) {
    if (i == slot || loadLogo(logoPath(printer, i), logos[i - 1])) slots[i - 1] = &logos[i - 1];
  }
  if (!queueStoreJob(client, printer, slot, storeLogoBytes(model, slot, slots)) ||
      !saveLogo(logoPath(printer, slot), logos[slot - 1])) {
    return tr(client, "The logo could not be sent to the printer (see the log).");
  }
  unlink(logoPath(printer, 0).c_str());
  char text[256];
  std::snprintf(text, sizeof text, tr(client, "Logo %d is being stored in the printer."), slot);
  return text;
}

// The logo number of a form value, 0 when it is none.
int slotOf(const char* value) { return value != nullptr ? std::atoi(value) : 0; }

// Handles a posted form; returns the banner.
std::string postLogoForm(pappl_client_t* client, pappl_printer_t* printer) {
  cups_option_t* form = nullptr;
  int count = papplClientGetForm(client, &form);
  std::string status;
  const char* posted = cupsGetOption("action", count, form);
  std::string action = posted != nullptr ? posted : "";
  if (count == 0 || action.empty()) {
    status = tr(client, "Invalid form data.");
  } else if (!papplClientIsValidForm(client, count, form)) {
    status = tr(client, "Invalid form submission.");
  } else if (action == "upload") {
    status = uploadLogo(client, printer, cupsGetOption("logo", count, form));
  } else if (action == "store") {
    status = storeLogo(client, printer, slotOf(cupsGetOption("slot", count, form)));
  }
  cupsFreeOptions(count, form);
  return status;
}

}  // namespace

namespace {

// What the owner must know before storing: how the printer prints stored
// logos, that its memory wears, and what this printer's command erases.
void putExplanation(pappl_client_t* client, const ModelRow& model) {
  // The option and the page as the reader sees them named elsewhere.
  const char* option = tr(client, findJobOption("LogoPosition")->label.english);
  const char* page = tr(client, "Printing Defaults");
  char text[1024];
  std::snprintf(text, sizeof text,
                tr(client, "Receipts print a logo stored in the printer when \"%s\" is set on the %s page. Upload a "
                           "PNG or JPEG picture, check how it will print, then store it as logo 1, 2 or 3."),
                option, page);
  papplClientHTMLPrintf(client, "<p>%s</p>\n", text);
  papplClientHTMLPrintf(client, "<p><b>%s</b></p>\n",
                        tr(client, "The printer's memory takes a limited number of writes: store a logo only when it "
                                   "changes."));
  papplClientHTMLPrintf(client, "<p>%s</p>\n",
                        tr(client, storesRed(model) ? "This printer prints the logo's red parts in red."
                                                    : "This printer prints logos in black."));
  if (!storesByKeyCode(model)) {
    papplClientHTMLPrintf(client, "<p>%s</p>\n",
                          tr(client, "This printer erases all its stored logos whenever one is stored: the logos "
                                     "stored from this page in the other places are sent again with it, logos "
                                     "stored by other programs are lost."));
  }
}

// The forms: upload a picture; store the waiting one.
void putLogoForms(pappl_client_t* client, pappl_printer_t* printer) {
  papplClientHTMLPrintf(client, "<h2 class=\"title\">%s</h2>\n", tr(client, "New logo"));
  papplClientHTMLStartForm(client, papplClientGetURI(client), true);
  papplClientHTMLPrintf(client,
                        "<input type=\"hidden\" name=\"action\" value=\"upload\"><input type=\"file\" name=\"logo\" "
                        "accept=\"image/png,image/jpeg\" required> <input type=\"submit\" value=\"%s\"></form>\n",
                        tr(client, "Show how it prints"));
  LogoBitmap waiting;
  if (!loadLogo(logoPath(printer, 0), waiting)) return;
  papplClientHTMLPuts(client, "<div>");
  putLogo(client, waiting, tr(client, "As it will print"));
  papplClientHTMLPuts(client, "</div>\n");
  papplClientHTMLStartForm(client, papplClientGetURI(client), false);
  papplClientHTMLPrintf(client, "<input type=\"hidden\" name=\"action\" value=\"store\"><select name=\"slot\">");
  for (int slot = 1; slot <= kLogoSlots; ++slot) {
    papplClientHTMLPrintf(client, "<option value=\"%d\">%s %d</option>", slot, tr(client, "Logo"), slot);
  }
  papplClientHTMLPrintf(client, "</select> <input type=\"submit\" value=\"%s\"></form>\n",
                        tr(client, "Store in the printer"));
}

}  // namespace

bool logoPage(pappl_client_t* client, void* data) {
  auto* printer = static_cast<pappl_printer_t*>(data);
  if (!papplClientHTMLAuthorize(client)) return true;
  std::string status = papplClientGetMethod(client) == HTTP_STATE_POST ? postLogoForm(client, printer) : "";
  pappl_pr_driver_data_t driver;
  const ModelRow& model = modelOf(printer, driver);
  papplClientHTMLPrinterHeader(client, printer, "Logo", 0, nullptr, nullptr);
  if (!status.empty()) papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", status.c_str());
  putExplanation(client, model);
  papplClientHTMLPrintf(client, "<h2 class=\"title\">%s</h2>\n", tr(client, "Stored logos"));
  bool any = false;
  papplClientHTMLPuts(client, "<div>");
  for (int slot = 1; slot <= kLogoSlots; ++slot) {
    LogoBitmap logo;
    if (!loadLogo(logoPath(printer, slot), logo)) continue;
    putLogo(client, logo, std::string(tr(client, "Logo")) + " " + std::to_string(slot));
    any = true;
  }
  papplClientHTMLPuts(client, "</div>\n");
  if (!any) papplClientHTMLPrintf(client, "<p>%s</p>\n", tr(client, "No logo has been stored from this page yet."));
  putLogoForms(client, printer);
  papplClientHTMLPrinterFooter(client);
  return true;
}
