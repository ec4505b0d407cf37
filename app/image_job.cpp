// PNG and JPEG jobs, read by the application's own bounded reader
// (image_reader.h) instead of PAPPL's image filter. A job reads its picture
// twice: first whole, to refuse a damaged or oversized file before the
// printer gets a byte and to find the columns its marks take; then row by
// row, each row scaled and placed on the head (image_fit.h) and handed, as
// an 8-bit sRGB row, to the same raster callbacks and job bridge as PWG
// raster, so the separation, the pipelines and the writers are the filter's.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/driver.h"
#include "app/image_fit.h"
#include "app/image_reader.h"
#include "app/page_width.h"

namespace {

constexpr ImageFormat kPng = ImageFormat::Png;
constexpr ImageFormat kJpeg = ImageFormat::Jpeg;

// The size of a picture and the columns of its marks (the first reading).
struct Survey {
  uint32_t width = 0, height = 0;
  uint32_t inkFirst = UINT32_MAX, inkEnd = 0;
};

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

struct OptionsDeleter {
  void operator()(pappl_pr_options_t* options) const { papplJobDeletePrintOptions(options); }
};

// Ends the job with `why`, in the log and the job's state message.
bool refuse(pappl_job_t* job, pappl_jreason_t reason, const std::string& why) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s.", why.c_str());
  papplJobSetMessage(job, "%s.", why.c_str());
  papplJobSetReasons(job, reason, PAPPL_JREASON_NONE);
  return false;
}

// The fit rule (image_fit.h) of a job's print-scaling.
ImageScaling scalingOf(pappl_scaling_t scaling) {
  if (scaling == PAPPL_SCALING_FIT || scaling == PAPPL_SCALING_FILL) return ImageScaling::Fit;
  return scaling == PAPPL_SCALING_NONE ? ImageScaling::None : ImageScaling::Auto;
}

// The page the picture is printed on: 8-bit sRGB, as a client's PWG raster.
cups_page_header2_t pageHeader(const cups_page_header2_t& media, const ImageFit& fit) {
  cups_page_header2_t page = media;
  page.cupsWidth = fit.pageWidth;
  page.cupsHeight = static_cast<unsigned>(fit.height);
  page.cupsBitsPerColor = 8;
  page.cupsBitsPerPixel = 24;
  page.cupsColorOrder = CUPS_ORDER_CHUNKED;
  page.cupsColorSpace = CUPS_CSPACE_SRGB;
  page.cupsNumColors = 3;
  page.cupsBytesPerLine = 3 * fit.pageWidth;
  return page;
}

// The first reading; false (the job refused) when the file is unreadable.
bool survey(pappl_job_t* job, ImageFormat format, FILE* file, Survey& found) {
  ImageSink sink{[&](uint32_t width, uint32_t height) {
                   found.width = width;
                   found.height = height;
                   return true;
                 },
                 [&](uint32_t, std::span<const Rgb> row) {
                   widenInk(row, found.inkFirst, found.inkEnd);
                   return !papplJobIsCanceled(job);
                 }};
  std::string why;
  if (readImage(format, file, sink, why) == ImageResult::Refused) {
    return refuse(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                  std::string(format == kPng ? "PNG" : "JPEG") + " document not printed: " + why);
  }
  return !papplJobIsCanceled(job);
}

// The second reading: each row scaled, placed on a white row of the page
// and handed to the raster callbacks. False when it stopped short.
bool printRows(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, ImageFormat format,
               FILE* file, const Survey& found, const ImageFit& fit) {
  RowScaler scaler(fit.sourceWidth, found.height, fit.width, fit.height);
  std::vector<uint8_t> line(3 * size_t{fit.pageWidth}, 0xFF);
  RowScaler::Output place = [&](uint32_t y, std::span<const Rgb> row) {
    std::memcpy(line.data() + 3 * size_t{fit.left}, row.data(), 3 * row.size());
    return talveroWriteLine(job, options, device, y, line.data()) && !papplJobIsCanceled(job);
  };
  ImageSink sink{[&](uint32_t width, uint32_t height) { return width == found.width && height == found.height; },
                 [&](uint32_t, std::span<const Rgb> row) {
                   return scaler.add(row.subspan(fit.first, fit.sourceWidth), place);
                 }};
  std::string why;
  return readImage(format, file, sink, why) == ImageResult::Done;
}

// Says what the fit did that the owner should know.
void reportFit(pappl_job_t* job, const Survey& found, const ImageFit& fit) {
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Picture %u x %u dots, printed %u x %llu dots%s.", found.width, found.height,
              fit.width, static_cast<unsigned long long>(fit.height), fit.reduced ? ", reduced to the head's width" : "");
  if (fit.lostLeft + fit.lostRight == 0) return;
  std::string notice = "marks " + std::to_string(found.inkEnd - found.inkFirst) + " dots wide do not fit the " +
                       std::to_string(fit.pageWidth) + "-dot print head (print-scaling none); " +
                       std::to_string(fit.lostLeft) + " dots at the left and " + std::to_string(fit.lostRight) +
                       " at the right are not printed";
  papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s.", notice.c_str());
  papplJobSetMessage(job, "%s.", notice.c_str());
}

// PAPPL's filter callback for a PNG or JPEG job (`data`: its ImageFormat).
bool printImage(pappl_job_t* job, pappl_device_t* device, void* data) {
  const ImageFormat format = *static_cast<const ImageFormat*>(data);
  std::unique_ptr<FILE, FileCloser> file(std::fopen(papplJobGetFilename(job), "rb"));
  if (file == nullptr) {
    return refuse(job, PAPPL_JREASON_ERRORS_DETECTED, std::string("Cannot open the document: ") + std::strerror(errno));
  }
  papplJobSetImpressions(job, 1);
  Survey found;
  if (!survey(job, format, file.get(), found)) return papplJobIsCanceled(job);
  std::unique_ptr<pappl_pr_options_t, OptionsDeleter> options(papplJobCreatePrintOptions(job, 1, true));
  const uint32_t head = printableWidth(options->header.cupsWidth, options->header.HWResolution[0]);
  ImageFit fit = fitImage(found.width, found.height, found.inkFirst, found.inkEnd, head,
                          scalingOf(options->print_scaling));
  if (fit.height > kMaxImageRows) {
    return refuse(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                  "Picture not printed: at the head's width it would be " + std::to_string(fit.height) +
                      " rows long; the printer takes at most " + std::to_string(kMaxImageRows));
  }
  reportFit(job, found, fit);
  options->header = pageHeader(options->header, fit);
  if (!talveroStartJob(job, options.get(), device)) return false;
  bool printed = talveroStartPage(job, options.get(), device, 1) &&
                 printRows(job, options.get(), device, format, file.get(), found, fit);
  printed = talveroEndPage(job, options.get(), device, 1) && printed;
  if (printed) papplJobSetImpressionsCompleted(job, 1);
  return talveroEndJob(job, options.get(), device) && (printed || papplJobIsCanceled(job));
}

}  // namespace

void addImageFilters(pappl_system_t* system) {
  papplSystemAddMIMEFilter(system, "image/png", kPrinterReadyFormat, printImage, const_cast<ImageFormat*>(&kPng));
  papplSystemAddMIMEFilter(system, "image/jpeg", kPrinterReadyFormat, printImage, const_cast<ImageFormat*>(&kJpeg));
}
