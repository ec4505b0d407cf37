// Opening and marking the PPD. Job options given as a bare number get one
// more step: the filters read every option as the number its choice keyword
// begins with, and a keyword need not be that number alone: "80x297mm"
// reads as 80, and "RGB" (the black-and-red ColorModel choice, named so that
// cupsd gives two-colour queues the colour mode "color") reads as 0, having
// no leading digits. So `-o ColorModel=0` names no choice, and
// cupsMarkOptions ignores it; markNumberedChoices then marks the choice that
// reads as the number given. Only choices without PostScript code are
// matched: the RIP sees the same bare number and cannot match it, so a
// choice it acts on (a page size) is never taken by the filters alone.
#include "core/ppd_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <cups/cups.h>

namespace {

// For each job option whose value is a whole number that names no choice of
// the PPD option of that name, marks the one choice without code whose
// keyword begins with that number (reads as 0 without leading digits);
// nothing when no such choice or several read as it.
void markNumberedChoices(ppd_file_t* ppd, int count, const cups_option_t* options) {
  for (int i = 0; i < count; ++i) {
    ppd_option_t* option = ppdFindOption(ppd, options[i].name);
    const char* value = options[i].value;
    char* end = nullptr;
    long number = std::strtol(value, &end, 10);
    if (option == nullptr || end == value || *end != '\0' || ppdFindChoice(option, value) != nullptr)
      continue;
    const char* match = nullptr;
    int matches = 0;
    for (int c = 0; c < option->num_choices; ++c) {
      const ppd_choice_t& choice = option->choices[c];
      bool codeless = choice.code == nullptr || *choice.code == '\0';
      if (codeless && std::atoi(choice.choice) == number) {
        match = choice.choice;
        ++matches;
      }
    }
    if (matches == 1) ppdMarkOption(ppd, option->keyword, match);
  }
}

// Why ppdOpenFile refused `path`.
std::string openFault(const char* path) {
  int line = 0;
  ppd_status_t status = ppdLastError(&line);
  if (status == PPD_FILE_OPEN_ERROR) {
    return std::string("Unable to open PPD file \"") + path + "\": " + std::strerror(errno);
  }
  return std::string("Unable to read PPD file \"") + path + "\": " + ppdErrorString(status) + " on line " +
         std::to_string(line) + ".";
}

}  // namespace

PpdFile openMarkedPpd(const char* path, const char* options, std::string& why) {
  if (path == nullptr || *path == '\0') {
    why = "No PPD file: the PPD environment variable is not set.";
    return nullptr;
  }
  PpdFile ppd(ppdOpenFile(path));
  if (!ppd) {
    why = openFault(path);
    return nullptr;
  }
  ppdMarkDefaults(ppd.get());
  cups_option_t* parsed = nullptr;
  int count = cupsParseOptions(options != nullptr ? options : "", 0, &parsed);
  if (count > 0) {
    cupsMarkOptions(ppd.get(), count, parsed);  // conflicts are the PPD's business
    markNumberedChoices(ppd.get(), count, parsed);
    cupsFreeOptions(count, parsed);
  }
  return ppd;
}

int32_t getOptionChoiceIndex(const char* keyword, ppd_file_t* ppd) {
  ppd_choice_t* choice = ppdFindMarkedChoice(ppd, keyword);
  if (choice == nullptr) {
    ppd_option_t* option = ppdFindOption(ppd, keyword);
    if (option == nullptr) return -1;
    choice = ppdFindChoice(option, option->defchoice);
    if (choice == nullptr) return -1;
  }
  return std::atoi(choice->choice);
}
