#include "core/settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <cups/cups.h>

#include "core/model_table.h"
#include "core/numbered_choice.h"

int getOptionChoiceIndex(const char* keyword, ppd_file_t* ppd) {
  ppd_choice_t* choice = ppdFindMarkedChoice(ppd, keyword);
  if (choice == nullptr) {
    ppd_option_t* option = ppdFindOption(ppd, keyword);
    if (option == nullptr) return -1;
    choice = ppdFindChoice(option, option->defchoice);
    if (choice == nullptr) return -1;
  }
  return std::atoi(choice->choice);
}

namespace {

// Opens and marks the PPD; on failure says why.
ppd_file_t* openMarkedPpd(const char* options, const Diagnostics& log) {
  const char* path = std::getenv("PPD");
  if (path == nullptr || *path == '\0') {
    log.line("ERROR: No PPD file: the PPD environment variable is not set.\n");
    return nullptr;
  }
  ppd_file_t* ppd = ppdOpenFile(path);
  if (ppd == nullptr) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    if (status == PPD_FILE_OPEN_ERROR) {
      log.printf("ERROR: Unable to open PPD file \"%s\": %s\n", path, std::strerror(errno));
    } else {
      log.printf("ERROR: Unable to read PPD file \"%s\": %s on line %d.\n", path, ppdErrorString(status),
                 line);
    }
    return nullptr;
  }
  ppdMarkDefaults(ppd);
  cups_option_t* parsed = nullptr;
  int count = cupsParseOptions(options, 0, &parsed);
  if (count > 0) {
    cupsMarkOptions(ppd, count, parsed);  // conflicts are the PPD's business
    markNumberedChoices(ppd, count, parsed);
    cupsFreeOptions(count, parsed);
  }
  return ppd;
}

}  // namespace

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
  ppd_file_t* ppd = openMarkedPpd(options, log);
  if (ppd == nullptr) return kNoPpd;
  fillJobSettings(ppd->model_number, [ppd](const char* keyword) { return getOptionChoiceIndex(keyword, ppd); },
                  settings);
  ppdClose(ppd);
  if (findModel(settings.ModelNumber) == nullptr) return kModelUnsupported;
  log.printf("TALVERO DEBUG MSG: The Printer Model is : %d\n", settings.ModelNumber);
  return kModelSupported;
}
