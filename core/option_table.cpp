// The option table; see option_table.h. Choices, labels and defaults are
// those of ppd/talvero.drv. The labels are plain words with their units, as
// a shop owner reads them; po/*.po translate them, keyed by the English.
#include "core/option_table.h"

#include <cstring>

namespace {

constexpr OptionChoice kPageType[] = {{0, "trim-blank-rows", {"Trim blank rows, skip blank pages"}},
                                      {1, "print-as-is", {"Print every row and page"}}};
constexpr OptionChoice kRotation[] = {{0, "none", {"None"}},
                                      {1, "rotate-90", {"90 degrees"}},
                                      {2, "rotate-180", {"180 degrees (upside down)"}},
                                      {3, "rotate-270", {"270 degrees"}}};
constexpr OptionChoice kFocusArea[] = {
    {0, "whole-page", {"Whole page"}}, {1, "right-part", {"Right part"}}, {2, "center", {"Centre"}}};
constexpr OptionChoice kCompPrinting[] = {{0, "off", {"Off"}}, {1, "on", {"On"}}};
constexpr OptionChoice kPageCut[] = {{0, "feed", {"Feed the paper, no cut"}},
                                     {1, "no-feed", {"No feed, no cut"}},
                                     {2, "cut", {"Cut after each receipt"}}};
constexpr OptionChoice kLogoPosition[] = {{0, "none", {"No logo"}},
                                          {1, "before", {"Before the receipt"}},
                                          {2, "after", {"After the receipt"}},
                                          {3, "before-and-after", {"Before and after the receipt"}}};
constexpr OptionChoice kLogoJustification[] = {
    {0, "left", {"Left"}}, {1, "center", {"Centre"}}, {2, "right", {"Right"}}};
constexpr OptionChoice kLogoImage[] = {
    {0, "logo-1", {"Logo 1"}}, {1, "logo-2", {"Logo 2"}}, {2, "logo-3", {"Logo 3"}}};
constexpr OptionChoice kLogoWidth[] = {{0, "normal", {"Normal"}},
                                       {1, "double-width", {"Double width"}},
                                       {2, "double-height", {"Double height"}},
                                       {3, "double-width-and-height", {"Double width and height"}}};
constexpr OptionChoice kLineFeed[] = {
    {0, nullptr, {"None"}},     {1, nullptr, {"1 line"}},   {2, nullptr, {"2 lines"}}, {3, nullptr, {"3 lines"}},
    {4, nullptr, {"4 lines"}},  {5, nullptr, {"5 lines"}},  {6, nullptr, {"6 lines"}}, {7, nullptr, {"7 lines"}},
    {8, nullptr, {"8 lines"}},  {9, nullptr, {"9 lines"}},  {10, nullptr, {"10 lines"}}};
constexpr OptionChoice kCashDrawer[] = {{0, "none", {"None"}},
                                        {1, "drawer-1", {"Drawer 1"}},
                                        {2, "drawer-2", {"Drawer 2"}},
                                        {3, "drawers-1-and-2", {"Drawers 1 and 2"}}};
constexpr OptionChoice kCashDrawerOpen[] = {{0, "before-printing", {"Before printing"}},
                                            {1, "after-printing", {"After printing"}},
                                            {2, "before-and-after-printing", {"Before and after printing"}},
                                            {3, "never", {"Never"}}};
constexpr OptionChoice kPulseWidth[] = {
    {50, nullptr, {"50 ms"}},   {100, nullptr, {"100 ms"}}, {150, nullptr, {"150 ms"}}, {200, nullptr, {"200 ms"}},
    {250, nullptr, {"250 ms"}}, {300, nullptr, {"300 ms"}}, {350, nullptr, {"350 ms"}}, {400, nullptr, {"400 ms"}},
    {450, nullptr, {"450 ms"}}, {500, nullptr, {"500 ms"}}};

using R = ReadBy;
using S = JobSettings;

// clang-format off
constexpr JobOption kOptions[] = {
    {"PageSize", nullptr, {"Media Size"}, {}, 0, &S::PageSize, R::Every},
    {"ColorModel", nullptr, {"Colours"}, {}, 0, &S::ColorModel, R::FullProfile},
    {"PageType", "page-type", {"Blank rows and pages"}, kPageType, 0, &S::PageType, R::Every},
    {"Rotation", "rotation", {"Rotation"}, kRotation, 0, &S::Rotation, R::Every},
    {"FocusArea", "focus-area", {"Part of a half-size page"}, kFocusArea, 0, &S::FocusArea, R::NotCompact},
    {"CompPrinting", "comp-printing", {"Compressed printing (faster)"}, kCompPrinting, 1, &S::CompPrinting,
     R::CompressedRaster},
    {"PageCut", "page-cut", {"Paper cut"}, kPageCut, 2, &S::PageCut, R::FullProfile},
    {"LogoPosition", "logo-position", {"Stored logo"}, kLogoPosition, 0, &S::LogoPosition, R::Every},
    {"LogoJustification", "logo-justification", {"Logo alignment"}, kLogoJustification, 1, &S::LogoJustification,
     R::Every},
    {"LogoImage", "logo-image", {"Logo to print"}, kLogoImage, 0, &S::LogoImage, R::Every},
    {"LogoWidth", "logo-width", {"Logo size"}, kLogoWidth, 0, &S::LogoWidth, R::Every},
    {"LineFeed", "line-feed", {"Blank lines after the logo"}, kLineFeed, 0, &S::LineFeed, R::Every},
    {"CashDrawer", "cash-drawer", {"Cash drawer to open"}, kCashDrawer, 0, &S::CashDrawer, R::DrawerProfile},
    {"CashDrawerOpen", "cash-drawer-open", {"When to open the drawer"}, kCashDrawerOpen, 3, &S::CashDrawerOpen,
     R::DrawerProfile},
    {"CashDrawer1PulseWidth", "cash-drawer-1-pulse-width", {"Cash drawer 1 pulse (ms)"}, kPulseWidth, 100,
     &S::CashDrawer1PulseWidth, R::DrawerProfile},
    {"CashDrawer2PulseWidth", "cash-drawer-2-pulse-width", {"Cash drawer 2 pulse (ms)"}, kPulseWidth, 100,
     &S::CashDrawer2PulseWidth, R::DrawerProfile},
};
// clang-format on

// Every field of JobSettings but the model number has its option.
static_assert(std::size(kOptions) + 1 == sizeof(JobSettings) / sizeof(int32_t));

}  // namespace

std::span<const JobOption> jobOptions() { return kOptions; }

const JobOption* findJobOption(const char* keyword) {
  for (const JobOption& option : kOptions) {
    if (std::strcmp(option.keyword, keyword) == 0) return &option;
  }
  return nullptr;
}

std::string settingsText(const JobSettings& settings) {
  std::string text;
  for (const JobOption& option : kOptions) {
    if (!text.empty()) text += ", ";
    text += std::string(option.keyword) + " " + std::to_string(settings.*option.field);
  }
  return text;
}

bool readsOption(const ModelRow* row, const JobOption& option) {
  if (row == nullptr) return true;
  switch (option.readBy) {
    case ReadBy::Every: return true;
    case ReadBy::NotCompact: return !row->compact;
    case ReadBy::CompressedRaster: return row->rleRows != 0;
    case ReadBy::FullProfile: return row->profile == Profile::Full;
    case ReadBy::DrawerProfile: return row->profile != Profile::Fixed;
  }
  return false;
}
