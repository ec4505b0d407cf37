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

#include "core/option_table.h"
#include "core/settings.h"
#include "fuzz/harness.h"

namespace {

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
  for (const JobOption& jobOption : jobOptions()) {
    std::set<int32_t>& values = allowed.values[jobOption.keyword];
    values = {0, -1};
    if (ppd_option_t* option = ppdFindOption(ppd, jobOption.keyword)) {
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
  for (const JobOption& option : jobOptions()) {
    int32_t value = settings.*option.field;
    fuzz::check(allowed.values.at(option.keyword).count(value) == 1,
                std::string(option.keyword) + " = " + std::to_string(value) + " is no choice of " + job.ppd);
  }
  return 0;
}
