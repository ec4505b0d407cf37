// The option and media tables of the Printer Application; see job_options.h.
// The choices, their order and the defaults are those of ppd/talvero.drv.
#include "app/job_options.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr OptionChoice kPageType[] = {{"trim-blank-rows", 0, "Trim Blank Rows, Skip Blank Pages"},
                                      {"print-as-is", 1, "Print the Page as It Is"}};
constexpr OptionChoice kRotation[] = {{"none", 0, "None"},
                                      {"rotate-90", 1, "90 Degrees"},
                                      {"rotate-180", 2, "180 Degrees"},
                                      {"rotate-270", 3, "270 Degrees"}};
constexpr OptionChoice kFocusArea[] = {
    {"whole-page", 0, "Whole Page"}, {"right-part", 1, "Right Part"}, {"center", 2, "Centre"}};
constexpr OptionChoice kCompPrinting[] = {{"off", 0, "Off"}, {"on", 1, "On"}};
constexpr OptionChoice kLogoPosition[] = {{"none", 0, "No Logo"},
                                          {"before", 1, "Before the Page"},
                                          {"after", 2, "After the Page"},
                                          {"before-and-after", 3, "Before and After the Page"}};
constexpr OptionChoice kLogoJustification[] = {{"left", 0, "Left"}, {"center", 1, "Centre"}, {"right", 2, "Right"}};
constexpr OptionChoice kLogoImage[] = {{"logo-1", 0, "Logo 1"}, {"logo-2", 1, "Logo 2"}, {"logo-3", 2, "Logo 3"}};
constexpr OptionChoice kLogoWidth[] = {{"normal", 0, "Normal"},
                                       {"double-width", 1, "Double Width"},
                                       {"double-height", 2, "Double Height"},
                                       {"double-width-and-height", 3, "Double Width and Height"}};
constexpr OptionChoice kLineFeed[] = {{nullptr, 0, "None"},     {nullptr, 1, "1 Line"},   {nullptr, 2, "2 Lines"},
                                      {nullptr, 3, "3 Lines"},  {nullptr, 4, "4 Lines"},  {nullptr, 5, "5 Lines"},
                                      {nullptr, 6, "6 Lines"},  {nullptr, 7, "7 Lines"},  {nullptr, 8, "8 Lines"},
                                      {nullptr, 9, "9 Lines"},  {nullptr, 10, "10 Lines"}};
constexpr OptionChoice kPageCut[] = {{"feed", 0, "Feed, No Cut"}, {"no-feed", 1, "No Feed, No Cut"}, {"cut", 2, "Cut"}};
constexpr OptionChoice kCashDrawer[] = {{"none", 0, "None"},
                                        {"drawer-1", 1, "Drawer 1"},
                                        {"drawer-2", 2, "Drawer 2"},
                                        {"drawers-1-and-2", 3, "Drawers 1 and 2"}};
constexpr OptionChoice kCashDrawerOpen[] = {{"before-printing", 0, "Before Printing"},
                                            {"after-printing", 1, "After Printing"},
                                            {"before-and-after-printing", 2, "Before and After Printing"},
                                            {"never", 3, "Never"}};
constexpr OptionChoice kPulseWidth[] = {{nullptr, 50, "50 ms"},   {nullptr, 100, "100 ms"}, {nullptr, 150, "150 ms"},
                                        {nullptr, 200, "200 ms"}, {nullptr, 250, "250 ms"}, {nullptr, 300, "300 ms"},
                                        {nullptr, 350, "350 ms"}, {nullptr, 400, "400 ms"}, {nullptr, 450, "450 ms"},
                                        {nullptr, 500, "500 ms"}};

// Which models' PPDs have an option (the nesting of talvero.drv).
bool everyModel(const ModelRow&) { return true; }
bool notCompact(const ModelRow& model) { return !model.compact; }
bool compressedRaster(const ModelRow& model) { return model.rleRows != 0; }
bool fullProfile(const ModelRow& model) { return model.profile == Profile::Full; }
bool hasDrawer(const ModelRow& model) { return model.profile != Profile::Fixed; }

constexpr VendorOption kVendorOptions[] = {
    {"page-type", "PageType", "Blank Rows", kPageType, 0, everyModel},
    {"rotation", "Rotation", "Rotation", kRotation, 0, everyModel},
    {"focus-area", "FocusArea", "Part of a Half-Size Page", kFocusArea, 0, notCompact},
    {"comp-printing", "CompPrinting", "Compressed Printing", kCompPrinting, 1, compressedRaster},
    {"page-cut", "PageCut", "Paper Cut", kPageCut, 2, fullProfile},
    {"logo-position", "LogoPosition", "Logo", kLogoPosition, 0, everyModel},
    {"logo-justification", "LogoJustification", "Logo Alignment", kLogoJustification, 1, everyModel},
    {"logo-image", "LogoImage", "Logo Image", kLogoImage, 0, everyModel},
    {"logo-width", "LogoWidth", "Logo Size", kLogoWidth, 0, everyModel},
    {"line-feed", "LineFeed", "Line Feeds after the Logo", kLineFeed, 0, everyModel},
    {"cash-drawer", "CashDrawer", "Cash Drawer", kCashDrawer, 0, hasDrawer},
    {"cash-drawer-open", "CashDrawerOpen", "Open the Drawer", kCashDrawerOpen, 3, hasDrawer},
    {"cash-drawer-1-pulse-width", "CashDrawer1PulseWidth", "Drawer 1 Pulse Width", kPulseWidth, 100, hasDrawer},
    {"cash-drawer-2-pulse-width", "CashDrawer2PulseWidth", "Drawer 2 Pulse Width", kPulseWidth, 100, hasDrawer},
};

// Roll sizes print on the middle 72 mm of 80 mm paper and 48 mm of 58 mm.
constexpr int k80Margin = 397;
constexpr int k58Margin = 498;

constexpr MediaSize kMediaSizes[] = {
    {"om_80x297mm_80x297mm", 80, 8000, 29700, k80Margin, true},
    {"om_80x3276mm_80x3276mm", 80, 8000, 327600, k80Margin, true},
    {"om_58x297mm_58x297mm", 58, 5800, 29700, k58Margin, true},
    {"om_58x3276mm_58x3276mm", 58, 5800, 327600, k58Margin, true},
    {"om_a4-third_210x297mm", 95, 21000, 29700, 0, true},
    {"oe_letter-third_8.5x11in", 95, 21590, 27940, 0, true},
    {"om_a4-half_210x297mm", 100, 21000, 29700, 0, false},
    {"oe_letter-half_8.5x11in", 100, 21590, 27940, 0, false},
    {"om_ticket-40mm_58x40mm", 56, 5800, 4000, k58Margin, true},
    {"om_ticket-60mm_58x60mm", 75, 5800, 6000, k58Margin, true},
    {"om_ticket-100mm_58x100mm", 94, 5800, 10000, k58Margin, true},
    {"om_ticket-50mm_80x50mm", 110, 8000, 5000, k80Margin, true},
    {"om_ticket-80mm_80x80mm", 111, 8000, 8000, k80Margin, true},
    {"om_ticket-100mm_80x100mm", 112, 8000, 10000, k80Margin, true},
    {"om_ticket-150mm_80x150mm", 138, 8000, 15000, k80Margin, true},
    {"om_ticket-200mm_80x200mm", 139, 8000, 20000, k80Margin, true},
};

bool within1mm(int a, int b) { return std::abs(a - b) <= 100; }

// The ChoiceNumber the job gives a vendor option, as the marked PPD would.
int32_t vendorChoice(const VendorOption& option, const JobRequest& request) {
  const char* value = request.vendorValue(option.attribute, request.context);
  int32_t number = value != nullptr ? choiceNumberOf(option, value) : -1;
  return number >= 0 ? number : option.defaultNumber;
}

// The ColorModel choice: two-colour models offer black and red (0) and black
// (1), the other full-profile models black only; the rest have no such option.
int32_t colorModelChoice(const ModelRow& model, const JobRequest& request) {
  if (model.profile != Profile::Full) return -1;
  return model.twoColour && request.colour ? 0 : 1;
}

}  // namespace

std::span<const VendorOption> vendorOptions() { return kVendorOptions; }

const VendorOption* vendorOptionFor(const char* ppdKeyword) {
  for (const VendorOption& option : kVendorOptions) {
    if (std::strcmp(option.ppdKeyword, ppdKeyword) == 0) return &option;
  }
  return nullptr;
}

int32_t choiceNumberOf(const VendorOption& option, const char* value) {
  for (const OptionChoice& choice : option.choices) {
    if (choice.keyword != nullptr ? std::strcmp(choice.keyword, value) == 0
                                  : std::to_string(choice.number) == value) {
      return choice.number;
    }
  }
  return -1;
}

std::span<const MediaSize> mediaSizes() { return kMediaSizes; }

int32_t pageSizeFor(const char* name, int width, int length) {
  for (const MediaSize& size : kMediaSizes) {
    if (name != nullptr && std::strcmp(size.name, name) == 0) return size.pageSize;
  }
  for (const MediaSize& size : kMediaSizes) {
    if (within1mm(size.width, width) && within1mm(size.length, length)) return size.pageSize;
  }
  return kMediaSizes[0].pageSize;
}

JobSettings settingsForJob(const ModelRow& model, const JobRequest& request) {
  JobSettings settings{};
  fillJobSettings(model.model, [&](const char* keyword) -> int32_t {
    if (std::strcmp(keyword, "PageSize") == 0) {
      return pageSizeFor(request.media, request.mediaWidth, request.mediaLength);
    }
    if (std::strcmp(keyword, "ColorModel") == 0) return colorModelChoice(model, request);
    const VendorOption* option = vendorOptionFor(keyword);
    if (option == nullptr || !option->offered(model)) return -1;
    if (request.trim && std::strcmp(keyword, "PageCut") == 0) return 2;
    return vendorChoice(*option, request);
  }, settings);
  return settings;
}

bool colourPlanesFor(const ModelRow& model, const JobRequest& request) {
  return colorModelChoice(model, request) == 0;
}
