// The Printer Application offers each model exactly the options of its PPD
// and sets a job up exactly as the filter does: for every model and every
// choice of every option, a job asking for it over IPP gets the JobSettings
// the filter's settings reader gets from the model's real PPD with that
// choice marked. The media sizes are the PPD's page sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>

#include <cups/ppd.h>

#include "app/job_options.h"
#include "core/model_table.h"
#include "core/settings.h"

namespace {

std::string ppdPath(int32_t model) {
  char name[32];
  std::snprintf(name, sizeof name, "/tlv%03d.ppd", model);
  return std::string(TALVERO_PPD_DIR) + name;
}

// A job's IPP request: print-color-mode, finishings, media, vendor values.
struct Request {
  bool colour = true;
  bool trim = false;
  std::string media = "om_80x297mm_80x297mm";
  std::map<std::string, std::string> vendor;
};

const char* vendorValue(const char* attribute, const void* context) {
  const auto& vendor = static_cast<const Request*>(context)->vendor;
  auto it = vendor.find(attribute);
  return it == vendor.end() ? nullptr : it->second.c_str();
}

JobSettings appSettings(const ModelRow& model, const Request& request) {
  JobRequest job{request.colour, request.trim, request.media.c_str(), 0, 0, vendorValue, &request};
  return settingsForJob(model, job);
}

JobSettings filterSettings(const ModelRow& model, const std::string& options) {
  setenv("PPD", ppdPath(model.model).c_str(), 1);
  JobSettings settings{};
  EXPECT_EQ(initializeSettings(options.c_str(), settings, Diagnostics()), kModelSupported) << model.model;
  return settings;
}

void expectSame(const ModelRow& model, const Request& request, const std::string& options) {
  JobSettings app = appSettings(model, request);
  JobSettings filter = filterSettings(model, options);
  EXPECT_EQ(app.ModelNumber, filter.ModelNumber);
  EXPECT_EQ(settingsText(app), settingsText(filter)) << "model " << model.model << ", options \"" << options << "\"";
}

// The PPD's choice whose keyword's number is `number`, or nullptr.
const ppd_choice_t* ppdChoice(ppd_option_t* option, int32_t number) {
  for (int i = 0; i < option->num_choices; ++i) {
    if (std::atoi(option->choices[i].choice) == number) return &option->choices[i];
  }
  return nullptr;
}

TEST(OptionsTest, EveryModelOffersItsPpdOptionsAndSetsJobsUpAsTheFilter) {
  for (const ModelRow& model : ModelTable) {
    ppd_file_t* ppd = ppdOpenFile(ppdPath(model.model).c_str());
    ASSERT_NE(ppd, nullptr) << ppdPath(model.model);
    expectSame(model, Request{}, "");
    // The PPD's options are the option table's (tests/ppd); each choice a
    // job asks for over IPP sets the job up as the PPD with it marked.
    for (const JobOption* option : vendorOptions()) {
      ppd_option_t* ppdOption = ppdFindOption(ppd, option->keyword);
      if (ppdOption == nullptr || !readsOption(&model, *option)) continue;
      for (const OptionChoice& choice : option->choices) {
        const ppd_choice_t* ppdChoiceFound = ppdChoice(ppdOption, choice.number);
        ASSERT_NE(ppdChoiceFound, nullptr) << option->keyword << " " << choice.number;
        Request request;
        request.vendor[option->ipp] = choice.ipp ? choice.ipp : std::to_string(choice.number);
        expectSame(model, request, std::string(option->keyword) + "=" + ppdChoiceFound->choice);
      }
    }
    Request mono;
    mono.colour = false;
    expectSame(model, mono, ppdFindOption(ppd, "ColorModel") ? "ColorModel=1" : "");
    if (ppdFindOption(ppd, "PageCut") != nullptr) {
      Request trim;
      trim.trim = true;
      trim.vendor["page-cut"] = "feed";
      expectSame(model, trim, "PageCut=2");
    }
    // Each media size is one of the PPD's page sizes, with its number.
    ASSERT_EQ(ppd->num_sizes, static_cast<int>(mediaSizes().size()));
    for (int i = 0; i < ppd->num_sizes; ++i) {
      const ppd_size_t& size = ppd->sizes[i];
      int width = static_cast<int>(std::lround(size.width * 2540.0 / 72.0));
      int length = static_cast<int>(std::lround(size.length * 2540.0 / 72.0));
      int32_t number = std::atoi(size.name);
      bool found = false;
      for (const MediaSize& media : mediaSizes()) {
        if (media.pageSize != number || std::abs(media.width - width) > 50 || std::abs(media.length - length) > 50) {
          continue;
        }
        found = true;
        // The side margins are the PPD's imageable area.
        EXPECT_NEAR(media.sideMargin, size.left * 2540.0 / 72.0, 1.0) << media.name;
        EXPECT_STREQ(media.label, ppdFindChoice(ppdFindOption(ppd, "PageSize"), size.name)->text) << media.name;
        Request request;
        request.media = media.name;
        expectSame(model, request, std::string("PageSize=") + size.name);
      }
      EXPECT_TRUE(found) << model.model << " " << size.name;
    }
    ppdClose(ppd);
  }
}

}  // namespace
