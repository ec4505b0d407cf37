// The test receipt: one page made for the printer it checks, printed as an
// ordinary job (the same pipelines and writers as every page). Top to
// bottom: the title and the model's name, a ruler across the printable
// width (a tick each millimetre, numbers each centimetre, a bar at each
// edge, so a cut-off edge shows), a black and, where the model prints red, a
// red sample, the current settings (colours, cut, logo, drawer) and the
// printer's URIs. The page is drawn in 8-bit RGB, one pixel per dot at
// 203 dpi as wide as the print head, and written as a PNG, which the
// printer's job prints dot for dot as it prints a client's picture.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/job_options.h"
#include "core/model_table.h"

// What the test receipt shows.
struct TestPage {
  std::string model;                                         // "Talvero TLV-31"
  bool twoColour = false;                                    // draw the red sample
  uint32_t widthDots = 576;                                  // the printable width
  std::vector<std::pair<std::string, std::string>> settings; // label, value
  std::string printerUri;                                    // ipp://host:port/ipp/print/name
  std::string deviceUri;                                     // socket://..., usb://...
};

// The printable width, in dots at 203 dpi, of paper `width` hundredths of a
// millimetre wide with `margin` unprinted on each side.
uint32_t printableDots(int width, int margin);

// The lines of the settings a receipt depends on (colours, cut, logo, drawer)
// for `model`: each option's label and the label of its value, which
// `valueOf` gives as the attribute's keyword or number (nullptr: the
// default). `colour` is the printer's colour mode (black and red or not).
std::vector<std::pair<std::string, std::string>> testPageSettings(
    const ModelRow& model, bool colour, const char* (*valueOf)(const char* attribute, const void* context),
    const void* context);

// An 8-bit RGB picture, rows top to bottom.
struct RgbPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;  // width x height x 3
};

// Draws the test receipt.
RgbPicture drawTestPage(const TestPage& page);

// Writes `picture` as an 8-bit RGB PNG to `path`. False, with the reason in
// `why`, when it cannot.
bool writeTestPagePng(const RgbPicture& picture, const std::string& path, std::string& why);
