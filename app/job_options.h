// The printer's options as a Printer Application offers them over IPP: each
// option of the model's PPD (the option table) becomes a vendor attribute
// with the PPD's choices and default, and the PPD's paper sizes become media. A job's IPP values are
// turned back into the ChoiceNumbers the filter's settings reader expects,
// so a job is set up exactly as the CUPS filter would set it up. Nothing
// here depends on PAPPL.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/model_table.h"
#include "core/option_table.h"
#include "core/settings.h"

// The vendor options: the options of the option table that a job sets by
// an IPP attribute of their own, in the order the web interface lists them.
std::vector<const JobOption*> vendorOptions();

// A choice's IPP value: its keyword, or its number in decimal.
std::string ippValueOf(const OptionChoice& choice);

// The ChoiceNumber of an IPP value of `option` (a keyword, or an integer in
// decimal), or -1 when it is not one of the option's choices.
int32_t choiceNumberOf(const JobOption& option, const char* value);

// A paper size of the PPD as an IPP media size.
struct MediaSize {
  const char* name;    // PWG self-describing media name
  int32_t pageSize;    // the ChoiceNumber of the PPD's PageSize choice
  int width;           // hundredths of millimetres
  int length;
  int sideMargin;      // left and right unprintable strips, hundredths of millimetres
  bool offered;        // offered over IPP (see mediaSizes)
  const char* label;   // the PPD's text for it (English)
};

// The PPD's paper sizes; the first is the default. The app offers all but
// the "at one half" sizes, which to an IPP client are the same A4 and
// Letter pages as the "at one third" ones (a client names the page it sends,
// not how the printer reduces it).
std::span<const MediaSize> mediaSizes();

// The PageSize ChoiceNumber for a job's media: by name, else by size (within
// 1 mm), else that of the 80 mm roll.
int32_t pageSizeFor(const char* name, int width, int length);

// What a job asks for, in IPP terms.
struct JobRequest {
  bool colour;          // print-color-mode is color (or auto), not monochrome
  bool trim;            // finishings include trim
  const char* media;    // media size name
  int mediaWidth;       // hundredths of millimetres
  int mediaLength;
  // The job's (or the printer's default) value of a vendor attribute, or nullptr.
  const char* (*vendorValue)(const char* attribute, const void* context);
  const void* context;
};

// The JobSettings of a job for `model`, read as the filter reads a PPD in
// which the job's choices are marked: options the model's PPD lacks are -1,
// values that are not a choice leave the default.
JobSettings settingsForJob(const ModelRow& model, const JobRequest& request);

// Whether the job's pages are separated into black and red (the job's
// ColorModel is 0), as the prefilter decides.
bool colourPlanesFor(const ModelRow& model, const JobRequest& request);
