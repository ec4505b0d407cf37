// The Printer Application in the user's language. Every text a person reads
// (option and choice labels, paper names, the texts of our own web pages) is
// written in English in the code and translated through the message
// catalogues of po/ (de.po, fr.po, es.po, keyed by the English text), the
// same catalogues ppdc puts into the PPDs. From them each language gets a
// strings file (PWG 5100.13 "key" = "text";) holding:
//   - every vendor attribute and choice by IPP name ("page-cut" = "...",
//     "page-cut.cut" = "..."), the colour modes and the paper sizes
//     ("media.om_80x297mm_80x297mm" = "..."), which IPP clients read through
//     printer-strings-uri and PAPPL's Media page shows;
//   - every catalogue text by its English text, which the web pages look up
//     (a language without a catalogue shows the English text itself).
// Nothing here depends on PAPPL.
#pragma once

#include <span>
#include <string>

// The languages with a catalogue ("de", "es", "fr"), English not included.
std::span<const char* const> catalogueLanguages();

// `text` in `language` ("de", "de-DE", "de_DE.UTF-8"), or `text` itself when
// the catalogue has no translation (or the language none).
const char* translate(const std::string& language, const char* text);

// The strings file of `language` ("en" gives the English labels by IPP name).
std::string stringsFile(const std::string& language);

// The user's language from LC_ALL, LC_MESSAGES or LANG ("de" for
// "de_DE.UTF-8"), "en" when none is set.
std::string environmentLanguage();

// The label of paper size `name` (a PWG media name), in English; the name
// itself for a size that is not one of the PPD's.
const char* mediaLabel(const char* name);

// The labels of the colour modes (the PPD's ColorModel choices): black and
// red, or black only. The option's label is the option table's.
const char* colourModeLabel(bool colour);
