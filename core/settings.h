// Job settings: the PPD's model number and the selected choice of each of the
// filter's sixteen options, read once per job from the PPD file named by the
// PPD environment variable, with the job's options marked over its defaults.
#pragma once

#include <cstdint>
#include <functional>

#include "core/diagnostics.h"

// Every field is the number at the start of the selected choice keyword of
// the option of the same name; 0 when the model does not read the option,
// -1 when the PPD lacks the option or a valid choice.
struct JobSettings {
  int32_t ModelNumber;
  int32_t PageType;
  int32_t FocusArea;
  int32_t Rotation;
  int32_t ColorModel;
  int32_t CompPrinting;
  int32_t LogoPosition;
  int32_t LogoJustification;
  int32_t LogoImage;
  int32_t LogoWidth;
  int32_t LineFeed;
  int32_t PageSize;
  int32_t PageCut;
  int32_t CashDrawer;
  int32_t CashDrawerOpen;
  int32_t CashDrawer1PulseWidth;
  int32_t CashDrawer2PulseWidth;
};

// Results of initializeSettings.
constexpr int kModelSupported = 0;
constexpr int kModelUnsupported = 1;
// The PPD variable is unset, or names a file that cannot be opened or parsed.
// A line saying so, with the path, has been reported.
constexpr int kNoPpd = 2;

// The ChoiceNumber a job gives option `keyword` (PPD keyword, e.g.
// "PageCut"), or -1 when the printer has no such option or choice.
using ChoiceReader = std::function<int32_t(const char* keyword)>;

// Fills `settings` for printer model `model`, asking `read` for each option
// the model reads (the others stay 0).
void fillJobSettings(int32_t model, const ChoiceReader& read, JobSettings& settings);

// Fills `settings` from the PPD and the job's option string, reporting to
// `log`. Returns kModelSupported, kModelUnsupported or kNoPpd.
int initializeSettings(const char* options, JobSettings& settings, const Diagnostics& log);
