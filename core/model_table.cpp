// The model table. Columns, in order: model, profile, compact, rleRows,
// gsv0, twoColour, mono, monoScale, logoRaster, logoText, logoKeyBase,
// pageEnd, feedNoCut, feedBeforeCut, cutMode, jobEndFeed. A 0 in rleRows,
// logoKeyBase or cutMode means the column does not apply to the row.
#include "core/model_table.h"

#include <algorithm>

namespace {

constexpr Profile F = Profile::Full;
constexpr Profile D = Profile::Drawer;
constexpr Profile X = Profile::Fixed;
constexpr bool Y = true;
constexpr bool n = false;
constexpr LogoCommand Nv = LogoCommand::Nv;
constexpr LogoCommand Fsp = LogoCommand::Fsp;
constexpr PageEnd Short = PageEnd::Short;
constexpr PageEnd Long = PageEnd::Long;
constexpr PageEnd Cut = PageEnd::Cut;

}  // namespace

// clang-format off
const std::array<ModelRow, 47> ModelTable = {{
    {  1, F, n,   0, n, Y, n, Y, Fsp, Fsp, 0  , Cut  , 2, 0, 'A', 6},
    {  6, F, n,   0, n, Y, n, Y, Fsp, Fsp, 0  , Cut  , 2, 0, 'A', 6},
    { 10, X, Y,   0, n, n, Y, n, Nv , Nv , '1', Short, 0, 0, 0  , 0},
    { 11, F, n,   0, n, Y, n, Y, Fsp, Fsp, 0  , Cut  , 4, 2, 'A', 6},
    { 13, F, n,   0, Y, n, Y, Y, Fsp, Fsp, 0  , Cut  , 2, 0, 'A', 6},
    { 22, F, n,   0, n, Y, n, Y, Fsp, Fsp, 0  , Cut  , 1, 0, 'B', 6},
    { 29, F, n, 246, n, Y, n, Y, Fsp, Fsp, 0  , Cut  , 2, 0, 'A', 6},
    { 30, F, n, 246, n, Y, n, Y, Fsp, Fsp, 0  , Cut  , 4, 2, 'A', 6},
    { 31, F, n, 246, n, Y, Y, Y, Fsp, Fsp, 0  , Cut  , 2, 0, 'A', 6},
    { 33, X, n,  64, n, n, Y, Y, Nv , Nv , '0', Cut  , 2, 0, 'A', 1},
    { 35, F, n,   0, n, Y, n, Y, Fsp, Fsp, 0  , Cut  , 1, 0, 'B', 6},
    { 36, F, n, 246, n, Y, Y, Y, Fsp, Fsp, 0  , Cut  , 2, 0, 'A', 6},
    { 40, X, Y,  10, n, n, Y, n, Nv , Nv , '1', Short, 0, 0, 0  , 0},
    { 41, X, Y, 246, n, n, Y, Y, Nv , Nv , '0', Short, 0, 0, 0  , 0},
    { 42, F, n, 246, n, Y, n, Y, Nv , Nv , '0', Cut  , 3, 0, 'A', 6},
    { 43, F, n, 246, n, Y, Y, Y, Fsp, Fsp, 0  , Cut  , 2, 0, 'A', 6},
    { 52, F, n,   0, Y, n, Y, Y, Fsp, Fsp, 0  , Cut  , 2, 0, 'A', 6},
    { 60, F, n, 246, n, Y, Y, Y, Fsp, Fsp, 0  , Cut  , 2, 0, 'A', 6},
    { 61, F, n, 246, n, Y, Y, Y, Fsp, Fsp, 0  , Cut  , 3, 1, 'A', 6},
    { 63, F, n, 246, n, Y, Y, Y, Fsp, Fsp, 0  , Cut  , 4, 2, 'A', 6},
    { 81, X, Y,  10, n, n, Y, n, Nv , Nv , '1', Short, 0, 0, 0  , 0},
    { 82, F, n, 246, n, Y, n, Y, Nv , Fsp, '0', Cut  , 2, 0, 'A', 6},
    { 83, D, Y, 246, n, n, Y, n, Nv , Nv , '0', Long , 0, 0, 0  , 0},
    { 87, F, n, 246, n, Y, n, Y, Nv , Fsp, '0', Cut  , 1, 0, 'A', 6},
    { 88, F, n, 246, n, Y, n, Y, Nv , Fsp, '0', Cut  , 1, 0, 'A', 6},
    { 90, F, n, 246, n, Y, n, Y, Nv , Fsp, '0', Cut  , 1, 0, 'A', 6},
    { 91, X, Y, 246, n, n, Y, n, Nv , Nv , '1', Short, 0, 0, 0  , 0},
    { 92, X, Y, 246, n, n, Y, Y, Nv , Nv , '0', Short, 0, 0, 0  , 0},
    { 96, F, n, 246, n, Y, n, Y, Nv , Fsp, '0', Cut  , 2, 0, 'A', 6},
    { 97, F, n, 246, n, Y, n, Y, Nv , Fsp, '0', Cut  , 2, 0, 'A', 6},
    {105, X, Y, 246, n, n, Y, Y, Nv , Nv , '0', Short, 0, 0, 0  , 0},
    {110, F, n, 246, n, Y, Y, Y, Fsp, Fsp, 0  , Cut  , 3, 1, 'A', 6},
    {111, F, n, 246, n, Y, Y, Y, Fsp, Fsp, 0  , Cut  , 4, 2, 'A', 6},
    {114, F, n, 246, n, Y, Y, Y, Fsp, Fsp, 0  , Cut  , 2, 0, 'A', 6},
    {115, F, n, 246, n, Y, Y, Y, Fsp, Fsp, 0  , Cut  , 2, 0, 'A', 6},
    {116, X, Y,  10, n, n, Y, n, Nv , Nv , '1', Short, 0, 0, 0  , 0},
    {117, X, Y, 246, n, n, Y, Y, Nv , Nv , '0', Short, 0, 0, 0  , 0},
    {134, F, n, 246, n, Y, n, Y, Nv , Fsp, '0', Cut  , 2, 0, 'A', 6},
    {137, F, n, 246, n, Y, n, Y, Nv , Fsp, '0', Cut  , 2, 0, 'A', 6},
    {147, X, Y, 246, n, n, Y, Y, Nv , Nv , '0', Short, 0, 0, 0  , 0},
    {152, F, n, 246, n, Y, Y, Y, Fsp, Fsp, 0  , Cut  , 3, 1, 'A', 6},
    {153, F, n, 246, n, Y, n, Y, Nv , Fsp, '0', Cut  , 2, 0, 'A', 6},
    {154, F, n, 246, n, Y, n, Y, Nv , Fsp, '0', Cut  , 2, 0, 'A', 6},
    {156, F, n, 246, n, Y, Y, Y, Fsp, Fsp, 0  , Cut  , 4, 2, 'A', 6},
    {258, F, n, 246, n, Y, n, Y, Nv , Fsp, '0', Cut  , 2, 0, 'A', 6},
    {259, F, n, 246, n, Y, n, Y, Nv , Fsp, '0', Cut  , 2, 0, 'A', 6},
    {268, F, n, 246, n, Y, Y, Y, Fsp, Fsp, 0  , Cut  , 4, 2, 'A', 6},
}};
// clang-format on

const ModelRow* findModel(int32_t model) {
  const auto* row = std::find_if(ModelTable.begin(), ModelTable.end(),
                                 [model](const ModelRow& r) { return r.model == model; });
  return row == ModelTable.end() ? nullptr : row;
}
