// Job options given as a bare number. The filters read every option as the
// number its choice keyword begins with, and a keyword need not be that number
// alone: "80x297mm" reads as 80, and "RGB" (the black-and-red ColorModel
// choice, named so that cupsd gives two-colour queues the colour mode
// "color") reads as 0, having no leading digits. So `-o ColorModel=0` names no
// choice, and cupsMarkOptions ignores it. After cupsMarkOptions, the filter
// and the prefilter both call markNumberedChoices, which marks the choice
// that reads as the number given. Only choices without PostScript code are
// matched: the RIP sees the same bare number and cannot match it, so a choice
// it acts on (a page size) is never taken by the filters alone. Header-only,
// as the two programs build from separate libraries.
#pragma once

#include <cstdlib>

#include <cups/cups.h>
#include <cups/ppd.h>

// For each job option whose value is a whole number that names no choice of
// the PPD option of that name, marks the one choice without code whose
// keyword begins with that number (reads as 0 without leading digits);
// nothing when no such choice or several read as it.
inline void markNumberedChoices(ppd_file_t* ppd, int count, const cups_option_t* options) {
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
