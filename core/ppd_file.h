// The printer's PPD as the filters read it: the file the spooler names in the
// PPD environment variable, its defaults marked, then the job's options over
// them. The filter and the prefilter both open it here, so they read a
// job's choices alike.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <cups/ppd.h>

struct PpdClose {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdFile = std::unique_ptr<ppd_file_t, PpdClose>;

// Opens the PPD at `path` (the value of PPD; null or empty when it is not
// set) with its defaults and then the job's `options` marked. Returns
// nullptr with the reason in `why`, one sentence naming the file, when it
// cannot be opened or read.
PpdFile openMarkedPpd(const char* path, const char* options, std::string& why);

// The ChoiceNumber of option `keyword` in `ppd`: the number its marked
// choice (else its default choice) begins with, or -1 when the PPD has no
// such option or choice.
int32_t getOptionChoiceIndex(const char* keyword, ppd_file_t* ppd);
