// PAPPL's raster callbacks for a Talvero printer: the job's IPP options are
// turned into the filter's JobSettings, and each page PAPPL rasterises (from
// PWG raster, PNG or JPEG) goes through the job bridge, whose printer bytes
// go to the job's device.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/driver.h"
#include "app/job_bridge.h"
#include "app/job_options.h"
#include "app/messages.h"
#include "core/model_table.h"

namespace {

// The state of one job, kept with the PAPPL job.
struct AppJob {
  BridgeJobPtr bridge;
};

// Output writer: the bytes go to the job's device.
ssize_t writeToDevice(void* context, const uint8_t* data, size_t length) {
  return papplDeviceWrite(static_cast<pappl_device_t*>(context), data, length);
}

// Diagnostics of the printing core: each line goes to the job's log, at
// debug level (the filter's lines for the spooler, kept for the developer).
void logToJob(void* context, const char* line) {
  size_t length = std::strlen(line);
  if (length > 0 && line[length - 1] == '\n') --length;
  papplLogJob(static_cast<pappl_job_t*>(context), PAPPL_LOGLEVEL_DEBUG, "%.*s", static_cast<int>(length), line);
}

// Where a job's vendor values come from: the job's own options, else the
// printer's current defaults (PAPPL hands the driver only the job's own).
struct VendorSource {
  const pappl_pr_options_t* options;
  ipp_t* defaults;       // a copy of the printer's driver attributes
  mutable char number[16];
};

// A vendor attribute's value for the job (keyword or decimal), or nullptr.
const char* vendorValue(const char* attribute, const void* context) {
  const auto* source = static_cast<const VendorSource*>(context);
  const char* value = cupsGetOption(attribute, source->options->num_vendor, source->options->vendor);
  if (value != nullptr) return value;
  std::string name = std::string(attribute) + "-default";
  ipp_attribute_t* byDefault = ippFindAttribute(source->defaults, name.c_str(), IPP_TAG_ZERO);
  if (byDefault == nullptr) return nullptr;
  if (ippGetValueTag(byDefault) == IPP_TAG_INTEGER) {
    std::snprintf(source->number, sizeof source->number, "%d", ippGetInteger(byDefault, 0));
    return source->number;
  }
  return ippGetString(byDefault, 0, nullptr);
}

const ModelRow& modelOfJob(pappl_job_t* job) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
  return *static_cast<const ModelRow*>(data.extension);
}

JobRequest requestOf(const pappl_pr_options_t& options, const VendorSource& source) {
  pappl_color_mode_t mode = options.print_color_mode;
  return JobRequest{
      mode != PAPPL_COLOR_MODE_MONOCHROME && mode != PAPPL_COLOR_MODE_BI_LEVEL &&
          mode != PAPPL_COLOR_MODE_AUTO_MONOCHROME && mode != PAPPL_COLOR_MODE_PROCESS_MONOCHROME,
      (options.finishings & PAPPL_FINISHINGS_TRIM) != 0,
      options.media.size_name,
      options.media.size_width,
      options.media.size_length,
      vendorValue,
      &source,
  };
}

AppJob* appJobOf(pappl_job_t* job) { return static_cast<AppJob*>(papplJobGetData(job)); }

// The words for a printer that stopped taking the job's bytes.
std::string printerStopped(int pages, int error) {
  return "not printed in full: the printer stopped taking data" +
         (pages > 0 ? " after " + std::to_string(pages) + " page" + (pages == 1 ? "" : "s") : std::string()) +
         " (" + std::strerror(error) + ")";
}

}  // namespace

bool talveroStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  const ModelRow& model = modelOfJob(job);
  VendorSource source{options, papplPrinterGetDriverAttributes(papplJobGetPrinter(job)), {}};
  JobRequest request = requestOf(*options, source);
  JobSettings settings = settingsForJob(model, request);
  bool colourPlanes = colourPlanesFor(model, request);
  ippDelete(source.defaults);
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Model %d, %s: %s.", settings.ModelNumber,
              colourPlanes ? "black and red" : "black", settingsText(settings).c_str());
  auto* appJob = new AppJob{bridgeStartJob(settings, colourPlanes, writeToDevice, device, Diagnostics(logToJob, job))};
  papplJobSetData(job, appJob);
  return true;
}

bool talveroStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page) {
  AppJob* appJob = appJobOf(job);
  std::string why;
  if (appJob == nullptr || !bridgeStartPage(*appJob->bridge, options->header, why)) {
    setJobProblem(job, "Page " + std::to_string(page) + " not printed: " + why);
    return false;
  }
  return true;
}

bool talveroWriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y,
                      const unsigned char* line) {
  AppJob* appJob = appJobOf(job);
  if (appJob != nullptr) bridgeWriteLine(*appJob->bridge, y, line);
  return appJob != nullptr;
}

bool talveroEndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device, unsigned page) {
  AppJob* appJob = appJobOf(job);
  if (appJob == nullptr) return false;
  if (papplJobIsCanceled(job)) return true;  // the end of the job sends the cancel sequence
  std::string why;
  bool printed = bridgeEndPage(*appJob->bridge, why);
  papplDeviceFlush(device);
  if (const std::string& notice = bridgeWidthNotice(*appJob->bridge); !notice.empty()) {
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Page %u: %s.", page, notice.c_str());
    papplJobSetMessage(job, "Page %u: %s.", page, notice.c_str());
  }
  if (!printed) setJobProblem(job, "Page " + std::to_string(page) + " not printed: " + why);
  return printed;
}

bool talveroEndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
  AppJob* appJob = appJobOf(job);
  if (appJob == nullptr) return false;
  if (papplJobIsCanceled(job)) {
    bridgeCancelJob(std::move(appJob->bridge));
    papplDeviceFlush(device);
    delete appJob;
    papplJobSetData(job, nullptr);
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Cancelled: the printer got 720 bytes 00 and ESC @.");
    return true;
  }
  BridgeResult result = bridgeEndJob(std::move(appJob->bridge));
  papplDeviceFlush(device);
  delete appJob;
  papplJobSetData(job, nullptr);
  papplLogJob(job, result.pages > 0 ? PAPPL_LOGLEVEL_INFO : PAPPL_LOGLEVEL_WARN, "%d page%s printed%s.",
              result.pages, result.pages == 1 ? "" : "s", result.failed ? ", then the job stopped" : "");
  if (result.writeError != 0) setJobProblem(job, printerStopped(result.pages, result.writeError));
  checkPaperAfterJob(papplJobGetPrinter(job));
  return !result.failed && result.writeError == 0;
}

bool talveroPrintRaw(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
  int fd = open(papplJobGetFilename(job), O_RDONLY);
  if (fd < 0) {
    setJobProblem(job, std::string("not printed: the job's file cannot be opened: ") + std::strerror(errno));
    return false;
  }
  uint8_t buffer[16384];
  ssize_t count;
  bool written = true;
  while (written && (count = read(fd, buffer, sizeof buffer)) > 0) {
    written = papplDeviceWrite(device, buffer, static_cast<size_t>(count)) == count;
  }
  int error = written ? 0 : errno;
  close(fd);
  papplDeviceFlush(device);
  if (!written) setJobProblem(job, printerStopped(0, error != 0 ? error : EIO));
  return written && count == 0;
}
