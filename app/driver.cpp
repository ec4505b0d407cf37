// The drivers of the Printer Application: the model table as PAPPL drivers.
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
#include "app/system.h"
#include "filter/model_table.h"

namespace {

constexpr int kResolution = 203;
// Printer-ready ESC/POS bytes, sent to the printer unchanged.
constexpr char kRawFormat[] = "application/vnd.talvero-escpos";
constexpr char kDriverPrefix[] = "talvero_tlv";

// "talvero_tlv031" for model 31.
std::string driverName(int32_t model) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%03d", kDriverPrefix, model);
  return name;
}

// "Talvero TLV-31" for model 31.
std::string modelName(int32_t model) { return "Talvero TLV-" + std::to_string(model); }

// The model row of a driver name, or nullptr.
const ModelRow* modelOfDriver(const char* name) {
  size_t prefix = sizeof kDriverPrefix - 1;
  if (name == nullptr || std::strncmp(name, kDriverPrefix, prefix) != 0) return nullptr;
  const ModelRow* row = findModel(std::atoi(name + prefix));
  return row != nullptr && driverName(row->model) == name ? row : nullptr;
}

void setMedia(pappl_pr_driver_data_t& data) {
  std::span<const MediaSize> sizes = mediaSizes();
  data.num_media = static_cast<int>(sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) data.media[i] = sizes[i].name;
  data.left_right = sizes[0].sideMargin;
  data.bottom_top = 0;
  data.num_source = 1;
  data.source[0] = "main-roll";
  data.num_type = 1;
  data.type[0] = "continuous";
  data.tracking_supported = PAPPL_MEDIA_TRACKING_CONTINUOUS;

  pappl_media_col_t& media = data.media_default;
  std::snprintf(media.size_name, sizeof media.size_name, "%s", sizes[0].name);
  media.size_width = sizes[0].width;
  media.size_length = sizes[0].length;
  media.left_margin = media.right_margin = sizes[0].sideMargin;
  std::snprintf(media.source, sizeof media.source, "%s", data.source[0]);
  std::snprintf(media.type, sizeof media.type, "%s", data.type[0]);
  media.tracking = PAPPL_MEDIA_TRACKING_CONTINUOUS;
  data.media_ready[0] = media;
}

// "name-supported" and "name-default" of one vendor option.
void addVendorAttributes(ipp_t* attrs, const VendorOption& option) {
  std::string supported = std::string(option.attribute) + "-supported";
  std::string byDefault = std::string(option.attribute) + "-default";
  if (option.choices.front().keyword == nullptr) {
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
    keywords.push_back(choice.keyword);
    if (choice.number == option.defaultNumber) defaultKeyword = choice.keyword;
  }
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), static_cast<int>(keywords.size()),
                nullptr, keywords.data());
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, byDefault.c_str(), nullptr, defaultKeyword);
}

void setVendorOptions(pappl_pr_driver_data_t& data, ipp_t* attrs, const ModelRow& model) {
  data.num_vendor = 0;
  for (const VendorOption& option : vendorOptions()) {
    if (!option.offered(model)) continue;
    data.vendor[data.num_vendor++] = option.attribute;
    addVendorAttributes(attrs, option);
  }
}

}  // namespace

std::vector<pappl_pr_driver_t> talveroDrivers() {
  // The names and descriptions stay alive for the whole run.
  static std::vector<std::string> names, descriptions;
  std::vector<pappl_pr_driver_t> drivers;
  names.reserve(ModelTable.size());
  descriptions.reserve(ModelTable.size());
  for (const ModelRow& row : ModelTable) {
    names.push_back(driverName(row.model));
    descriptions.push_back(modelName(row.model));
    drivers.push_back({names.back().c_str(), descriptions.back().c_str(), nullptr, nullptr});
  }
  return drivers;
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
  const ModelRow* model = modelOfDriver(driverName);
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
  data->format = kRawFormat;  // PAPPL compares every job's format with it: never nullptr
  data->status_cb = talveroStatusCallback;

  std::snprintf(data->make_and_model, sizeof data->make_and_model, "%s", modelName(model->model).c_str());
  data->ppm = 10;
  data->kind = PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL;
  data->orient_default = IPP_ORIENT_PORTRAIT;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->sides_supported = data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->duplex = PAPPL_DUPLEX_NONE;

  // The page's dots are separated here, not by PAPPL: 8-bit pages only, in
  // grey or colour for every model (PAPPL passes PWG raster on unconverted;
  // a black-only model prints colours as black, as the prefilter does).
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_SRGB_8;
  if (model->twoColour) {
    data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME;
    data->color_default = PAPPL_COLOR_MODE_COLOR;
    data->ppm_color = data->ppm;  // PAPPL's sign of a colour printer (color-supported)
  } else {
    data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME;
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  }
  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = kResolution;
  data->x_default = data->y_default = kResolution;
  if (model->profile == Profile::Full && model->pageEnd == PageEnd::Cut) data->finishings = PAPPL_FINISHINGS_TRIM;

  setMedia(*data);
  *attrs = ippNew();
  setVendorOptions(*data, *attrs, *model);
  return true;
}
