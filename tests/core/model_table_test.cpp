// The model table against the sets of models the printers are sold in:
// every set below is listed independently of the table's rows, so a slip in
// a row shows up as a disagreement.
#include <algorithm>
#include <set>

#include <gtest/gtest.h>

#include "core/model_table.h"

namespace {

std::set<int> modelsWhere(bool (*test)(const ModelRow&)) {
  std::set<int> models;
  for (const ModelRow& row : ModelTable) {
    if (test(row)) models.insert(row.model);
  }
  return models;
}

TEST(ModelTableTest, DerivedSetsMatch) {
  EXPECT_EQ(modelsWhere([](const ModelRow&) { return true; }),
            (std::set<int>{1, 6, 10, 11, 13, 22, 29, 30, 31, 33, 35, 36, 40, 41, 42, 43,
                           52, 60, 61, 63, 81, 82, 83, 87, 88, 90, 91, 92, 96, 97, 105, 110,
                           111, 114, 115, 116, 117, 134, 137, 147, 152, 153, 154, 156, 258, 259, 268}));
  EXPECT_EQ(modelsWhere([](const ModelRow& r) { return r.compact; }),
            (std::set<int>{10, 40, 41, 81, 83, 91, 92, 105, 116, 117, 147}));
  EXPECT_EQ(modelsWhere([](const ModelRow& r) { return r.profile == Profile::Fixed; }),
            (std::set<int>{10, 33, 40, 41, 81, 91, 92, 105, 116, 117, 147}));
  EXPECT_EQ(modelsWhere([](const ModelRow& r) { return r.profile == Profile::Drawer; }),
            (std::set<int>{83}));
  EXPECT_EQ(modelsWhere([](const ModelRow& r) { return r.twoColour; }),
            (std::set<int>{1, 6, 11, 22, 29, 30, 31, 35, 36, 42, 43, 60, 61, 63, 82, 87, 88,
                           90, 96, 97, 110, 111, 114, 115, 134, 137, 152, 153, 154, 156, 258, 259, 268}));
  EXPECT_EQ(modelsWhere([](const ModelRow& r) { return r.mono; }),
            (std::set<int>{10, 13, 31, 33, 36, 40, 41, 43, 52, 60, 61, 63, 81, 83, 91, 92, 105,
                           110, 111, 114, 115, 116, 117, 147, 152, 156, 268}));
  EXPECT_EQ(modelsWhere([](const ModelRow& r) { return !r.monoScale; }),
            (std::set<int>{10, 40, 81, 83, 91, 116}));
  EXPECT_EQ(modelsWhere([](const ModelRow& r) { return r.rleRows == 0; }),
            (std::set<int>{1, 6, 10, 11, 13, 22, 35, 52}));
  EXPECT_EQ(modelsWhere([](const ModelRow& r) { return r.rleRows == 10; }), (std::set<int>{40, 81, 116}));
  EXPECT_EQ(modelsWhere([](const ModelRow& r) { return r.rleRows == 64; }), (std::set<int>{33}));
  EXPECT_EQ(modelsWhere([](const ModelRow& r) { return r.gsv0; }), (std::set<int>{13, 52}));
  EXPECT_EQ(modelsWhere([](const ModelRow& r) { return r.logoRaster != r.logoText; }),
            (std::set<int>{82, 87, 88, 90, 96, 97, 134, 137, 153, 154, 258, 259}));
  EXPECT_EQ(modelsWhere([](const ModelRow& r) { return r.cutMode == 'B'; }), (std::set<int>{22, 35}));
}

TEST(ModelTableTest, RowsAreConsistent) {
  for (const ModelRow& row : ModelTable) {
    SCOPED_TRACE(row.model);
    EXPECT_EQ(findModel(row.model), &row);
    // Logo key characters exist exactly where a model uses stored graphics by key.
    bool usesNv = row.logoRaster == LogoCommand::Nv || row.logoText == LogoCommand::Nv;
    EXPECT_EQ(row.logoKeyBase != 0, usesNv);
    // Feed counts and cut modes belong to the models that cut.
    if (row.pageEnd == PageEnd::Cut) {
      EXPECT_TRUE(row.cutMode == 'A' || row.cutMode == 'B');
      EXPECT_EQ(row.jobEndFeed, row.compact ? 0 : (row.model == 33 ? 1 : 6));
    } else {
      EXPECT_EQ(row.cutMode, 0);
      EXPECT_EQ(row.jobEndFeed, 0);
      EXPECT_TRUE(row.compact);
    }
  }
  EXPECT_EQ(findModel(12), nullptr);
  EXPECT_EQ(findModel(0), nullptr);
}

}  // namespace
