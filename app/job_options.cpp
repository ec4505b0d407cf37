// The vendor options and the media table of the Printer Application; see
// job_options.h. The media are the page sizes of ppd/talvero.drv.
#include "app/job_options.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Roll sizes print on the middle 72 mm of 80 mm paper and 48 mm of 58 mm.
constexpr int k80Margin = 397;
constexpr int k58Margin = 498;

constexpr MediaSize kMediaSizes[] = {
    {"om_80x297mm_80x297mm", 80, 8000, 29700, k80Margin, true, "80 x 297 mm Roll"},
    {"om_80x3276mm_80x3276mm", 80, 8000, 327600, k80Margin, true, "80 x 3276 mm Roll"},
    {"om_58x297mm_58x297mm", 58, 5800, 29700, k58Margin, true, "58 x 297 mm Roll"},
    {"om_58x3276mm_58x3276mm", 58, 5800, 327600, k58Margin, true, "58 x 3276 mm Roll"},
    {"om_a4-third_210x297mm", 95, 21000, 29700, 0, true, "A4 at One Third (80 mm Roll)"},
    {"oe_letter-third_8.5x11in", 95, 21590, 27940, 0, true, "Letter at One Third (80 mm Roll)"},
    {"om_a4-half_210x297mm", 100, 21000, 29700, 0, false, "A4 at One Half (Part, 80 mm Roll)"},
    {"oe_letter-half_8.5x11in", 100, 21590, 27940, 0, false, "Letter at One Half (Part, 80 mm Roll)"},
    {"om_ticket-40mm_58x40mm", 56, 5800, 4000, k58Margin, true, "Ticket 58 x 40 mm"},
    {"om_ticket-60mm_58x60mm", 75, 5800, 6000, k58Margin, true, "Ticket 58 x 60 mm"},
    {"om_ticket-100mm_58x100mm", 94, 5800, 10000, k58Margin, true, "Ticket 58 x 100 mm"},
    {"om_ticket-50mm_80x50mm", 110, 8000, 5000, k80Margin, true, "Ticket 80 x 50 mm"},
    {"om_ticket-80mm_80x80mm", 111, 8000, 8000, k80Margin, true, "Ticket 80 x 80 mm"},
    {"om_ticket-100mm_80x100mm", 112, 8000, 10000, k80Margin, true, "Ticket 80 x 100 mm"},
    {"om_ticket-150mm_80x150mm", 138, 8000, 15000, k80Margin, true, "Ticket 80 x 150 mm"},
    {"om_ticket-200mm_80x200mm", 139, 8000, 20000, k80Margin, true, "Ticket 80 x 200 mm"},
};

bool within1mm(int a, int b) { return std::abs(a - b) <= 100; }

// The ChoiceNumber the job gives a vendor option, as the marked PPD would.
int32_t vendorChoice(const JobOption& option, const JobRequest& request) {
  const char* value = request.vendorValue(option.ipp, request.context);
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

std::vector<const JobOption*> vendorOptions() {
  std::vector<const JobOption*> options;
  for (const JobOption& option : jobOptions()) {
    if (option.ipp != nullptr) options.push_back(&option);
  }
  return options;
}

std::string ippValueOf(const OptionChoice& choice) {
  return choice.ipp != nullptr ? choice.ipp : std::to_string(choice.number);
}

int32_t choiceNumberOf(const JobOption& option, const char* value) {
  for (const OptionChoice& choice : option.choices) {
    if (ippValueOf(choice) == value) return choice.number;
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
    const JobOption* option = findJobOption(keyword);
    if (option == nullptr || option->ipp == nullptr || !readsOption(&model, *option)) return -1;
    if (request.trim && std::strcmp(keyword, "PageCut") == 0) return 2;
    return vendorChoice(*option, request);
  }, settings);
  return settings;
}

bool colourPlanesFor(const ModelRow& model, const JobRequest& request) {
  return colorModelChoice(model, request) == 0;
}
