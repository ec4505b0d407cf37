// Logos in files, as PNG and as store commands; see logo_image.h.
#include "app/logo_image.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>


namespace {

constexpr char kFileMagic[] = "TLVLOGO1";

// Writes or reads a plane's bytes; an empty plane (no red) takes none.
bool writePlane(FILE* file, const std::vector<uint8_t>& plane) {
  return plane.empty() || std::fwrite(plane.data(), 1, plane.size(), file) == plane.size();
}

bool readPlane(FILE* file, std::vector<uint8_t>& plane) {
  return plane.empty() || std::fread(plane.data(), 1, plane.size(), file) == plane.size();
}

const LogoBitmap& blankLogo() {
  static const LogoBitmap blank{8, 8, std::vector<uint8_t>(8, 0), {}};
  return blank;
}

}  // namespace

bool storesByKeyCode(const ModelRow& model) { return model.logoRaster == LogoCommand::Nv; }

bool storesRed(const ModelRow& model) { return model.twoColour && storesByKeyCode(model); }

std::vector<uint8_t> logoPng(const LogoBitmap& logo) {
  static const uint8_t kColours[] = {255, 255, 255, 0, 0, 0, 220, 0, 0};  // paper, black, red
  std::vector<uint8_t> pixels(size_t{logo.widthDots} * logo.rows, 0);
  for (uint32_t y = 0; y < logo.rows; ++y) {
    for (uint32_t x = 0; x < logo.widthDots; ++x) {
      size_t byte = size_t{y} * logo.bytesPerRow() + x / 8;
      uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
      uint8_t& pixel = pixels[size_t{y} * logo.widthDots + x];
      if (logo.black[byte] & bit) pixel = 1;
      else if (!logo.red.empty() && (logo.red[byte] & bit)) pixel = 2;
    }
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = logo.widthDots;
  image.height = logo.rows;
  image.format = PNG_FORMAT_RGB_COLORMAP;
  image.colormap_entries = 3;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, kColours);
  std::vector<uint8_t> png(size);
  if (size == 0 || !png_image_write_to_memory(&image, png.data(), &size, 0, pixels.data(), 0, kColours)) return {};
  png.resize(size);
  return png;
}

std::string logoFile(const std::string& spool, int printerId, int slot) {
  return spool + "/logo-" + std::to_string(printerId) + "-" + (slot > 0 ? std::to_string(slot) : "new") + ".tlvlogo";
}

bool saveLogo(const std::string& path, const LogoBitmap& logo) {
  std::string temporary = path + ".new";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fprintf(file, "%s %u %u %d\n", kFileMagic, logo.widthDots, logo.rows, logo.red.empty() ? 0 : 1) > 0 &&
            writePlane(file, logo.black) && writePlane(file, logo.red);
  ok = std::fclose(file) == 0 && ok;
  return ok && std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool loadLogo(const std::string& path, LogoBitmap& logo) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  char magic[16] = {};
  int red = 0;
  if (file == nullptr || std::fscanf(file.get(), "%15s %u %u %d", magic, &logo.widthDots, &logo.rows, &red) != 4 ||
      std::strcmp(magic, kFileMagic) != 0 || std::fgetc(file.get()) != '\n' || logo.widthDots == 0 ||
      logo.widthDots > kMaxLogoWidth || logo.rows == 0 || logo.rows > kMaxLogoRows) {
    return false;
  }
  size_t plane = size_t{logo.bytesPerRow()} * logo.rows;
  logo.black.resize(plane);
  logo.red.resize(red != 0 ? plane : 0);
  return readPlane(file.get(), logo.black) && readPlane(file.get(), logo.red);
}

std::vector<uint8_t> storeLogoBytes(const ModelRow& model, int slot,
                                    const std::array<const LogoBitmap*, kLogoSlots>& slots) {
  if (slot < 1 || slot > kLogoSlots || slots[slot - 1] == nullptr) return {};
  if (storesByKeyCode(model)) return keyedLogoCommand(logoKeyCode(model.logoKeyBase, slot - 1), *slots[slot - 1]);
  int last = kLogoSlots;
  while (slots[last - 1] == nullptr) --last;
  std::vector<const LogoBitmap*> images;
  for (int i = 0; i < last; ++i) images.push_back(slots[i] != nullptr ? slots[i] : &blankLogo());
  return bitImageLogosCommand(images);
}
