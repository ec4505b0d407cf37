// Writes the jobs of the output-equality check: a few hundred small raster
// jobs over every model's shipped PPD, with option choices drawn from that
// PPD (page type, turns, reductions, focus, colour model, compression,
// logos, cut, drawer) and pages of text-like rows, solid bars, noise and
// blank margins. The pages have the layouts the filter prints: one bit per
// dot, (width + 7) / 8 bytes per row for a monochrome page and four times
// that for a two-colour one, chosen by the pipeline the job's settings take.
//
//   golden_jobs <ppd-dir> <out-dir>
//
// writes <out-dir>/jobNNN.ras and prints one line per job on standard output:
//   jobNNN <TAB> tlvMMM.ppd <TAB> options
// The draw is seeded, so every run writes the same jobs.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <cups/ppd.h>

#include "core/model_table.h"
#include "core/settings.h"
#include "support.h"

using namespace talvero_test;

namespace {

// xorshift64*: the same numbers on every platform and library.
struct Draw {
  uint64_t state;
  uint64_t next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1DULL;
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>((next() >> 32) % n); }
  uint32_t range(uint32_t lo, uint32_t hi) { return lo + below(hi - lo + 1); }
  bool chance(uint32_t percent) { return below(100) < percent; }
};

constexpr const char* kOptions[] = {
    "PageSize",     "PageType",  "Rotation",       "FocusArea",          "ColorModel",
    "CompPrinting", "LogoPosition", "LogoJustification", "LogoImage", "LogoWidth",
    "LineFeed",     "PageCut",   "CashDrawer",     "CashDrawerOpen",     "CashDrawer1PulseWidth",
    "CashDrawer2PulseWidth"};

// A random choice keyword of every option the PPD offers, as an option string.
std::string drawOptions(ppd_file_t* ppd, Draw& draw) {
  std::string options;
  for (const char* keyword : kOptions) {
    ppd_option_t* option = ppdFindOption(ppd, keyword);
    if (option == nullptr || option->num_choices == 0) continue;
    // PageSize leans towards the two reductions, which have the most paths.
    int pick = static_cast<int>(draw.below(static_cast<uint32_t>(option->num_choices)));
    if (std::string(keyword) == "PageSize" && draw.chance(40)) {
      const char* reduction = draw.chance(50) ? "100" : "95";
      for (int i = 0; i < option->num_choices; ++i) {
        if (std::string(option->choices[i].choice).rfind(reduction, 0) == 0) pick = i;
      }
    }
    if (!options.empty()) options += ' ';
    options += std::string(keyword) + "=" + option->choices[pick].choice;
  }
  return options;
}

// One row of `bytes` bytes: blank, text-like (sparse glyph bytes), a solid
// bar, or noise.
void fillRow(uint8_t* row, uint32_t bytes, uint32_t kind, Draw& draw) {
  for (uint32_t i = 0; i < bytes; ++i) {
    switch (kind) {
      case 0: row[i] = 0; break;
      case 1: row[i] = draw.chance(30) ? static_cast<uint8_t>(draw.next() >> 56) : 0; break;
      case 2: row[i] = draw.chance(90) ? 0xFF : static_cast<uint8_t>(draw.next() >> 56); break;
      default: row[i] = static_cast<uint8_t>(draw.next() >> 56); break;
    }
  }
}

// Rows of one colour band: blank margins at top and bottom, then runs of
// rows of one kind.
void fillBand(Bytes& pixels, uint32_t height, uint32_t rowBytes, uint32_t offset, uint32_t bandBytes,
              Draw& draw) {
  uint32_t top = draw.chance(60) ? draw.below(height / 3 + 1) : 0;
  uint32_t bottom = draw.chance(60) ? draw.below(height / 3 + 1) : 0;
  uint32_t kind = 1;
  for (uint32_t y = 0; y < height; ++y) {
    if (draw.chance(15)) kind = draw.below(4);
    bool margin = y < top || y + bottom >= height;
    fillRow(&pixels[size_t{y} * rowBytes + offset], bandBytes, margin ? 0 : kind, draw);
  }
}

// A page for a pipeline: two-colour pages get four bands, the black one
// last, and a second colour in one or more of the first three.
RasterPage drawPage(bool twoColour, bool wide, Draw& draw) {
  uint32_t width;
  if (wide) width = draw.range(1040, 1800);
  else if (draw.chance(15)) width = draw.range(1, 24);
  else if (draw.chance(50)) width = draw.chance(50) ? 576 : 384;
  else width = draw.range(25, 640);
  uint32_t height = draw.chance(15) ? draw.range(250, 720) : draw.range(1, 160);
  if (wide) height = draw.range(100, 400);
  RasterPage page = blankPage(width, height, twoColour);
  page.header.NumCopies = draw.range(1, 3);
  uint32_t rowBytes = page.header.cupsBytesPerLine;
  if (draw.chance(8)) return page;  // a blank page
  if (!twoColour) {
    fillBand(page.pixels, height, rowBytes, 0, rowBytes, draw);
    return page;
  }
  uint32_t band = rowBytes / 4;
  fillBand(page.pixels, height, rowBytes, 3 * band, band, draw);
  for (uint32_t c = 0; c < 3; ++c) {
    if (draw.chance(50)) fillBand(page.pixels, height, rowBytes, c * band, band, draw);
  }
  return page;
}

// The settings the filter will read for `options`, and so the pipeline.
bool takesTwoColour(const std::string& ppdPath, const std::string& options, const ModelRow& model) {
  setenv("PPD", ppdPath.c_str(), 1);
  JobSettings settings{};
  // The settings reader's model line is not part of the manifest.
  initializeSettings(options.c_str(), settings, Diagnostics([](void*, const char*) {}, nullptr));
  return settings.ColorModel == 0 && model.twoColour;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: golden_jobs <ppd-dir> <out-dir>\n", stderr);
    return 2;
  }
  const std::string ppdDir = argv[1];
  const std::string outDir = argv[2];
  constexpr int kJobsPerModel = 8;
  Draw draw{0x9E3779B97F4A7C15ULL};
  int job = 0;
  for (const ModelRow& model : ModelTable) {
    char name[32];
    std::snprintf(name, sizeof name, "tlv%03d.ppd", model.model);
    std::string ppdPath = ppdDir + "/" + name;
    ppd_file_t* ppd = ppdOpenFile(ppdPath.c_str());
    if (ppd == nullptr) {
      std::fprintf(stderr, "cannot read %s\n", ppdPath.c_str());
      return 1;
    }
    for (int i = 0; i < kJobsPerModel; ++i, ++job) {
      std::string options = drawOptions(ppd, draw);
      bool twoColour = takesTwoColour(ppdPath, options, model);
      bool wide = options.find("PageSize=100") != std::string::npos && draw.chance(50);
      std::vector<RasterPage> pages;
      uint32_t count = draw.chance(70) ? 1 : draw.range(2, 3);
      for (uint32_t p = 0; p < count; ++p) pages.push_back(drawPage(twoColour, wide, draw));
      char jobName[16];
      std::snprintf(jobName, sizeof jobName, "job%03d", job);
      writeRaster(outDir + "/" + jobName + ".ras", pages);
      std::printf("%s\t%s\t%s\n", jobName, name, options.c_str());
    }
    ppdClose(ppd);
  }
  return 0;
}
