// The job options, one row each: the PPD keyword, the IPP attribute the
// Printer Application offers it as, the labels a person reads, the choices
// and the default, the JobSettings field it fills, and which models read it.
// The settings reader, the Printer Application, the PPD test and the fuzz
// targets all read this one table; ppd/talvero.drv offers the same options
// with the same choices, labels and defaults (tests/ppd checks it). To add
// an option: a field in JobSettings, a row here, the option in talvero.drv.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/model_table.h"
#include "core/settings.h"

// The text a person reads for an option or a choice. English is the PPD's
// own text; translations go beside it.
struct Label {
  const char* english;
};

// One choice of an option.
struct OptionChoice {
  int32_t number;   // its ChoiceNumber: the number its PPD keyword begins with
  const char* ipp;  // its IPP keyword; nullptr in an integer option, whose IPP value is the number
  Label label;
};

// Which models read an option, and so whose PPDs offer it: the nesting of
// ppd/talvero.drv.
enum class ReadBy : uint8_t {
  Every,
  NotCompact,        // models that are not compact
  CompressedRaster,  // models with the compressed raster command
  FullProfile,       // full-profile models
  DrawerProfile,     // models with a cash drawer (full and drawer profiles)
};

struct JobOption {
  const char* keyword;  // the PPD's option keyword, e.g. "LogoPosition"
  // The IPP attribute, e.g. "logo-position"; nullptr for the two options a
  // job's standard attributes give (PageSize: media; ColorModel:
  // print-color-mode), whose choices are the PPD's page sizes and the
  // model's colours and are not listed here.
  const char* ipp;
  Label label;
  std::span<const OptionChoice> choices;  // in the PPD's order
  int32_t defaultNumber;                  // the PPD's default choice
  int32_t JobSettings::*field;            // the setting it fills
  ReadBy readBy;
};

// Every option, in the order a person is shown them.
std::span<const JobOption> jobOptions();

// The option of a PPD keyword, or nullptr.
const JobOption* findJobOption(const char* keyword);

// Whether the model of `row` reads the option; a model without a row
// (nullptr) reads every option.
bool readsOption(const ModelRow* row, const JobOption& option);

// Every setting by its option's keyword: "PageSize 80, ColorModel 0, ...".
std::string settingsText(const JobSettings& settings);
