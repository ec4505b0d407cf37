// The settings reader against small PPD files: which options each model
// reads, what a missing option or choice gives, and how job options override
// the PPD's defaults.
#include <cstdlib>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "support.h"

using namespace talvero_test;

namespace {

// Every option the filter reads, each with one choice.
std::map<std::string, PpdOption> allOptions() {
  return fixedOptions({{"PageSize", "80x200mm"},
                       {"PageType", "0"},
                       {"FocusArea", "1"},
                       {"Rotation", "2"},
                       {"ColorModel", "0"},
                       {"CompPrinting", "1"},
                       {"LogoPosition", "3"},
                       {"LogoJustification", "1"},
                       {"LogoImage", "2"},
                       {"LogoWidth", "3"},
                       {"LineFeed", "4"},
                       {"PageCut", "2"},
                       {"CashDrawer", "3"},
                       {"CashDrawerOpen", "2"},
                       {"CashDrawer1PulseWidth", "100"},
                       {"CashDrawer2PulseWidth", "200"}});
}

class SettingsTest : public testing::Test {
 protected:
  void TearDown() override { unsetenv("PPD"); }

  // Writes a PPD, points PPD at it and reads the settings with `options`.
  int read(int model, const std::map<std::string, PpdOption>& ppdOptions, const char* options = "") {
    std::string path = tempDir() + "/test.ppd";
    writePpd(path, model, ppdOptions);
    setenv("PPD", path.c_str(), 1);
    err.clear();
    int result = initializeSettings(options, settings, logInto(err));
    return result;
  }

  JobSettings settings{};
  std::string err;
};

TEST_F(SettingsTest, FullProfileReadsEveryOption) {
  ASSERT_EQ(read(31, allOptions()), kModelSupported);
  EXPECT_EQ(settings.ModelNumber, 31);
  EXPECT_EQ(settings.PageSize, 80);
  EXPECT_EQ(settings.PageType, 0);
  EXPECT_EQ(settings.FocusArea, 1);
  EXPECT_EQ(settings.Rotation, 2);
  EXPECT_EQ(settings.ColorModel, 0);
  EXPECT_EQ(settings.CompPrinting, 1);
  EXPECT_EQ(settings.LogoPosition, 3);
  EXPECT_EQ(settings.LogoJustification, 1);
  EXPECT_EQ(settings.LogoImage, 2);
  EXPECT_EQ(settings.LogoWidth, 3);
  EXPECT_EQ(settings.LineFeed, 4);
  EXPECT_EQ(settings.PageCut, 2);
  EXPECT_EQ(settings.CashDrawer, 3);
  EXPECT_EQ(settings.CashDrawerOpen, 2);
  EXPECT_EQ(settings.CashDrawer1PulseWidth, 100);
  EXPECT_EQ(settings.CashDrawer2PulseWidth, 200);
  EXPECT_EQ(err, "TALVERO DEBUG MSG: The Printer Model is : 31\n");
}

TEST_F(SettingsTest, ProfilesDecideWhichOptionsAreRead) {
  // Model 10: fixed and compact, no compressed raster.
  ASSERT_EQ(read(10, allOptions()), kModelSupported);
  EXPECT_EQ(settings.ColorModel, 1);
  EXPECT_EQ(settings.PageCut, 0);
  EXPECT_EQ(settings.CashDrawer, 0);
  EXPECT_EQ(settings.CashDrawerOpen, 0);
  EXPECT_EQ(settings.CashDrawer1PulseWidth, 0);
  EXPECT_EQ(settings.CashDrawer2PulseWidth, 0);
  EXPECT_EQ(settings.FocusArea, 0);
  EXPECT_EQ(settings.CompPrinting, 0);
  EXPECT_EQ(settings.LogoPosition, 3);

  // Model 83: the drawer profile keeps ColorModel and PageCut at 0.
  ASSERT_EQ(read(83, allOptions(), "ColorModel=1 PageCut=2 CashDrawer=1"), kModelSupported);
  EXPECT_EQ(settings.ColorModel, 0);
  EXPECT_EQ(settings.PageCut, 0);
  EXPECT_EQ(settings.CashDrawer, 3);  // single-choice option: the job cannot pick 1
  EXPECT_EQ(settings.CashDrawerOpen, 2);
  EXPECT_EQ(settings.FocusArea, 0);    // compact
  EXPECT_EQ(settings.CompPrinting, 1); // has compressed raster

  // Model 33: fixed but not compact, with compressed raster.
  ASSERT_EQ(read(33, allOptions()), kModelSupported);
  EXPECT_EQ(settings.ColorModel, 1);
  EXPECT_EQ(settings.FocusArea, 1);
  EXPECT_EQ(settings.CompPrinting, 1);
  EXPECT_EQ(settings.PageCut, 0);

  // Model 1: full profile without compressed raster.
  ASSERT_EQ(read(1, allOptions()), kModelSupported);
  EXPECT_EQ(settings.CompPrinting, 0);
  EXPECT_EQ(settings.PageCut, 2);
}

TEST_F(SettingsTest, JobOptionsOverrideDefaults) {
  std::map<std::string, PpdOption> options = allOptions();
  options["PageCut"] = {{"0", "1", "2"}, "2"};
  options["ColorModel"] = {{"0", "1", "2"}, "0"};
  options["CashDrawer"] = {{"0", "1", "2", "3"}, "0"};
  options["CompPrinting"] = {{"0", "1"}, "0"};
  options["FocusArea"] = {{"0", "1", "2"}, "0"};

  ASSERT_EQ(read(83, options, "CashDrawer=1 PageCut=0"), kModelSupported);
  EXPECT_EQ(settings.CashDrawer, 1);
  EXPECT_EQ(settings.PageCut, 0);

  ASSERT_EQ(read(10, options, "PageCut=2 ColorModel=0"), kModelSupported);
  EXPECT_EQ(settings.PageCut, 0);
  EXPECT_EQ(settings.ColorModel, 1);

  ASSERT_EQ(read(1, options, "CompPrinting=1 FocusArea=2 ColorModel=2"), kModelSupported);
  EXPECT_EQ(settings.CompPrinting, 0);
  EXPECT_EQ(settings.FocusArea, 2);
  EXPECT_EQ(settings.ColorModel, 2);

  ASSERT_EQ(read(30, options, "CompPrinting=1"), kModelSupported);
  EXPECT_EQ(settings.CompPrinting, 1);

  ASSERT_EQ(read(41, options, "FocusArea=1"), kModelSupported);
  EXPECT_EQ(settings.FocusArea, 0);

  // An empty option string leaves the defaults; an unknown choice is ignored.
  ASSERT_EQ(read(31, options, ""), kModelSupported);
  EXPECT_EQ(settings.PageCut, 2);
  ASSERT_EQ(read(31, options, "PageCut=7"), kModelSupported);
  EXPECT_EQ(settings.PageCut, 2);
}

TEST_F(SettingsTest, ChoiceKeywordsGiveTheirLeadingNumber) {
  std::map<std::string, PpdOption> options = allOptions();
  options["LineFeed"] = {{"3Lines", "3More", "Auto", "-5", "100A4Half"}, "100A4Half"};
  // A job option that is a bare number naming no choice selects the one
  // choice that reads as that number ("Auto" reads as 0), none when two do.
  const std::pair<const char*, int> cases[] = {
      {"", 100},          {"LineFeed=3Lines", 3}, {"LineFeed=Auto", 0}, {"LineFeed=-5", -5},
      {"LineFeed=0", 0},  {"LineFeed=100", 100},  {"LineFeed=3", 100},   {"LineFeed=7", 100},
      {"LineFeed=0x", 100},
  };
  for (const auto& [jobOptions, number] : cases) {
    ASSERT_EQ(read(31, options, jobOptions), kModelSupported);
    EXPECT_EQ(settings.LineFeed, number) << jobOptions;
  }
}

TEST_F(SettingsTest, MissingOptionOrChoiceGivesMinusOne) {
  std::map<std::string, PpdOption> options = allOptions();
  options.erase("LogoPosition");
  options.erase("CashDrawer1PulseWidth");
  options["LineFeed"] = {{"1", "2"}, "NoSuchChoice"};
  ASSERT_EQ(read(31, options), kModelSupported);
  EXPECT_EQ(settings.LogoPosition, -1);
  EXPECT_EQ(settings.CashDrawer1PulseWidth, -1);
  EXPECT_EQ(settings.LineFeed, -1);
  EXPECT_EQ(settings.LogoImage, 2);

  // An option that a model does not read stays 0 even when the PPD lacks it.
  options.erase("PageCut");
  ASSERT_EQ(read(10, options), kModelSupported);
  EXPECT_EQ(settings.PageCut, 0);
  ASSERT_EQ(read(31, options), kModelSupported);
  EXPECT_EQ(settings.PageCut, -1);
}

TEST_F(SettingsTest, UnsupportedModelIsReportedByResultOnly) {
  EXPECT_EQ(read(12, allOptions()), kModelUnsupported);
  EXPECT_EQ(settings.ModelNumber, 12);
  EXPECT_EQ(err, "");
  EXPECT_EQ(read(22, allOptions()), kModelSupported);
  EXPECT_EQ(err, "TALVERO DEBUG MSG: The Printer Model is : 22\n");
}

TEST_F(SettingsTest, MissingOrBrokenPpdIsOneClearLine) {
  unsetenv("PPD");
  EXPECT_EQ(initializeSettings("", settings, logInto(err)), kNoPpd);
  EXPECT_EQ(err, "ERROR: No PPD file: the PPD environment variable is not set.\n");

  setenv("PPD", "/nonexistent/talvero.ppd", 1);
  err.clear();
  EXPECT_EQ(initializeSettings("", settings, logInto(err)), kNoPpd);
  EXPECT_EQ(err, "ERROR: Unable to open PPD file \"/nonexistent/talvero.ppd\": No such file or directory\n");

  std::string path = tempDir() + "/broken.ppd";
  FILE* f = std::fopen(path.c_str(), "w");
  std::fputs("this is not a PPD file\n", f);
  std::fclose(f);
  setenv("PPD", path.c_str(), 1);
  err.clear();
  EXPECT_EQ(initializeSettings("", settings, logInto(err)), kNoPpd);
  EXPECT_EQ(err.rfind("ERROR: Unable to read PPD file \"" + path + "\": ", 0), 0u) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
}

}  // namespace
