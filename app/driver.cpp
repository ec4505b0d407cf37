// The drivers of the Printer Application: the model table as PAPPL drivers,
// two per model, for a printer loaded with an 80 mm or a 58 mm roll.
// Every model prints at 203 dpi on 58 and 80 mm rolls (and the PPD's reduced
// A4 and Letter pages and fixed-length tickets); two-colour models print in
// black and red or in black; each model offers the options of its PPD as
// vendor attributes, and cutting models also take finishings trim.
#include "app/driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/job_options.h"
#include "app/localization.h"
#include "app/model_names.h"
#include "app/system.h"
#include "app/web_pages.h"
#include "core/model_table.h"

namespace {

constexpr int kResolution = 203;
// The media sizes of the two rolls (mediaSizes()).
constexpr size_t kWideRoll = 0;
constexpr size_t kNarrowRoll = 2;

// The drivers' names, descriptions and device IDs, two per model (80 and
// 58 mm roll) in the model table's order; filled once, kept for the run.
struct DriverStrings {
  std::vector<std::string> names, descriptions, deviceIds;
};

const DriverStrings& driverStrings() {
  static const DriverStrings strings = [] {
    DriverStrings made;
    for (const ModelRow& row : ModelTable) {
      for (bool narrow : {false, true}) {
        made.names.push_back(driverNameOf(row.model, narrow));
        made.descriptions.push_back(driverDescriptionOf(row, narrow));
        made.deviceIds.push_back(deviceIdOf(row.model));
      }
    }
    return made;
  }();
  return strings;
}

// A media collection of `size` with its side margins, from the roll.
pappl_media_col_t mediaCol(const MediaSize& size, const char* source, const char* type) {
  pappl_media_col_t media{};
  std::snprintf(media.size_name, sizeof media.size_name, "%s", size.name);
  media.size_width = size.width;
  media.size_length = size.length;
  media.left_margin = media.right_margin = size.sideMargin;
  std::snprintf(media.source, sizeof media.source, "%s", source);
  std::snprintf(media.type, sizeof media.type, "%s", type);
  media.tracking = PAPPL_MEDIA_TRACKING_CONTINUOUS;
  return media;
}

// The media size of a PWG name, or nullptr.
const MediaSize* mediaSizeNamed(const char* name) {
  for (const MediaSize& size : mediaSizes()) {
    if (std::strcmp(size.name, name) == 0) return &size;
  }
  return nullptr;
}

// The sizes offered, the roll's as ready and default media. PAPPL gives every
// size of media-col-database the same side margins, the 80 mm roll's (the
// narrowest); ready and default media carry their own.
void setMedia(pappl_pr_driver_data_t& data, bool narrowRoll) {
  std::span<const MediaSize> sizes = mediaSizes();
  data.num_media = 0;
  for (const MediaSize& size : sizes) {
    if (size.offered) data.media[data.num_media++] = size.name;
  }
  data.left_right = sizes[kWideRoll].sideMargin;
  data.bottom_top = 0;
  data.num_source = 1;
  data.source[0] = "main-roll";
  data.num_type = 1;
  data.type[0] = "continuous";
  data.tracking_supported = PAPPL_MEDIA_TRACKING_CONTINUOUS;
  data.media_default = mediaCol(sizes[narrowRoll ? kNarrowRoll : kWideRoll], data.source[0], data.type[0]);
  data.media_ready[0] = data.media_default;
}

// Gives the printer's ready media its own side margins, which PAPPL's media
// page and Set-Printer-Attributes replace by the 80 mm roll's; PAPPL makes
// the ready roll the default media as well.
void settleReadyMargins(pappl_printer_t* printer, void*) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  pappl_media_col_t& ready = data.media_ready[0];
  const MediaSize* size = mediaSizeNamed(ready.size_name);
  if (size == nullptr || (ready.left_margin == size->sideMargin && ready.right_margin == size->sideMargin &&
                          ready.top_margin == 0 && ready.bottom_margin == 0)) {
    return;
  }
  ready.left_margin = ready.right_margin = size->sideMargin;
  ready.top_margin = ready.bottom_margin = 0;
  papplPrinterSetReadyMedia(printer, data.num_source, data.media_ready);
}

// "name-supported" and "name-default" of one vendor option.
void addVendorAttributes(ipp_t* attrs, const JobOption& option) {
  std::string supported = std::string(option.ipp) + "-supported";
  std::string byDefault = std::string(option.ipp) + "-default";
  if (option.choices.front().ipp == nullptr) {
    std::vector<int> values;
    for (const OptionChoice& choice : option.choices) values.push_back(choice.number);
    ippAddIntegers(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, supported.c_str(), static_cast<int>(values.size()),
                   values.data());
    ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, byDefault.c_str(), option.defaultNumber);
    return;
  }
  std::vector<const char*> keywords;
  const char* defaultKeyword = nullptr;
  for (const OptionChoice& choice : option.choices) {
    keywords.push_back(choice.ipp);
    if (choice.number == option.defaultNumber) defaultKeyword = choice.ipp;
  }
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), static_cast<int>(keywords.size()),
                nullptr, keywords.data());
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, byDefault.c_str(), nullptr, defaultKeyword);
}

// The languages of the printer's strings files, once (see pappl_workarounds.cpp);
// added value by value, as a call of ippAddStrings with this name is dropped.
void addStringsLanguages(ipp_t* attrs) {
  ipp_attribute_t* languages =
      ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_LANGUAGE, "printer-strings-languages-supported", nullptr, "en");
  int index = 1;
  for (const char* language : catalogueLanguages()) ippSetString(attrs, &languages, index++, language);
}

void setVendorOptions(pappl_pr_driver_data_t& data, ipp_t* attrs, const ModelRow& model) {
  data.num_vendor = 0;
  for (const JobOption* option : vendorOptions()) {
    if (!readsOption(&model, *option)) continue;
    data.vendor[data.num_vendor++] = option->ipp;
    addVendorAttributes(attrs, *option);
  }
}

}  // namespace

std::vector<pappl_pr_driver_t> talveroDrivers() {
  const DriverStrings& strings = driverStrings();
  std::vector<pappl_pr_driver_t> drivers;
  for (size_t i = 0; i < strings.names.size(); ++i) {
    drivers.push_back({strings.names[i].c_str(), strings.descriptions[i].c_str(), strings.deviceIds[i].c_str(),
                       nullptr});
  }
  return drivers;
}

const char* talveroAutoAdd(const char*, const char*, const char* deviceId, void*) {
  // A printer that added itself starts with the 80 mm roll's driver; the
  // owner sets a 58 mm roll on the Media page.
  DeviceMatch match = matchDeviceId(deviceId);
  if (match.model == nullptr) return nullptr;
  return driverStrings().names[2 * static_cast<size_t>(match.model - ModelTable.data())].c_str();
}

void settleRollMargins(pappl_system_t* system) {
  papplSystemIteratePrinters(system, settleReadyMargins, nullptr);
}

bool talveroDriverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri, const char*,
                           pappl_pr_driver_data_t* data, ipp_t** attrs, void* context) {
  // A file:// printer writes wherever the server may write: only a server
  // started with -o file-devices=yes (for tests) takes one.
  const auto* setup = static_cast<const AppSetup*>(context);
  if (deviceUri != nullptr && std::strncmp(deviceUri, "file:", 5) == 0 && (setup == nullptr || !setup->fileDevices)) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR,
             "Refused the device \"%s\": file:// devices are for tests, on a server started with -o file-devices=yes.",
             deviceUri);
    return false;
  }
  DriverChoice driver = driverOf(driverName);
  const ModelRow* model = driver.model;
  if (model == nullptr) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unknown driver \"%s\".", driverName ? driverName : "(null)");
    return false;
  }
  data->extension = const_cast<ModelRow*>(model);
  data->rstartjob_cb = talveroStartJob;
  data->rstartpage_cb = talveroStartPage;
  data->rwriteline_cb = talveroWriteLine;
  data->rendpage_cb = talveroEndPage;
  data->rendjob_cb = talveroEndJob;
  data->printfile_cb = talveroPrintRaw;
  data->format = kPrinterReadyFormat;  // PAPPL compares every job's format with it: never nullptr
  data->status_cb = talveroStatusCallback;
  data->testpage_cb = talveroTestPage;
  data->delete_cb = removePrinterFiles;

  std::snprintf(data->make_and_model, sizeof data->make_and_model, "%s", makeAndModelOf(model->model).c_str());
  data->ppm = 10;
  data->kind = PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL;
  data->orient_default = IPP_ORIENT_PORTRAIT;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->sides_supported = data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->duplex = PAPPL_DUPLEX_NONE;

  // The page's dots are separated here, not by PAPPL: 8-bit pages only, in
  // grey or colour for every model (PAPPL passes PWG raster on unconverted).
  // A black-only model prints colours in black, red solid, as the prefilter
  // does; only from a colour page can it tell red from grey, so it, too,
  // says it takes colour (PAPPL takes colour raster only from a printer that
  // offers print-color-mode color; CUPS renders colour pages only for a
  // colour printer, and defaults it to colour for print-color-mode auto).
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_SRGB_8;
  data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME;
  data->color_default = model->twoColour ? PAPPL_COLOR_MODE_COLOR : PAPPL_COLOR_MODE_AUTO;
  data->ppm_color = data->ppm;  // PAPPL's sign of a colour printer (color-supported)
  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = kResolution;
  data->x_default = data->y_default = kResolution;
  if (model->profile == Profile::Full && model->pageEnd == PageEnd::Cut) data->finishings = PAPPL_FINISHINGS_TRIM;

  setMedia(*data, driver.narrowRoll);
  *attrs = ippNew();
  setVendorOptions(*data, *attrs, *model);
  addStringsLanguages(*attrs);
  return true;
}
