#include "core/settings.h"

#include <cstdlib>
#include <string>

#include "core/model_table.h"
#include "core/ppd_file.h"

void fillJobSettings(int32_t model, const ChoiceReader& read, JobSettings& settings) {
  settings = JobSettings{};
  settings.ModelNumber = model;
  const ModelRow* row = findModel(model);

  settings.PageSize = read("PageSize");
  settings.PageType = read("PageType");
  settings.Rotation = read("Rotation");
  // An unsupported model reads the options of the widest profile: the record
  // is filled all the same, and only the result tells the caller it is not ours.
  if (row == nullptr || !row->compact) settings.FocusArea = read("FocusArea");
  if (row == nullptr || row->rleRows != 0) settings.CompPrinting = read("CompPrinting");
  settings.LogoPosition = read("LogoPosition");
  settings.LogoJustification = read("LogoJustification");
  settings.LogoImage = read("LogoImage");
  settings.LogoWidth = read("LogoWidth");
  settings.LineFeed = read("LineFeed");

  Profile profile = row == nullptr ? Profile::Full : row->profile;
  if (profile == Profile::Fixed) {
    settings.ColorModel = 1;
  } else {
    if (profile == Profile::Full) {
      settings.ColorModel = read("ColorModel");
      settings.PageCut = read("PageCut");
    }
    settings.CashDrawer = read("CashDrawer");
    settings.CashDrawerOpen = read("CashDrawerOpen");
    settings.CashDrawer1PulseWidth = read("CashDrawer1PulseWidth");
    settings.CashDrawer2PulseWidth = read("CashDrawer2PulseWidth");
  }
}

int initializeSettings(const char* options, JobSettings& settings, const Diagnostics& log) {
  std::string why;
  PpdFile ppd = openMarkedPpd(std::getenv("PPD"), options, why);
  if (!ppd) {
    log.printf("ERROR: %s\n", why.c_str());
    return kNoPpd;
  }
  ppd_file_t* file = ppd.get();
  fillJobSettings(file->model_number, [file](const char* keyword) { return getOptionChoiceIndex(keyword, file); },
                  settings);
  ppd.reset();
  if (findModel(settings.ModelNumber) == nullptr) return kModelUnsupported;
  log.printf("TALVERO DEBUG MSG: The Printer Model is : %d\n", settings.ModelNumber);
  return kModelSupported;
}
