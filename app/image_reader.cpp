// PNG and JPEG documents read row by row with libpng and libjpeg; see
// image_reader.h. Both libraries report a fatal error by a long jump back
// into the function that set it up: each reading keeps its libraries' state
// and its buffers in an object of the caller's, and the function that sets
// the jump point holds nothing that would need destroying.
#include "app/image_reader.h"

#include <csetjmp>
#include <cstring>
#include <new>
#include <vector>

#include <jpeglib.h>  // before jerror.h, which needs its types
#include <jerror.h>
#include <png.h>

namespace {

// The largest ancillary PNG chunk (text, colour profile) decompressed, and
// how many such chunks are kept.
constexpr png_alloc_size_t kMaxPngChunk = 1 << 20;
constexpr png_uint_32 kMaxPngChunks = 64;

// Whether a picture of this size may be read; the reason in `message` if not.
bool sizeAllowed(uint64_t width, uint64_t height, char* message, size_t size) {
  if (width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageRows &&
      width * height <= kMaxImageDots) {
    return true;
  }
  std::snprintf(message, size,
                "the picture is %llu x %llu dots; this printer takes at most %u dots a row, %u rows and %llu "
                "dots in all",
                static_cast<unsigned long long>(width), static_cast<unsigned long long>(height), kMaxImageSide,
                kMaxImageRows, static_cast<unsigned long long>(kMaxImageDots));
  return false;
}

// Lays a row of 8-bit RGBA on white paper.
void onWhite(const uint8_t* rgba, std::vector<Rgb>& out) {
  for (Rgb& dot : out) {
    unsigned alpha = rgba[3];
    auto blend = [alpha](unsigned value) { return static_cast<uint8_t>((value * alpha + 255 * (255 - alpha) + 127) / 255); };
    dot = Rgb{blend(rgba[0]), blend(rgba[1]), blend(rgba[2])};
    rgba += 4;
  }
}

// The reason of a refusal: the reader's own, or a library's, which says
// what it found wrong with the data.
std::string refusal(const char* message, bool ours) {
  return ours ? message : std::string("the file is damaged or cut short (") + message + ")";
}

// ---- PNG

struct PngReading {
  png_structp png = nullptr;
  png_infop info = nullptr;
  jmp_buf jump;
  char message[200] = "";
  bool ours = false;  // the message is the reader's, not libpng's
  std::vector<uint8_t> rows;  // one RGBA row, or the whole picture when interlaced
  std::vector<Rgb> row;
  ~PngReading() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
};

void pngError(png_structp png, png_const_charp message) {
  auto* reading = static_cast<PngReading*>(png_get_error_ptr(png));
  std::snprintf(reading->message, sizeof reading->message, "%s", message);
  std::longjmp(reading->jump, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// Asks libpng for 8-bit RGBA rows whatever the file holds; returns the passes.
int pngToRgba(png_structp png) {
  png_set_expand(png);  // palette to RGB, grey below 8 bits to 8, transparency to alpha
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  return png_set_interlace_handling(png);
}

ImageResult pngRows(PngReading& r, FILE* file, const ImageSink& sink) {
  if (setjmp(r.jump) != 0) return ImageResult::Refused;
  png_init_io(r.png, file);
  png_set_user_limits(r.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);  // sizeAllowed says why
  png_set_chunk_malloc_max(r.png, kMaxPngChunk);
  png_set_chunk_cache_max(r.png, kMaxPngChunks);
  png_set_option(r.png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
  png_read_info(r.png, r.info);
  const png_uint_32 width = png_get_image_width(r.png, r.info), height = png_get_image_height(r.png, r.info);
  r.ours = true;
  if (!sizeAllowed(width, height, r.message, sizeof r.message)) return ImageResult::Refused;
  const bool whole = png_get_interlace_type(r.png, r.info) != PNG_INTERLACE_NONE;
  const uint64_t rowBytes = uint64_t{width} * 4;
  if (whole && rowBytes * height > kMaxHeldBytes) {
    std::snprintf(r.message, sizeof r.message, "an interlaced picture this large (%u x %u dots) is not taken; "
                  "save it without interlacing", width, height);
    return ImageResult::Refused;
  }
  const int passes = pngToRgba(r.png);
  png_read_update_info(r.png, r.info);
  if (png_get_rowbytes(r.png, r.info) != rowBytes) {
    std::snprintf(r.message, sizeof r.message, "unexpected row layout");
    return ImageResult::Refused;
  }
  r.ours = false;
  if (!sink.size(width, height)) return ImageResult::Stopped;
  r.rows.resize(whole ? rowBytes * height : rowBytes);
  r.row.resize(width);
  // An interlaced picture comes in passes over the whole picture, each
  // filling in more of its dots; it is handed on once the last is in.
  for (int pass = 0; whole && pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) png_read_row(r.png, r.rows.data() + y * rowBytes, nullptr);
  }
  for (png_uint_32 y = 0; y < height; ++y) {
    if (!whole) png_read_row(r.png, r.rows.data(), nullptr);
    onWhite(r.rows.data() + (whole ? y * rowBytes : 0), r.row);
    if (!sink.row(y, r.row)) return ImageResult::Stopped;
  }
  png_read_end(r.png, nullptr);
  return ImageResult::Done;
}

ImageResult readPng(FILE* file, const ImageSink& sink, std::string& why) {
  PngReading r;
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, pngError, pngWarning);
  r.info = r.png != nullptr ? png_create_info_struct(r.png) : nullptr;
  if (r.info == nullptr) {
    why = "out of memory";
    return ImageResult::Refused;
  }
  ImageResult result = pngRows(r, file, sink);
  if (result == ImageResult::Refused) why = refusal(r.message, r.ours);
  return result;
}

// ---- JPEG

struct JpegReading {
  jpeg_error_mgr errors{};
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX + 200] = "";
  bool ours = false;  // the message is the reader's, not libjpeg's
  jpeg_decompress_struct info{};
  jpeg_progress_mgr progress{};
  bool created = false;
  std::vector<uint8_t> rgb;
  std::vector<Rgb> row;
  ~JpegReading() {
    if (created) jpeg_destroy_decompress(&info);
  }
};

JpegReading& readingOf(j_common_ptr info) {
  return *static_cast<JpegReading*>(info->client_data);
}

[[noreturn]] void jpegFail(j_common_ptr info) {
  JpegReading& reading = readingOf(info);
  if (reading.message[0] == '\0') (*info->err->format_message)(info, reading.message);
  std::longjmp(reading.jump, 1);
}

// Warnings pass, but for data that ends early: libjpeg would fill the rest
// of the picture with grey.
void jpegMessage(j_common_ptr info, int level) {
  if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) jpegFail(info);
}

// Stops a progressive file of endless scans.
void jpegProgress(j_common_ptr info) {
  auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
  if (decompress->input_scan_number <= kMaxJpegScans) return;
  std::snprintf(readingOf(info).message, sizeof readingOf(info).message, "more than %d scans", kMaxJpegScans);
  readingOf(info).ours = true;
  jpegFail(info);
}

ImageResult jpegRows(JpegReading& r, FILE* file, const ImageSink& sink) {
  if (setjmp(r.jump) != 0) return ImageResult::Refused;
  jpeg_create_decompress(&r.info);
  r.created = true;
  // Past this, libjpeg would need a backing store it does not have, and fails.
  r.info.mem->max_memory_to_use = static_cast<long>(kMaxHeldBytes);
  r.progress.progress_monitor = jpegProgress;
  r.info.progress = &r.progress;
  jpeg_stdio_src(&r.info, file);
  jpeg_read_header(&r.info, TRUE);
  r.ours = true;
  if (!sizeAllowed(r.info.image_width, r.info.image_height, r.message, sizeof r.message)) {
    return ImageResult::Refused;
  }
  if (r.info.jpeg_color_space == JCS_CMYK || r.info.jpeg_color_space == JCS_YCCK) {
    std::snprintf(r.message, sizeof r.message, "CMYK pictures are not taken; save it in RGB");
    return ImageResult::Refused;
  }
  r.ours = false;
  r.info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&r.info);
  if (!sink.size(r.info.output_width, r.info.output_height)) return ImageResult::Stopped;
  r.rgb.resize(size_t{r.info.output_width} * 3);
  r.row.resize(r.info.output_width);
  while (r.info.output_scanline < r.info.output_height) {
    const uint32_t y = r.info.output_scanline;
    JSAMPROW line = r.rgb.data();
    if (jpeg_read_scanlines(&r.info, &line, 1) != 1) jpegFail(reinterpret_cast<j_common_ptr>(&r.info));
    std::memcpy(r.row.data(), r.rgb.data(), r.rgb.size());
    if (!sink.row(y, r.row)) return ImageResult::Stopped;
  }
  jpeg_finish_decompress(&r.info);
  return ImageResult::Done;
}

ImageResult readJpeg(FILE* file, const ImageSink& sink, std::string& why) {
  JpegReading r;
  r.info.client_data = &r;  // jpeg_create_decompress keeps it
  r.info.err = jpeg_std_error(&r.errors);
  r.errors.error_exit = jpegFail;
  r.errors.emit_message = jpegMessage;
  ImageResult result = jpegRows(r, file, sink);
  if (result == ImageResult::Refused) why = refusal(r.message, r.ours);
  return result;
}

}  // namespace

ImageResult readImage(ImageFormat format, FILE* file, const ImageSink& sink, std::string& why) {
  std::rewind(file);
  try {
    return format == ImageFormat::Png ? readPng(file, sink, why) : readJpeg(file, sink, why);
  } catch (const std::bad_alloc&) {
    why = "out of memory";
    return ImageResult::Refused;
  }
}
