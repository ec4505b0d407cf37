// USB printers that add themselves: IEEE 1284 device IDs as printers report
// them, and the driver each one gets (or none).
#include <gtest/gtest.h>

#include "app/model_names.h"

namespace {

TEST(DeviceId, MatchesADriver) {
  struct Case {
    const char* deviceId;
    int32_t model;  // 0: no driver
    bool exact;
  } cases[] = {
      {"MFG:Talvero;MDL:TLV-31;CMD:ESC/POS;CLS:PRINTER;", 31, true},
      {"MANUFACTURER:talvero;MODEL:tlv 258;COMMAND SET:ESC/POS;", 258, true},
      {" mfg : Talvero ; mdl : TLV-013 II ; ", 13, true},
      {"MFG:Talvero;MDL:TLV-32;", 31, false},   // unknown: the nearest (lower on a tie)
      {"MFG:Talvero;MDL:TLV-300;", 268, false},
      {"MFG:Talvero;MDL:Cash box;CMD:ESC/POS;", 13, false},  // not a TLV model: generic
      {"MFG:Acme;MDL:Receipt 80;CMD:ESC/POS,STAR;", 13, false},
      {"MFG:Acme;MDL:Receipt 80 Red;CMD:ESCPOS;", 1, false},
      {"MFG:Acme;MDL:R80;CMD:ESC/POS;DES:two-colour receipt printer;", 1, false},
      {"MFG:HP;MDL:LaserJet 4;CMD:PCL,PJL;", 0, false},
      {"MFG:Talvero;CMD:PCL;", 0, false},
      {"", 0, false},
      {nullptr, 0, false},
  };
  for (const Case& c : cases) {
    DeviceMatch match = matchDeviceId(c.deviceId);
    std::string id = c.deviceId ? c.deviceId : "(null)";
    ASSERT_EQ(match.model ? match.model->model : 0, c.model) << id;
    EXPECT_EQ(match.exact, c.exact) << id;
  }
}

// Every model's own device ID, driver names and make and model lead back to it.
TEST(DeviceId, EveryModelsNamesLeadBackToIt) {
  for (const ModelRow& row : ModelTable) {
    DeviceMatch match = matchDeviceId(deviceIdOf(row.model).c_str());
    EXPECT_EQ(match.model, &row);
    EXPECT_TRUE(match.exact);
    for (bool narrow : {false, true}) {
      DriverChoice driver = driverOf(driverNameOf(row.model, narrow).c_str());
      EXPECT_EQ(driver.model, &row);
      EXPECT_EQ(driver.narrowRoll, narrow);
    }
    EXPECT_EQ(modelOfMakeAndModel(makeAndModelOf(row.model).c_str()), &row);
  }
  EXPECT_EQ(driverOf("talvero_tlv31").model, nullptr);
  EXPECT_EQ(driverOf("talvero_tlv031_80mm").model, nullptr);
  EXPECT_EQ(modelOfMakeAndModel("Acme TLV-31"), nullptr);
}

}  // namespace
