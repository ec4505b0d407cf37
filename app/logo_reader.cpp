// Reads an uploaded picture into a logo (see logo_image.h): the app's image
// reader hands its rows one at a time, its row scaler reduces them, and the
// prefilter's dither turns them into dots, as it does a printed picture's.
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/image_fit.h"
#include "app/image_reader.h"
#include "app/logo_image.h"
#include "image/separate.h"

namespace {

// The format of the file's first bytes, false when neither PNG nor JPEG.
bool formatOf(FILE* file, ImageFormat& format) {
  uint8_t head[4] = {};
  bool read = std::fread(head, 1, sizeof head, file) == sizeof head;
  if (read && std::memcmp(head, "\x89PNG", 4) == 0) format = ImageFormat::Png;
  else if (read && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) format = ImageFormat::Jpeg;
  else return false;
  return true;
}

// Collects the scaled rows of a picture as the logo's dots.
struct LogoRows {
  LogoBitmap& logo;
  bool red;
  std::unique_ptr<RowScaler> scaler;

  bool size(uint32_t width, uint32_t height, uint32_t maxWidth) {
    double scale = std::min({1.0, double(maxWidth) / width, double(kMaxLogoRows) / height});
    logo.widthDots = std::max<uint32_t>(1, static_cast<uint32_t>(width * scale));
    logo.rows = std::max<uint32_t>(1, static_cast<uint32_t>(height * scale));
    size_t plane = size_t{logo.bytesPerRow()} * logo.rows;
    logo.black.assign(plane, 0);
    logo.red.assign(red ? plane : 0, 0);
    scaler = std::make_unique<RowScaler>(width, height, logo.widthDots, logo.rows);
    return true;
  }

  bool row(std::span<const Rgb> source) {
    return scaler->add(source, [this](uint32_t y, std::span<const Rgb> dots) {
      size_t at = size_t{y} * logo.bytesPerRow();
      std::span<uint8_t> black(logo.black.data() + at, logo.bytesPerRow());
      if (red) separateRow(dots, y, black, std::span<uint8_t>(logo.red.data() + at, logo.bytesPerRow()));
      else blackRow(dots, y, black);
      return true;
    });
  }
};

}  // namespace

bool readLogo(const std::string& path, uint32_t maxWidth, bool red, LogoBitmap& logo, std::string& why) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  ImageFormat format;
  if (file == nullptr || !formatOf(file.get(), format)) {
    why = "The file is not a PNG or JPEG picture.";
    return false;
  }
  LogoRows rows{logo, red, nullptr};
  ImageSink sink{[&](uint32_t width, uint32_t height) { return rows.size(width, height, maxWidth); },
                 [&](uint32_t, std::span<const Rgb> row) { return rows.row(row); }};
  return readImage(format, file.get(), sink, why) == ImageResult::Done;
}

