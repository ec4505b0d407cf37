// Builds and sends the logo block shared by raster pages and text jobs. Every
// one-byte parameter taken from a setting is the setting's low byte.
#include "output/logo.h"

#include <algorithm>

#include "core/commands.h"
#include "output/logo_store.h"

namespace {

// The scales function 69 knows. A LogoWidth outside them is clamped to the
// nearest end (and a LogoImage to the stored logos, see logoKeyCode): a
// scale byte other than 1 or 2 or a key code the printer does not hold would
// make it print nothing or reject the command, and the block must still
// print at the same place.
constexpr int32_t kLastLogoWidth = 3;

// The low eight bits of a setting, as one-byte parameters carry it.
inline uint8_t lowByte(int32_t value) {
  return static_cast<uint8_t>(static_cast<uint32_t>(value) & 0xFF);
}

}  // namespace

LogoPlacement logoPlacement(int32_t logoPosition) {
  if (logoPosition < 0 || logoPosition > 3) return {false, false, false};
  return {true, logoPosition == 1 || logoPosition == 3, logoPosition == 2 || logoPosition == 3};
}

LogoBlock makeLogoBlock(LogoCommand kind, char keyBase, const JobSettings& settings) {
  LogoBlock block{};
  block.justification = lowByte(settings.LogoJustification);
  block.lineFeeds = settings.LineFeed;
  if (kind == LogoCommand::Fsp) {
    // n counts the stored images from 1; m is the print mode (LogoWidth).
    std::copy(std::begin(command::kBitImageLogo), std::end(command::kBitImageLogo), block.command.begin());
    block.command[2] = static_cast<uint8_t>(static_cast<uint32_t>(settings.LogoImage) + 1);
    block.command[3] = lowByte(settings.LogoWidth);
    block.commandSize = 4;
    return block;
  }
  // Key code '0' k, k = the model's key base advanced by LogoImage. The mode
  // bits of LogoWidth (1 double width, 2 double height) become the
  // horizontal and vertical scales x and y.
  int32_t width = std::clamp(settings.LogoWidth, 0, kLastLogoWidth);
  std::copy(std::begin(command::kKeyCodeLogo), std::end(command::kKeyCodeLogo), block.command.begin());
  block.command[8] = logoKeyCode(keyBase, settings.LogoImage);
  block.command[9] = (width & 1) != 0 ? 2 : 1;
  block.command[10] = (width & 2) != 0 ? 2 : 1;
  block.commandSize = 11;
  return block;
}

void sendLogoBlock(OutputSink& out, const LogoBlock& block) {
  out.put(command::kJustify);
  out.put(block.justification);
  out.put(block.command.data(), block.commandSize);
  out.put(command::kReset);
  if (block.lineFeeds > 0) out.putRepeated(command::kLineFeed, static_cast<size_t>(block.lineFeeds));
}
