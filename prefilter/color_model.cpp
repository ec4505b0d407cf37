// Reads the ColorModel choice from the PPD and the job options; see
// color_model.h.
#include "prefilter/color_model.h"

#include "core/ppd_file.h"

bool readColorModel(const char* ppdPath, const char* options, int& choice, std::string& why) {
  PpdFile ppd = openMarkedPpd(ppdPath, options, why);
  if (!ppd) return false;
  choice = getOptionChoiceIndex("ColorModel", ppd.get());
  return true;
}
