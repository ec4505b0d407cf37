// The PPDs in the user's language: for German, French and Spanish, libcups's
// ppdLocalize turns every option's and choice's text of all 47 PPDs into
// that language's catalogue text (po/LANG.po), and the catalogue has every
// text a print dialog shows. libcups keeps the language per thread, so each
// language is read on a thread of its own.
#include <gtest/gtest.h>

#include <cups/ppd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

namespace {

// msgid -> msgstr of a catalogue (one-line entries, as po/ writes them).
std::map<std::string, std::string> catalogue(const std::string& language) {
  std::ifstream in(std::string(TALVERO_PO_DIR) + "/" + language + ".po");
  std::map<std::string, std::string> texts;
  std::string line, id;
  auto unquote = [](const std::string& s) {
    std::string out;
    for (size_t i = s.find('"') + 1; i + 1 < s.size(); ++i) out += s[i] == '\\' ? s[++i] : s[i];
    return out;
  };
  while (std::getline(in, line)) {
    if (line.rfind("msgid ", 0) == 0) id = unquote(line);
    if (line.rfind("msgstr ", 0) == 0 && !id.empty()) texts[id] = unquote(line);
  }
  return texts;
}

// Checks every PPD localized into `language` against its catalogue.
void checkLanguage(const std::string& language) {
  setenv("LANG", (language + ".UTF-8").c_str(), 1);
  std::map<std::string, std::string> texts = catalogue(language);
  ASSERT_GT(texts.size(), 50u) << language;
  int ppds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(TALVERO_PPD_DIR)) {
    if (entry.path().extension() != ".ppd") continue;
    ppd_file_t* english = ppdOpenFile(entry.path().c_str());
    ppd_file_t* local = ppdOpenFile(entry.path().c_str());
    ASSERT_TRUE(english && local) << entry.path();
    ppdLocalize(local);
    ++ppds;
    for (int o = 0; o < english->num_groups; ++o) {
      const ppd_group_t &from = english->groups[o], &to = local->groups[o];
      for (int i = 0; i < from.num_options; ++i) {
        if (std::string(from.options[i].keyword) == "PageRegion") continue;  // never shown
        for (int c = -1; c < from.options[i].num_choices; ++c) {
          std::string text = c < 0 ? from.options[i].text : from.options[i].choices[c].text;
          std::string shown = c < 0 ? to.options[i].text : to.options[i].choices[c].text;
          ASSERT_EQ(texts.count(text), 1u) << language << " catalogue lacks \"" << text << "\"";
          EXPECT_EQ(shown, texts[text]) << entry.path().filename() << " " << from.options[i].keyword;
        }
      }
    }
    ppdClose(english);
    ppdClose(local);
  }
  EXPECT_EQ(ppds, 47);
}

TEST(PpdTranslations, EveryOptionAndChoiceInEachLanguage) {
  for (const char* language : {"de_DE", "fr_FR", "es_ES"}) {
    std::thread reader([language] { checkLanguage(std::string(language, 2)); });
    reader.join();
  }
}

}  // namespace
