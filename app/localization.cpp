// Translations and strings files; see localization.h. The catalogues are
// compiled in (cmake/embed_catalogues.cmake) and read once, on first use.
#include "app/localization.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "app/job_options.h"

extern const std::pair<const char*, const char*> kCatalogues[];
extern const int kCatalogueCount;

namespace {

using Catalogue = std::map<std::string, std::string>;

// The text of a quoted .po string ("a \"b\"\n" gives a "b" and a newline).
std::string unquote(const std::string& line) {
  size_t open = line.find('"'), close = line.rfind('"');
  std::string out;
  for (size_t i = open + 1; open != std::string::npos && i < close; ++i) {
    if (line[i] != '\\' || i + 1 >= close) {
      out += line[i];
      continue;
    }
    char escaped = line[++i];
    out += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
  }
  return out;
}

// The msgid and msgstr pairs of a .po file; untranslated ones are left out.
Catalogue parseCatalogue(const char* text) {
  Catalogue catalogue;
  std::string id, str, *current = nullptr;
  auto flush = [&] {
    if (!id.empty() && !str.empty()) catalogue[id] = str;
    id.clear(), str.clear(), current = nullptr;
  };
  for (const char* line = text; *line != '\0';) {
    const char* end = std::strchr(line, '\n');
    std::string row(line, end != nullptr ? end : line + std::strlen(line));
    line = end != nullptr ? end + 1 : line + row.size();
    if (row.rfind("msgid ", 0) == 0) {
      flush();
      id = unquote(row), current = &id;
    } else if (row.rfind("msgstr ", 0) == 0) {
      str = unquote(row), current = &str;
    } else if (!row.empty() && row[0] == '"' && current != nullptr) {
      *current += unquote(row);
    }
  }
  flush();
  return catalogue;
}

const std::map<std::string, Catalogue>& catalogues() {
  static const std::map<std::string, Catalogue> all = [] {
    std::map<std::string, Catalogue> made;
    for (int i = 0; i < kCatalogueCount; ++i) made[kCatalogues[i].first] = parseCatalogue(kCatalogues[i].second);
    return made;
  }();
  return all;
}

// "de" for "de", "de-DE", "DE_de.UTF-8".
std::string baseLanguage(const std::string& language) {
  std::string base;
  for (char c : language) {
    if (!std::isalpha(static_cast<unsigned char>(c)) || base.size() == 2) break;
    base += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return base;
}

// A strings file line: "key" = "text"; with quotes and backslashes escaped.
void addLine(std::string& out, const std::string& key, const std::string& text) {
  auto quoted = [](const std::string& s) {
    std::string q = "\"";
    for (char c : s) {
      if (c == '"' || c == '\\') q += '\\';
      if (c == '\n') {
        q += "\\n";
        continue;
      }
      q += c;
    }
    return q + "\"";
  };
  out += quoted(key) + " = " + quoted(text) + ";\n";
}

}  // namespace

std::span<const char* const> catalogueLanguages() {
  static const std::vector<const char*> languages = [] {
    std::vector<const char*> made;
    for (int i = 0; i < kCatalogueCount; ++i) made.push_back(kCatalogues[i].first);
    return made;
  }();
  return languages;
}

const char* translate(const std::string& language, const char* text) {
  auto catalogue = catalogues().find(baseLanguage(language));
  if (catalogue == catalogues().end()) return text;
  auto found = catalogue->second.find(text);
  return found != catalogue->second.end() ? found->second.c_str() : text;
}

std::string stringsFile(const std::string& language) {
  std::string out;  // no comment: PAPPL 1.3's reader misreads the line after one
  for (const JobOption* option : vendorOptions()) {
    addLine(out, option->ipp, translate(language, option->label.english));
    for (const OptionChoice& choice : option->choices) {
      addLine(out, std::string(option->ipp) + "." + ippValueOf(choice), translate(language, choice.label.english));
    }
  }
  addLine(out, "print-color-mode", translate(language, findJobOption("ColorModel")->label.english));
  addLine(out, "print-color-mode.color", translate(language, colourModeLabel(true)));
  addLine(out, "print-color-mode.monochrome", translate(language, colourModeLabel(false)));
  for (const MediaSize& size : mediaSizes()) {
    addLine(out, std::string("media.") + size.name, translate(language, size.label));
  }
  auto catalogue = catalogues().find(baseLanguage(language));
  if (catalogue != catalogues().end()) {
    for (const auto& [english, text] : catalogue->second) addLine(out, english, text);
  }
  return out;
}

std::string environmentLanguage() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    if (std::strcmp(value, "C") == 0 || std::strncmp(value, "C.", 2) == 0 || std::strcmp(value, "POSIX") == 0) break;
    std::string base = baseLanguage(value);
    return base.size() == 2 ? base : "en";
  }
  return "en";
}

const char* mediaLabel(const char* name) {
  for (const MediaSize& size : mediaSizes()) {
    if (name != nullptr && std::strcmp(size.name, name) == 0) return size.label;
  }
  return name != nullptr ? name : "";
}

const char* colourModeLabel(bool colour) { return colour ? "Black and red" : "Black only"; }
