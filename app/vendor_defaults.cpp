// Reads NAME-default attributes; see vendor_defaults.h.
#include "app/vendor_defaults.h"

#include <cstdio>
#include <string>

const char* vendorDefault(const char* attribute, const void* defaults) {
  const auto* source = static_cast<const VendorDefaults*>(defaults);
  std::string name = std::string(attribute) + "-default";
  ipp_attribute_t* value = ippFindAttribute(source->attributes, name.c_str(), IPP_TAG_ZERO);
  if (value == nullptr) return nullptr;
  if (ippGetValueTag(value) == IPP_TAG_INTEGER) {
    std::snprintf(source->number, sizeof source->number, "%d", ippGetInteger(value, 0));
    return source->number;
  }
  return ippGetString(value, 0, nullptr);
}
