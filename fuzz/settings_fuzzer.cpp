// The settings reader: job options against a shipped PPD chosen by the first
// input byte. Every field must come out as 0 (option not read for the
// model), -1 (option or choice missing) or the number a choice of that
// option in the PPD begins with (ColorModel may also be 1, which the models
// without colour choice always get), and the model number must be the PPD's.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include <cups/ppd.h>

#include "core/settings.h"
#include "fuzz/harness.h"

namespace {

// The fields in record order, with the option each one reads.
constexpr const char* kOptions[] = {
    "PageType",      "FocusArea", "Rotation",       "ColorModel",       "CompPrinting",
    "LogoPosition",  "LogoJustification", "LogoImage", "LogoWidth",     "LineFeed",
    "PageSize",      "PageCut",   "CashDrawer",     "CashDrawerOpen",   "CashDrawer1PulseWidth",
    "CashDrawer2PulseWidth"};
static_assert(sizeof(JobSettings) == (1 + std::size(kOptions)) * sizeof(int32_t));

// What a PPD allows: its model number and, per option, the numbers its
// choices begin with (plus 0 and -1, which every field may take).
struct Allowed {
  int model = 0;
  std::map<std::string, std::set<int32_t>> values;
};

Allowed readAllowed(const std::string& path) {
  Allowed allowed;
  ppd_file_t* ppd = ppdOpenFile(path.c_str());
  fuzz::check(ppd != nullptr, "cannot open " + path);
  allowed.model = ppd->model_number;
  for (const char* keyword : kOptions) {
    std::set<int32_t>& values = allowed.values[keyword];
    values = {0, -1};
    if (ppd_option_t* option = ppdFindOption(ppd, keyword)) {
      for (int i = 0; i < option->num_choices; ++i) {
        values.insert(static_cast<int32_t>(std::atoi(option->choices[i].choice)));
      }
    }
  }
  allowed.values["ColorModel"].insert(1);
  ppdClose(ppd);
  return allowed;
}

const Allowed& allowedFor(const std::string& path) {
  static std::map<std::string, Allowed> cache;
  auto found = cache.find(path);
  if (found == cache.end()) found = cache.emplace(path, readAllowed(path)).first;
  return found->second;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::JobInput job = fuzz::splitJobInput({data, size});
  std::string options(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0), size > 0 ? size - 1 : 0);
  const Allowed& allowed = allowedFor(job.ppd);

  setenv("PPD", job.ppd.c_str(), 1);
  JobSettings settings{};
  int result = initializeSettings(options.c_str(), settings, Diagnostics());
  fuzz::check(result == kModelSupported, "a shipped PPD was not accepted: " + job.ppd);
  fuzz::check(settings.ModelNumber == allowed.model, "model number");
  const int32_t* fields = &settings.ModelNumber + 1;
  for (size_t i = 0; i < std::size(kOptions); ++i) {
    fuzz::check(allowed.values.at(kOptions[i]).count(fields[i]) == 1,
                std::string(kOptions[i]) + " = " + std::to_string(fields[i]) + " is no choice of " + job.ppd);
  }
  return 0;
}
