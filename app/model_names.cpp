// Model names and device ID matching; see model_names.h. A device ID is a
// list of "KEY:value;" pairs; keys come short or long (MFG or MANUFACTURER,
// MDL or MODEL, CMD or COMMAND SET) and in any case.
#include "app/model_names.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

constexpr char kDriverPrefix[] = "talvero_tlv";
// The driver of a printer loaded with a 58 mm roll ends in this; the plain
// name is the 80 mm roll's.
constexpr char kNarrowSuffix[] = "_58mm";
// The models offered to an ESC/POS printer of another maker: GS v 0 raster
// (black) and GS ( L graphics in two colours are what such printers know;
// the compressed raster of most Talvero models is not.
constexpr int32_t kGenericBlack = 13;
constexpr int32_t kGenericTwoColour = 1;

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

std::string trimmed(const std::string& text) {
  size_t start = text.find_first_not_of(" \t");
  size_t end = text.find_last_not_of(" \t");
  return start == std::string::npos ? "" : text.substr(start, end - start + 1);
}

// The device ID's fields by upper-case key, long keys folded to short ones.
std::map<std::string, std::string> deviceFields(const char* deviceId) {
  static const std::map<std::string, std::string> kLongKeys = {
      {"MANUFACTURER", "MFG"}, {"MODEL", "MDL"}, {"COMMAND SET", "CMD"}, {"DESCRIPTION", "DES"}};
  std::map<std::string, std::string> fields;
  std::string text = deviceId != nullptr ? deviceId : "";
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string pair = text.substr(start, end - start);
    if (size_t colon = pair.find(':'); colon != std::string::npos) {
      std::string key = upper(trimmed(pair.substr(0, colon)));
      if (auto longKey = kLongKeys.find(key); longKey != kLongKeys.end()) key = longKey->second;
      fields.emplace(key, trimmed(pair.substr(colon + 1)));
    }
    start = end + 1;
  }
  return fields;
}

// The number of "TLV-31", "TLV 31 II", "tlv031": -1 when `model` is not one.
int32_t tlvNumber(const std::string& model) {
  std::string text = upper(model);
  // The prefix without its dash: "TLV 31" and "TLV031" name model 31 too.
  size_t at = std::strlen(kModelNamePrefix) - 1;
  if (text.compare(0, at, kModelNamePrefix, at) != 0) return -1;
  while (at < text.size() && (text[at] == '-' || text[at] == ' ')) ++at;
  if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return -1;
  return static_cast<int32_t>(std::strtol(text.c_str() + at, nullptr, 10));
}

// The model with the number nearest `number` (the lower one on a tie).
const ModelRow* nearestModel(int32_t number) {
  const ModelRow* best = &ModelTable.front();
  for (const ModelRow& row : ModelTable) {
    if (std::abs(row.model - number) < std::abs(best->model - number)) best = &row;
  }
  return best;
}

bool mentions(const std::map<std::string, std::string>& fields, const char* key, const char* word) {
  auto field = fields.find(key);
  return field != fields.end() && upper(field->second).find(word) != std::string::npos;
}

}  // namespace

std::string driverNameOf(int32_t model, bool narrowRoll) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%03d%s", kDriverPrefix, model, narrowRoll ? kNarrowSuffix : "");
  return name;
}

std::string driverDescriptionOf(const ModelRow& model, bool narrowRoll) {
  return makeAndModelOf(model.model) + (model.twoColour ? ", black and red, " : ", black, ") +
         (narrowRoll ? "58" : "80") + " mm roll";
}

DriverChoice driverOf(const char* name) {
  size_t prefix = sizeof kDriverPrefix - 1;
  if (name == nullptr || std::strncmp(name, kDriverPrefix, prefix) != 0) return {};
  const ModelRow* row = findModel(std::atoi(name + prefix));
  for (bool narrow : {false, true}) {
    if (row != nullptr && driverNameOf(row->model, narrow) == name) return {row, narrow};
  }
  return {};
}

std::string makeAndModelOf(int32_t model) {
  return std::string(kMakerName) + " " + kModelNamePrefix + std::to_string(model);
}

std::string deviceIdOf(int32_t model) {
  return std::string("MFG:") + kMakerName + ";MDL:" + kModelNamePrefix + std::to_string(model) + ";CMD:ESC/POS;";
}

const ModelRow* modelOfMakeAndModel(const char* text) {
  size_t maker = std::strlen(kMakerName);
  if (text == nullptr || std::strncmp(text, kMakerName, maker) != 0 || text[maker] != ' ') return nullptr;
  return findModel(tlvNumber(text + maker + 1));
}

DeviceMatch matchDeviceId(const char* deviceId) {
  std::map<std::string, std::string> fields = deviceFields(deviceId);
  int32_t number = tlvNumber(fields["MDL"]);
  if (upper(fields["MFG"]) == upper(kMakerName) && number >= 0) {
    const ModelRow* exact = findModel(number);
    return {exact != nullptr ? exact : nearestModel(number), exact != nullptr};
  }
  std::string commands = upper(fields["CMD"]);
  if (commands.find("ESC/POS") == std::string::npos && commands.find("ESCPOS") == std::string::npos) return {};
  bool red = mentions(fields, "MDL", "RED") || mentions(fields, "DES", "RED") || mentions(fields, "DES", "COLO") ||
             mentions(fields, "CMD", "COLO");
  return {findModel(red ? kGenericTwoColour : kGenericBlack), false};
}
