// The names a model goes by in the Printer Application: its two drivers
// (talvero_tlv031 for a printer loaded with an 80 mm roll, talvero_tlv031_58mm
// with a 58 mm roll), its make and model ("Talvero TLV-31"), and the IEEE
// 1284 device ID a USB printer reports (MFG:Talvero;MDL:TLV-31;CMD:ESC/POS;),
// which is matched to a driver so USB printers add themselves.
#pragma once

#include <cstdint>
#include <string>

#include "core/model_table.h"

// "talvero_tlv031" for model 31 on an 80 mm roll, "talvero_tlv031_58mm" on 58 mm.
std::string driverNameOf(int32_t model, bool narrowRoll = false);

// "Talvero TLV-31, black and red, 80 mm roll".
std::string driverDescriptionOf(const ModelRow& model, bool narrowRoll);

// A driver: a model (nullptr for a name of no driver) and the roll it starts with.
struct DriverChoice {
  const ModelRow* model = nullptr;
  bool narrowRoll = false;
};
DriverChoice driverOf(const char* name);

// "Talvero TLV-31" for model 31.
std::string makeAndModelOf(int32_t model);

// "MFG:Talvero;MDL:TLV-31;CMD:ESC/POS;" for model 31.
std::string deviceIdOf(int32_t model);

// The model of a make-and-model text, or nullptr.
const ModelRow* modelOfMakeAndModel(const char* text);

// What a device ID matched.
struct DeviceMatch {
  const ModelRow* model = nullptr;  // nullptr: not a printer these drivers print on
  bool exact = false;               // the device named this very model
};

// Matches a device ID: a Talvero model by its MDL (an unknown Talvero model
// gets the model with the nearest number); any other ESC/POS printer (CMD
// lists ESC/POS) gets the model whose commands every ESC/POS printer knows,
// a two-colour one when the ID speaks of red or colour.
DeviceMatch matchDeviceId(const char* deviceId);
