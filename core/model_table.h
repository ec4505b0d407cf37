// The printer model table: one constant row per supported model number, with
// every model-specific decision of the filter as a typed column. Nothing else
// in the filter tests model numbers directly.
#pragma once

#include <array>
#include <cstdint>
#include <span>

// Which of the six colour, cut and drawer options the settings reader reads.
enum class Profile : uint8_t {
  Full,    // ColorModel, PageCut and the four drawer options
  Drawer,  // the four drawer options only
  Fixed,   // none of them; ColorModel is 1
};

// Logo command: GS ( L function 69 (stored graphics by key code) or FS p.
enum class LogoCommand : uint8_t { Nv, Fsp };

// What follows each printed page.
enum class PageEnd : uint8_t {
  Short,  // two line feeds
  Long,   // four line feeds
  Cut,    // decided by PageCut: feed, feed and cut, or nothing
};

struct ModelRow {
  int32_t model;
  Profile profile;
  bool compact;          // no FocusArea, no mono focus window, no end-of-job feed
  uint16_t rleRows;      // band height of the compressed raster command; 0 = none
  bool gsv0;             // monochrome pages go out as GS v 0
  bool twoColour;        // ColorModel 0 takes the two-colour pipeline
  bool mono;             // pages not taking the two-colour pipeline go monochrome
  bool monoScale;        // the monochrome pipeline applies the PageSize reduction
  LogoCommand logoRaster;
  LogoCommand logoText;
  char logoKeyBase;      // key character of LogoImage 0 for Nv logos; 0 = none
  PageEnd pageEnd;
  uint8_t feedNoCut;     // LF after each page when PageCut is 0 (Cut models)
  uint8_t feedBeforeCut; // LF before the cut when PageCut is 2 (Cut models)
  char cutMode;          // GS V function byte: 'A' (41) or 'B' (42); 0 = none
  uint8_t jobEndFeed;    // LF at the end of a raster job when PageCut is 0
};

extern const std::array<ModelRow, 47> ModelTable;

// How the printers name themselves: the maker, and each model as "TLV-" and
// its number: the MFG and MDL of the IEEE 1284 device ID a USB printer
// reports ("MFG:Talvero;MDL:TLV-31;"), and the make and model the PPDs and
// the Printer Application show ("Talvero TLV-31").
constexpr char kMakerName[] = "Talvero";
constexpr char kModelNamePrefix[] = "TLV-";

// The row of a model number, or nullptr when the model is not supported.
const ModelRow* findModel(int32_t model);
