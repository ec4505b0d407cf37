// The Printing Defaults page of a printer (/NAME/printing): the colour mode
// and every vendor option of the model, each with its label and its
// choices' labels in the reader's language; "Save Changes" sets them as the
// printer's defaults (papplPrinterSetDriverDefaults), which every job then
// uses unless it names its own. It replaces PAPPL's page of the same path,
// which shows attribute names and PAPPL's own colour labels.
#include <cstring>
#include <string>
#include <vector>

#include "app/job_options.h"
#include "app/localization.h"
#include "app/vendor_defaults.h"
#include "app/web_pages.h"

namespace {

const ModelRow& modelOf(pappl_printer_t* printer, pappl_pr_driver_data_t& data) {
  papplPrinterGetDriverData(printer, &data);
  return *static_cast<const ModelRow*>(data.extension);
}

bool isColour(pappl_color_mode_t mode) {
  return mode == PAPPL_COLOR_MODE_COLOR || mode == PAPPL_COLOR_MODE_AUTO;
}

// Applies the posted form; returns the banner to show.
const char* saveSettings(pappl_client_t* client, pappl_printer_t* printer) {
  cups_option_t* form = nullptr;
  int count = papplClientGetForm(client, &form);
  const char* status = nullptr;
  if (count == 0) {
    status = "Invalid form data.";
  } else if (!papplClientIsValidForm(client, count, form)) {
    status = "Invalid form submission.";
  } else {
    pappl_pr_driver_data_t data;
    const ModelRow& model = modelOf(printer, data);
    const char* mode = cupsGetOption("print-color-mode", count, form);
    if (model.twoColour && mode != nullptr) {
      data.color_default = std::strcmp(mode, "monochrome") == 0 ? PAPPL_COLOR_MODE_MONOCHROME : PAPPL_COLOR_MODE_COLOR;
    }
    int vendorCount = 0;
    cups_option_t* vendor = nullptr;
    for (const JobOption* option : vendorOptions()) {
      const char* value = cupsGetOption(option->ipp, count, form);
      if (readsOption(&model, *option) && value != nullptr && choiceNumberOf(*option, value) >= 0) {
        vendorCount = cupsAddOption(option->ipp, value, vendorCount, &vendor);
      }
    }
    status = papplPrinterSetDriverDefaults(printer, &data, vendorCount, vendor) ? "Changes saved."
                                                                                  : "Bad printer defaults.";
    cupsFreeOptions(vendorCount, vendor);
  }
  cupsFreeOptions(count, form);
  return status;
}

// The colour row of a two-colour model: black and red, or black only.
void putColourRow(pappl_client_t* client, bool colour) {
  papplClientHTMLPrintf(client, "<tr><th>%s:</th><td>", tr(client, findJobOption("ColorModel")->label.english));
  for (bool choice : {true, false}) {
    papplClientHTMLPrintf(client,
                          "<label><input type=\"radio\" name=\"print-color-mode\" value=\"%s\"%s> %s</label> ",
                          choice ? "color" : "monochrome", choice == colour ? " checked" : "",
                          tr(client, colourModeLabel(choice)));
  }
  papplClientHTMLPuts(client, "</td></tr>\n");
}

// One vendor option: its label and a list of its choices, `current` selected.
void putOptionRow(pappl_client_t* client, const JobOption& option, int32_t current) {
  papplClientHTMLPrintf(client, "<tr><th><label for=\"%s\">%s:</label></th><td><select name=\"%s\" id=\"%s\">",
                        option.ipp, tr(client, option.label.english), option.ipp, option.ipp);
  for (const OptionChoice& choice : option.choices) {
    papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", ippValueOf(choice).c_str(),
                          choice.number == current ? " selected" : "", tr(client, choice.label.english));
  }
  papplClientHTMLPuts(client, "</select></td></tr>\n");
}

// The form with the printer's current defaults.
void putSettingsForm(pappl_client_t* client, pappl_printer_t* printer) {
  pappl_pr_driver_data_t data;
  const ModelRow& model = modelOf(printer, data);
  char path[1024];
  papplPrinterGetPath(printer, "media", path, sizeof path);
  papplClientHTMLStartForm(client, papplClientGetURI(client), false);
  papplClientHTMLPuts(client, "<table class=\"form\"><tbody>\n");
  papplClientHTMLPrintf(client, "<tr><th>%s:</th><td>%s <a class=\"btn\" href=\"%s\">%s</a></td></tr>\n",
                        tr(client, "Paper"), tr(client, mediaLabel(data.media_default.size_name)), path,
                        tr(client, "Configure Media"));
  if (model.twoColour) putColourRow(client, isColour(data.color_default));
  VendorDefaults defaults{papplPrinterGetDriverAttributes(printer), {}};
  for (const JobOption* option : vendorOptions()) {
    if (!readsOption(&model, *option)) continue;
    const char* value = vendorDefault(option->ipp, &defaults);
    int32_t current = value != nullptr ? choiceNumberOf(*option, value) : -1;
    putOptionRow(client, *option, current >= 0 ? current : option->defaultNumber);
  }
  ippDelete(defaults.attributes);
  papplClientHTMLPrintf(client, "<tr><th></th><td><input type=\"submit\" value=\"%s\"></td></tr>\n"
                                "</tbody></table></form>\n", tr(client, "Save Changes"));
}

}  // namespace

bool settingsPage(pappl_client_t* client, void* data) {
  auto* printer = static_cast<pappl_printer_t*>(data);
  if (!papplClientHTMLAuthorize(client)) return true;
  const char* status = papplClientGetMethod(client) == HTTP_STATE_POST ? saveSettings(client, printer) : nullptr;
  papplClientHTMLPrinterHeader(client, printer, "Printing Defaults", 0, nullptr, nullptr);
  if (status != nullptr) papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", tr(client, status));
  putSettingsForm(client, printer);
  papplClientHTMLPrinterFooter(client);
  return true;
}
