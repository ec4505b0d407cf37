// The settings reader: the PPD's model number and the options of the option table it reads.
#include "core/settings.h"

#include <cstdlib>
#include <string>

#include "core/model_table.h"
#include "core/option_table.h"
#include "core/ppd_file.h"

void fillJobSettings(int32_t model, const ChoiceReader& read, JobSettings& settings) {
  settings = JobSettings{};
  settings.ModelNumber = model;
  // A model without a row reads every option: the record is filled all the
  // same, and only the result tells the caller it is not ours.
  const ModelRow* row = findModel(model);
  for (const JobOption& option : jobOptions()) {
    if (readsOption(row, option)) settings.*option.field = read(option.keyword);
  }
  // Fixed-profile models print black only, without a ColorModel option.
  if (row != nullptr && row->profile == Profile::Fixed) settings.ColorModel = 1;
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
