// Tests of the generated PPD files against the model table and the option
// table: one PPD per model, carrying its model number, exactly the options
// the filter reads for that model with choice keywords that begin with the
// numbers the filter compares, the table's choices, labels and defaults, the
// page sizes with the special numbers, and the raster set-up the prefilter
// expects; and how both filters read a job's colour from them.
#include <gtest/gtest.h>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/model_table.h"
#include "core/option_table.h"
#include "core/settings.h"
#include "core/ppd_file.h"
#include "support.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// libcups 2.4 never frees the print-color-mode presets that cupsMarkOptions
// parses into a PPD's cache, so marking print-color-mode leaks them once per
// PPD opened; allocations made while one of these lives are not leaks of ours.
#if defined(__SANITIZE_ADDRESS__)
using LibcupsPresetLeak = __lsan::ScopedDisabler;
#else
struct LibcupsPresetLeak {};
#endif

std::string ppdPath(int32_t model) {
  char name[32];
  std::snprintf(name, sizeof name, "/tlv%03d.ppd", static_cast<int>(model));
  return std::string(TALVERO_PPD_DIR) + name;
}

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using Ppd = std::unique_ptr<ppd_file_t, PpdCloser>;

Ppd openPpd(int32_t model) {
  Ppd ppd(ppdOpenFile(ppdPath(model).c_str()));
  if (ppd) ppdMarkDefaults(ppd.get());
  return ppd;
}

std::vector<int> choiceNumbers(ppd_option_t* option) {
  std::vector<int> numbers;
  for (int i = 0; i < option->num_choices; ++i) numbers.push_back(std::atoi(option->choices[i].choice));
  return numbers;
}

std::vector<int> range(int first, int last, int step = 1) {
  std::vector<int> numbers;
  for (int n = first; n <= last; n += step) numbers.push_back(n);
  return numbers;
}

int defaultNumber(ppd_file_t* ppd, const char* keyword) {
  ppd_choice_t* choice = ppdFindMarkedChoice(ppd, keyword);
  return choice == nullptr ? -1 : std::atoi(choice->choice);
}

TEST(Ppds, OneFilePerModelAndNoOthers) {
  std::set<std::string> expected, found;
  for (const ModelRow& row : ModelTable) expected.insert(ppdPath(row.model));
  for (const auto& entry : std::filesystem::directory_iterator(TALVERO_PPD_DIR))
    if (entry.path().extension() == ".ppd") found.insert(entry.path().string());
  EXPECT_EQ(found, expected);
  EXPECT_EQ(found.size(), 47u);
}

TEST(Ppds, OfferExactlyTheOptionsTheFilterReads) {
  for (const ModelRow& row : ModelTable) {
    SCOPED_TRACE("model " + std::to_string(row.model));
    Ppd ppd = openPpd(row.model);
    ASSERT_TRUE(ppd) << ppdPath(row.model);
    EXPECT_EQ(ppd->model_number, row.model);
    for (const JobOption& tableOption : jobOptions()) {
      const char* keyword = tableOption.keyword;
      ppd_option_t* option = ppdFindOption(ppd.get(), keyword);
      EXPECT_EQ(option != nullptr, readsOption(&row, tableOption)) << keyword;
      if (option == nullptr) continue;
      EXPECT_STREQ(option->text, tableOption.label.english) << keyword;
      // Every choice keyword begins with its number; all but PageSize's are
      // nothing but the number. The exception: black and red on two-colour
      // models is RGB (reads as 0; checked with the defaults below).
      for (int i = 0; i < option->num_choices; ++i) {
        std::string choice = option->choices[i].choice;
        if (std::string(keyword) == "ColorModel" && row.twoColour && choice == "RGB") continue;
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(choice[0]))) << keyword << " " << choice;
        if (std::string(keyword) != "PageSize") {
          EXPECT_EQ(choice, std::to_string(std::atoi(choice.c_str()))) << keyword;
        }
      }
    }
  }
}

// Each option's choices in the PPD are the option table's, in its order,
// with its labels, and its default is the table's.
TEST(Ppds, ChoicesLabelsAndDefaultsAreTheOptionTables) {
  for (const ModelRow& row : ModelTable) {
    SCOPED_TRACE("model " + std::to_string(row.model));
    Ppd ppd = openPpd(row.model);
    ASSERT_TRUE(ppd);
    for (const JobOption& tableOption : jobOptions()) {
      ppd_option_t* option = ppdFindOption(ppd.get(), tableOption.keyword);
      if (option == nullptr || tableOption.choices.empty()) continue;
      std::vector<int> numbers;
      std::vector<std::string> labels, expectedLabels;
      for (const OptionChoice& choice : tableOption.choices) {
        numbers.push_back(choice.number);
        expectedLabels.push_back(choice.label.english);
      }
      for (int i = 0; i < option->num_choices; ++i) labels.push_back(option->choices[i].text);
      EXPECT_EQ(choiceNumbers(option), numbers) << tableOption.keyword;
      EXPECT_EQ(labels, expectedLabels) << tableOption.keyword;
      EXPECT_EQ(defaultNumber(ppd.get(), tableOption.keyword), tableOption.defaultNumber) << tableOption.keyword;
    }
    if (ppd_option_t* colour = ppdFindOption(ppd.get(), "ColorModel")) {
      EXPECT_EQ(choiceNumbers(colour), row.twoColour ? range(0, 1) : range(1, 1));
      EXPECT_EQ(defaultNumber(ppd.get(), "ColorModel"), row.twoColour ? 0 : 1);
      // cupsd advertises print-color-mode-default=color only for this name.
      if (row.twoColour) {
        EXPECT_STREQ(colour->defchoice, "RGB");
      }
    }
    EXPECT_EQ(ppd->color_device != 0, row.twoColour);
  }
}

// The real PPDs through both readers, the filter's settings and the
// prefilter's ColorModel: the IPP colour mode picks a choice through the
// presets, a ColorModel given with the job wins over it (0 selecting RGB), and
// a black-only model prints black whatever the job asks.
TEST(Ppds, FilterAndPrefilterReadAJobsColourAlike) {
  const struct {
    const char* options;
    int twoColour;  // ColorModel read on model 31; model 13 always reads 1
  } cases[] = {
      {"", 0},
      {"print-color-mode=monochrome", 1},
      {"print-color-mode=color", 0},
      {"print-color-mode=monochrome ColorModel=0", 0},
      {"print-color-mode=color ColorModel=1", 1},
      {"print-color-mode=monochrome ColorModel=RGB", 0},
      {"ColorModel=0", 0},
      {"ColorModel=2", 0},  // no such choice: the default
  };
  for (int32_t model : {31, 13}) {
    setenv("PPD", ppdPath(model).c_str(), 1);
    for (const auto& c : cases) {
      SCOPED_TRACE("model " + std::to_string(model) + " \"" + c.options + "\"");
      int want = model == 31 ? c.twoColour : 1;
      [[maybe_unused]] LibcupsPresetLeak presets;
      JobSettings settings{};
      std::string err;
      EXPECT_EQ(initializeSettings(c.options, settings, talvero_test::logInto(err)), kModelSupported);
      EXPECT_EQ(settings.ColorModel, want);
      std::string why;  // the prefilter's reading
      PpdFile marked = openMarkedPpd(ppdPath(model).c_str(), c.options, why);
      ASSERT_TRUE(marked) << why;
      EXPECT_EQ(getOptionChoiceIndex("ColorModel", marked.get()), want);
    }
  }
  // A bare number never picks a page size, which the RIP lays out too.
  JobSettings settings{};
  std::string err;
  EXPECT_EQ(initializeSettings("PageSize=56", settings, talvero_test::logInto(err)), kModelSupported);
  EXPECT_EQ(settings.PageSize, 80);
  unsetenv("PPD");
}

// Page sizes: 95 and 100 are A4 or Letter pages to be reduced; the eight
// sizes the filter never turns by a quarter are tickets of the roll's width;
// every other size is numbered by its paper width, 58 or 80 mm.
TEST(Ppds, PageSizesCarryTheNumbersTheFilterCompares) {
  const std::set<int> noTurn = {56, 75, 94, 110, 111, 112, 138, 139};
  Ppd ppd = openPpd(31);
  ASSERT_TRUE(ppd);
  ppd_option_t* sizes = ppdFindOption(ppd.get(), "PageSize");
  ASSERT_NE(sizes, nullptr);
  std::set<int> seen;
  for (int i = 0; i < sizes->num_choices; ++i) {
    const char* name = sizes->choices[i].choice;
    SCOPED_TRACE(name);
    ppd_size_t* size = ppdPageSize(ppd.get(), name);
    ASSERT_NE(size, nullptr);
    int number = std::atoi(name);
    double widthMm = size->width * 25.4 / 72, lengthMm = size->length * 25.4 / 72;
    seen.insert(number);
    if (number == 95 || number == 100) {
      bool a4 = std::abs(widthMm - 210) < 1 && std::abs(lengthMm - 297) < 1;
      bool letter = std::abs(size->width - 612) < 1 && std::abs(size->length - 792) < 1;
      EXPECT_TRUE(a4 || letter);
    } else if (noTurn.count(number) != 0) {
      EXPECT_NEAR(widthMm, number < 110 ? 58 : 80, 0.1);
      EXPECT_LE(lengthMm, 200.1);
    } else {
      EXPECT_TRUE(number == 58 || number == 80);
      EXPECT_NEAR(widthMm, number, 0.1);
    }
  }
  for (int number : noTurn) EXPECT_EQ(seen.count(number), 1u) << number;
  EXPECT_EQ(seen.count(95), 1u);
  EXPECT_EQ(seen.count(100), 1u);
  ppd_choice_t* marked = ppdFindMarkedChoice(ppd.get(), "PageSize");
  ASSERT_NE(marked, nullptr);
  EXPECT_STREQ(marked->choice, "80x297mm");
}

// Every PPD asks the RIP for 8-bit RGB at 203 dpi, printable width 576 dots
// on 80 mm paper and 384 on 58 mm, and puts the prefilter in the chain.
TEST(Ppds, RasterSetUpAndFilters) {
  for (const ModelRow& row : ModelTable) {
    SCOPED_TRACE("model " + std::to_string(row.model));
    Ppd ppd = openPpd(row.model);
    ASSERT_TRUE(ppd);
    for (const auto& [size, width] : {std::pair{"80x297mm", 576u}, std::pair{"58x3276mm", 384u}}) {
      ppdMarkOption(ppd.get(), "PageSize", size);
      cups_page_header2_t header;
      ASSERT_EQ(cupsRasterInterpretPPD(&header, ppd.get(), 0, nullptr, nullptr), 0)
          << cupsRasterErrorString();
      EXPECT_EQ(header.HWResolution[0], 203u);
      EXPECT_EQ(header.HWResolution[1], 203u);
      EXPECT_EQ(header.cupsBitsPerColor, 8u);
      EXPECT_EQ(header.cupsColorSpace, CUPS_CSPACE_RGB);
      EXPECT_EQ(header.cupsColorOrder, CUPS_ORDER_CHUNKED);
      EXPECT_EQ(header.cupsWidth, width) << size;
    }
    ppd_attr_t* filter = ppdFindAttr(ppd.get(), "cupsFilter", nullptr);
    ASSERT_NE(filter, nullptr);
    EXPECT_STREQ(filter->value, "application/vnd.cups-raster 0 rastertoTalvero");
    ppd_attr_t* prefilter = ppdFindAttr(ppd.get(), "cupsPreFilter", nullptr);
    ASSERT_NE(prefilter, nullptr);
    EXPECT_STREQ(prefilter->value, "application/vnd.cups-raster 0 rastertoTalveroPlanes");
    // The filter prints each page once: the RIP has to make the copies.
    EXPECT_NE(ppd->manual_copies, 0);
  }
}

}  // namespace
