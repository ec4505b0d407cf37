// "talvero-printer-app options": PAPPL lists the standard job options; this
// adds the receipt printer's own, each under its label with every choice's
// label and the printer's default marked, in the language of the
// environment (LANG):
//
//   Receipt printer options:
//     Paper cut:
//       -o page-cut=feed          Feed the paper, no cut
//       -o page-cut=cut           Cut after each receipt (default)
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/client.h"
#include "app/job_options.h"
#include "app/localization.h"
#include "app/model_names.h"
#include "app/system.h"
#include "app/vendor_defaults.h"

namespace {

// The value after `flag` among the arguments after the sub-command, or nullptr.
const char* argumentOf(int argc, char* argv[], const char* flag) {
  for (int i = 2; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], flag) == 0) return argv[i + 1];
  }
  return nullptr;
}

// Prints one option's choices, the default marked.
void printOption(const JobOption& option, int32_t current, const std::string& language) {
  std::printf("  %s:\n", translate(language, option.label.english));
  size_t width = 0;
  for (const OptionChoice& choice : option.choices) {
    width = std::max(width, std::strlen(option.ipp) + 1 + ippValueOf(choice).size());
  }
  for (const OptionChoice& choice : option.choices) {
    std::string setting = std::string(option.ipp) + "=" + ippValueOf(choice);
    bool isDefault = choice.number == current;
    std::printf("    -o %-*s  %s%s%s%s\n", static_cast<int>(width), setting.c_str(),
                translate(language, choice.label.english), isDefault ? " (" : "",
                isDefault ? translate(language, "default") : "", isDefault ? ")" : "");
  }
}

}  // namespace

bool isOptionsCommand(int argc, char* argv[]) { return argc >= 2 && std::strcmp(argv[1], "options") == 0; }

int printVendorOptions(int argc, char* argv[], const char* programName) {
  PrinterConnection connection;
  std::string why;
  std::string language = environmentLanguage();
  ipp_t* attributes = nullptr;
  if (!connectPrinter(programName, argumentOf(argc, argv, "-u"), argumentOf(argc, argv, "-d"), connection, why) ||
      (attributes = printerAttributes(connection, language.c_str(), why)) == nullptr) {
    std::fprintf(stderr, "%s: %s\n", programName, why.c_str());
    return 1;
  }
  const ModelRow* model = modelOfMakeAndModel(
      ippGetString(ippFindAttribute(attributes, "printer-make-and-model", IPP_TAG_TEXT), 0, nullptr));
  if (model != nullptr) {
    std::printf("\n%s\n", translate(language, "Receipt printer options:"));
    VendorDefaults defaults{attributes, {}};
    for (const JobOption* option : vendorOptions()) {
      if (!readsOption(model, *option)) continue;
      const char* value = vendorDefault(option->ipp, &defaults);
      int32_t current = value != nullptr ? choiceNumberOf(*option, value) : -1;
      printOption(*option, current >= 0 ? current : option->defaultNumber, language);
    }
  }
  ippDelete(attributes);
  return 0;
}
