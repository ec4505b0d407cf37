// Reads the ColorModel choice from the PPD and the job options; see
// color_model.h.
#include "prefilter/color_model.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <cups/cups.h>
#include <cups/ppd.h>

#include "core/numbered_choice.h"

bool readColorModel(const char* ppdPath, const char* options, int& choice, std::string& why) {
  if (ppdPath == nullptr || *ppdPath == '\0') {
    why = "the PPD environment variable is not set";
    return false;
  }
  ppd_file_t* ppd = ppdOpenFile(ppdPath);
  if (ppd == nullptr) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    why = std::string("cannot read PPD file \"") + ppdPath + "\": " +
          (status == PPD_FILE_OPEN_ERROR ? std::strerror(errno)
                                         : std::string(ppdErrorString(status)) + " on line " +
                                               std::to_string(line));
    return false;
  }
  ppdMarkDefaults(ppd);
  cups_option_t* parsed = nullptr;
  int count = cupsParseOptions(options != nullptr ? options : "", 0, &parsed);
  cupsMarkOptions(ppd, count, parsed);
  markNumberedChoices(ppd, count, parsed);
  cupsFreeOptions(count, parsed);

  choice = kNoColorModel;
  ppd_choice_t* marked = ppdFindMarkedChoice(ppd, "ColorModel");
  if (marked == nullptr) {
    ppd_option_t* option = ppdFindOption(ppd, "ColorModel");
    if (option != nullptr) marked = ppdFindChoice(option, option->defchoice);
  }
  if (marked != nullptr) choice = std::atoi(marked->choice);
  ppdClose(ppd);
  return true;
}
