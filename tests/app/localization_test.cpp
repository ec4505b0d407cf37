// The labels in the user's language: every catalogue text keeps its
// format's conversions (the pages pass translations to printf), the strings
// file of each language names every vendor option and choice by its IPP name
// in that language, and a language without a catalogue falls back to English.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "app/job_options.h"
#include "app/localization.h"

namespace {

// The printf conversions of `text`, in order ("%s%d").
std::string conversions(const std::string& text) {
  std::string found;
  static const std::regex kConversion("%[-0-9.]*[a-z%]");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kConversion); it != std::sregex_iterator(); ++it) {
    found += it->str();
  }
  return found;
}

// The value of "key" in a strings file, or "(none)".
std::string lookup(const std::string& file, const std::string& key) {
  std::smatch match;
  std::regex line("(^|\n)\"" + std::regex_replace(key, std::regex(R"([.()])"), R"(\$&)") + "\" = \"([^\"]*)\";");
  return std::regex_search(file, match, line) ? match[2].str() : "(none)";
}

TEST(Localization, StringsFilesNameEveryOptionInTheirLanguage) {
  for (const char* language : catalogueLanguages()) {
    std::string file = stringsFile(language);
    for (const JobOption* option : vendorOptions()) {
      EXPECT_EQ(lookup(file, option->ipp), translate(language, option->label.english)) << language;
      for (const OptionChoice& choice : option->choices) {
        EXPECT_EQ(lookup(file, std::string(option->ipp) + "." + ippValueOf(choice)),
                  translate(language, choice.label.english));
      }
    }
    // Every line keeps the conversions of its key.
    static const std::regex kLine("\"((?:[^\"\\\\]|\\\\.)*)\" = \"((?:[^\"\\\\]|\\\\.)*)\";");
    int lines = 0;
    for (auto it = std::sregex_iterator(file.begin(), file.end(), kLine); it != std::sregex_iterator(); ++it, ++lines) {
      EXPECT_EQ(conversions((*it)[2]), conversions((*it)[1])) << language << ": " << (*it)[1];
    }
    EXPECT_GT(lines, 150) << language;
  }
  EXPECT_STREQ(translate("de-AT", "Paper cut"), translate("de", "Paper cut"));
  EXPECT_STREQ(translate("it", "Paper cut"), "Paper cut");
  EXPECT_EQ(lookup(stringsFile("en"), "page-cut.cut"), "Cut after each receipt");
}

}  // namespace
