// A printer's current default of a vendor attribute ("NAME-default"), read
// from any set of IPP attributes: the printer's driver attributes in the
// server, or a Get-Printer-Attributes response in a sub-command.
#pragma once

#include <cups/ipp.h>

struct VendorDefaults {
  ipp_t* attributes;     // holds the NAME-default attributes
  mutable char number[16];  // the text of an integer default
};

// The default of `attribute` (a keyword, or an integer in decimal), or
// nullptr when `defaults` (a VendorDefaults) has none. The text lives until
// the next call with the same `defaults`.
const char* vendorDefault(const char* attribute, const void* defaults);
