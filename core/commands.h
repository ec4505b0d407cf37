// The printer's commands, each named once: the fixed bytes that open a
// command, as the printer's manual writes them. The parameters that follow
// are written by the one writer that sends the command (named beside it).
// Two-byte numbers in commands go low byte first.
#pragma once

#include <cstdint>

namespace command {

// LF: print the line and feed one line (page ends, logo blocks).
inline constexpr uint8_t kLineFeed = 0x0A;
// ESC @: initialise the printer (job start, after each logo, end of a cancel).
inline constexpr uint8_t kReset[] = {0x1B, 0x40};
// ESC a n: justification n (logo block).
inline constexpr uint8_t kJustify[] = {0x1B, 0x61};
// ESC p m t1 t2: pulse drawer m for t1 x 2 ms, off for t2 x 2 ms (drawer kick).
inline constexpr uint8_t kDrawerKick[] = {0x1B, 0x70};

// FS p n m: print stored bit image n in mode m (logo block).
inline constexpr uint8_t kBitImageLogo[] = {0x1C, 0x70};
// GS ( L pL pH m fn ...: stored graphics. pL pH count the bytes after them.
inline constexpr uint8_t kGraphics[] = {0x1D, 0x28, 0x4C};
// Function 112 after GS ( L pL pH: m = 30, fn = 70 (store raster graphics),
// a = 30 (raster format), bx = by = 01 (no enlargement); c xL xH yL yH data follow.
inline constexpr uint8_t kStoreGraphics[] = {0x30, 0x70, 0x30, 0x01, 0x01};
// GS ( L function 50: print the graphics stored so far (pL pH = 02 00, m = 30, fn = 32).
inline constexpr uint8_t kPrintGraphics[] = {0x1D, 0x28, 0x4C, 0x02, 0x00, 0x30, 0x32};
// GS ( L function 69: print stored graphics by key code (pL pH = 06 00,
// m = 30, fn = 45, kc1 = '0'); kc2, x and y follow (logo block).
inline constexpr uint8_t kKeyCodeLogo[] = {0x1D, 0x28, 0x4C, 0x06, 0x00, 0x30, 0x45, 0x30};

// Function 67 after GS ( L pL pH: m = 30, fn = 43 (define graphics in the
// printer's non-volatile memory), a = 30 (raster format), kc1 = '0'; kc2, b
// (colours), xL xH yL yH and per colour c and its rows follow (logo store).
inline constexpr uint8_t kDefineKeyedGraphics[] = {0x30, 0x43, 0x30, 0x30};

// FS q n: define n bit images in non-volatile memory, erasing those stored
// before; per image xL xH yL yH and its columns follow (logo store).
inline constexpr uint8_t kDefineBitImages[] = {0x1C, 0x71};

// GS v 0 m: raster bit image, mode 0 (normal size); xL xH yL yH data follow.
inline constexpr uint8_t kRasterBitImage[] = {0x1D, 0x76, 0x30, 0x00};
// GS V m n: feed n and cut, m = 'A' (full) or 'B' (partial).
inline constexpr uint8_t kCut[] = {0x1D, 0x56};
// The compressed raster command: its header (wL wH yL yH and the run-length
// code follow) and its end marker.
inline constexpr uint8_t kCompressedRaster[] = {0x08, 0x43, 0x52, 0x00, 0x00, 0x00, 0x00, 0x00};
inline constexpr uint8_t kCompressedRasterEnd[] = {0x08, 0x43, 0x52, 0xFF, 0x00};

// DLE EOT 1: real-time printer status (online or not), answered at once with one byte.
inline constexpr uint8_t kPrinterStatusNow[] = {0x10, 0x04, 0x01};

// DLE EOT 2: real-time offline cause (cover, paper end, error), answered at once with one byte.
inline constexpr uint8_t kOfflineCauseNow[] = {0x10, 0x04, 0x02};

// DLE EOT 4: real-time roll paper sensor status, answered at once with one byte.
inline constexpr uint8_t kPaperSensorNow[] = {0x10, 0x04, 0x04};
// GS r 1: paper sensor status, answered with one byte.
inline constexpr uint8_t kPaperSensor[] = {0x1D, 0x72, 0x01};

}  // namespace command
