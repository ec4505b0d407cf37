// The owner's logo: read from an uploaded PNG or JPEG, reduced to fit the
// paper and the store command (never enlarged), and turned into the dots it
// will print, in black and red on models that store two-colour logos, in
// black on the others; kept in a file per printer and slot; drawn as a PNG
// for the web page; and turned into the bytes that store it in the printer
// (output/logo_store.h). Nothing here depends on PAPPL.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/model_table.h"
#include "output/logo_store.h"

constexpr int kLogoSlots = 3;  // LogoImage 0-2: logos 1 to 3

// Whether `model` stores logos by key code (GS ( L), not as FS q bit images.
bool storesByKeyCode(const ModelRow& model);

// Whether `model` stores and prints a logo's red: key-code graphics of a
// two-colour model.
bool storesRed(const ModelRow& model);

// Reads the PNG or JPEG at `path` into a logo at most `maxWidth` dots wide
// (and kMaxLogoRows high), with a red plane when `red`. False, with the
// reason in `why`, for a file that is neither, is damaged or too large.
bool readLogo(const std::string& path, uint32_t maxWidth, bool red, LogoBitmap& logo, std::string& why);

// The logo as a PNG: white paper, black and red dots, one pixel per dot.
std::vector<uint8_t> logoPng(const LogoBitmap& logo);

// The file in `spool` of printer `printerId`'s logo `slot` (1 to 3), or of
// the upload waiting to be stored (slot 0).
std::string logoFile(const std::string& spool, int printerId, int slot);

// A logo kept in a file. Loading fails (false) for a missing or damaged file.
bool saveLogo(const std::string& path, const LogoBitmap& logo);
bool loadLogo(const std::string& path, LogoBitmap& logo);

// The bytes that store logo `slot` (1 to 3) on `model`: the slot's graphic
// by its key code, or one FS q with every logo of `slots` (nullptr: none
// stored; a blank 8 x 8 image holds the place of a missing one below the
// last), since FS q erases the images stored before. Empty when the logo
// does not fit the command.
std::vector<uint8_t> storeLogoBytes(const ModelRow& model, int slot,
                                    const std::array<const LogoBitmap*, kLogoSlots>& slots);
