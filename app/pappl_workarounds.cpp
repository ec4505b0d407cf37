// A fault of PAPPL 1.3.1 that the Printer Application works around.
//
// When a system has strings files (papplSystemAddStringsData: the labels of
// the options in each language, which IPP clients read through
// printer-strings-uri), PAPPL's Get-Printer-Attributes adds
// printer-strings-languages-supported to the printer's own attributes
// instead of to the response (printer-ipp.c), on every request and under a
// read lock only: each request grows the printer by one more copy, every
// later response carries all of them, and two requests at once write the
// same list. The program defines ippAddStrings itself, so libpappl's calls
// come here (the executable's symbols come first), and drops that call:
// the one that names this attribute with its values. libcups copying an
// attribute (ippCopyAttribute) passes no values and goes through, as does
// every other call. The driver puts the attribute among the printer's fixed
// attributes instead (driver.cpp), where it is written once.
#include <dlfcn.h>

#include <cstring>

#include <cups/ipp.h>

namespace {

using AddStrings = ipp_attribute_t* (*)(ipp_t*, ipp_tag_t, ipp_tag_t, const char*, int, const char*,
                                        const char* const*);

AddStrings libcupsAddStrings() {
  static const auto real = reinterpret_cast<AddStrings>(dlsym(RTLD_NEXT, "ippAddStrings"));
  return real;
}

}  // namespace

extern "C" ipp_attribute_t* ippAddStrings(ipp_t* ipp, ipp_tag_t group, ipp_tag_t valueTag, const char* name,
                                          int count, const char* language, const char* const* values) {
  if (values != nullptr && name != nullptr && std::strcmp(name, "printer-strings-languages-supported") == 0) {
    return nullptr;
  }
  return libcupsAddStrings()(ipp, group, valueTag, name, count, language, values);
}
