// PAPPL's raster callbacks for a Talvero printer: the job's IPP options are
// turned into the filter's JobSettings, and each page PAPPL rasterises (from
// PWG raster, PNG or JPEG) goes through the job bridge, whose printer bytes
// go to the job's device through its printer link. Before each page the job
// waits until the printer can print it (job_gate.h); a job whose bytes did
// not all reach the printer ends aborted with the cause as its message.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/driver.h"
#include "app/job_bridge.h"
#include "app/job_gate.h"
#include "app/job_options.h"
#include "app/messages.h"
#include "app/vendor_defaults.h"
#include "core/model_table.h"

namespace {

using std::chrono::milliseconds;

// How long the cancel sequence of a cancelled job may take to reach the printer.
constexpr milliseconds kCancelWait{2000};

// The state of one job, kept with the PAPPL job.
struct AppJob {
  AppJob(pappl_job_t* job, pappl_device_t* device) : link(job, device) {}
  PrinterLink link;
  BridgeJobPtr bridge;
  bool asking = true;    // the printer answers status queries
  bool stopped = false;  // the job ended unprinted: nothing more is sent
};

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
  VendorDefaults defaults;  // a copy of the printer's driver attributes
};

// A vendor attribute's value for the job (keyword or decimal), or nullptr.
const char* vendorValue(const char* attribute, const void* context) {
  const auto* source = static_cast<const VendorSource*>(context);
  const char* value = cupsGetOption(attribute, source->options->num_vendor, source->options->vendor);
  return value != nullptr ? value : vendorDefault(attribute, &source->defaults);
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

// Why a write of the job failed: the job was cancelled, the server is
// stopping, or the connection broke.
GateOutcome outcomeAfterWrite(pappl_job_t* job) {
  if (papplJobIsCanceled(job)) return GateOutcome::Cancelled;
  return serverStopping(papplPrinterGetSystem(papplJobGetPrinter(job))) ? GateOutcome::ShutDown
                                                                          : GateOutcome::Broken;
}

// Ends the job's printing for `outcome` with its cause shown; returns what
// the PAPPL callback returns (true only for a cancelled job, which PAPPL
// ends with the cancel sequence).
bool stopJob(AppJob& appJob, pappl_job_t* job, GateOutcome outcome) {
  if (outcome == GateOutcome::Cancelled) return true;
  appJob.stopped = true;
  if (outcome == GateOutcome::ShutDown) {
    papplJobSetMessage(job, "Not printed: the server shut down while the job waited for the printer.");
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "The server is shutting down; the job ends unprinted.");
  } else {
    setJobProblem(job, appJob.link.failure() + ".");
  }
  return false;
}

// Ends a cancelled job on the printer: the cancel sequence when the printer
// takes it within kCancelWait, else the connection is reset; the log says
// which.
void cancelOnPrinter(AppJob& appJob, pappl_job_t* job) {
  appJob.link.finalWrites(kCancelWait);
  bool sent = bridgeCancelJob(std::move(appJob.bridge)) && appJob.link.confirm() == Delivery::Delivered;
  if (sent) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Cancelled: the printer got 720 bytes 00 and ESC @.");
    return;
  }
  appJob.link.abandon();
  papplLogJob(job, PAPPL_LOGLEVEL_WARN,
              "Cancelled: the printer took no more data, so the connection was closed without the cancel "
              "sequence (720 bytes 00 and ESC @).");
}

}  // namespace

bool talveroStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  const ModelRow& model = modelOfJob(job);
  VendorSource source{options, {papplPrinterGetDriverAttributes(papplJobGetPrinter(job)), {}}};
  JobRequest request = requestOf(*options, source);
  JobSettings settings = settingsForJob(model, request);
  bool colourPlanes = colourPlanesFor(model, request);
  ippDelete(source.defaults.attributes);
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Model %d, %s: %s.", settings.ModelNumber,
              colourPlanes ? "black and red" : "black", settingsText(settings).c_str());
  auto* appJob = new AppJob(job, device);
  appJob->link.prepare();
  appJob->bridge =
      bridgeStartJob(settings, colourPlanes, PrinterLink::writeOut, &appJob->link, Diagnostics(logToJob, job));
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

bool talveroEndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned page) {
  AppJob* appJob = appJobOf(job);
  if (appJob == nullptr || appJob->stopped) return false;
  if (papplJobIsCanceled(job)) return true;  // the end of the job sends the cancel sequence
  GateOutcome outcome = waitForPrinter(appJob->link, job, appJob->asking);
  if (outcome != GateOutcome::Go) return stopJob(*appJob, job, outcome);
  std::string why;
  bool printed = bridgeEndPage(*appJob->bridge, why);
  if (const std::string& notice = bridgeWidthNotice(*appJob->bridge); !notice.empty()) {
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Page %u: %s.", page, notice.c_str());
    papplJobSetMessage(job, "Page %u: %s.", page, notice.c_str());
  }
  if (!printed) {
    setJobProblem(job, "Page " + std::to_string(page) + " not printed: " + why);
    return false;
  }
  if (bridgeWriteError(*appJob->bridge) != 0) return stopJob(*appJob, job, outcomeAfterWrite(job));
  return true;
}

bool talveroEndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  AppJob* appJob = appJobOf(job);
  if (appJob == nullptr) return false;
  std::unique_ptr<AppJob> owned(appJob);
  papplJobSetData(job, nullptr);
  checkPaperAfterJob(papplJobGetPrinter(job));  // the printer's state, once the job has let go of it
  if (papplJobIsCanceled(job)) {
    cancelOnPrinter(*owned, job);
    return true;
  }
  if (owned->stopped) {
    owned->link.abandon();  // nothing more reaches the printer
    return false;
  }
  BridgeResult result = bridgeEndJob(std::move(owned->bridge));
  GateOutcome outcome = result.writeError != 0 ? outcomeAfterWrite(job) : confirmJob(owned->link, job, owned->asking);
  if (outcome != GateOutcome::Go) {
    stopJob(*owned, job, outcome);
    owned->link.abandon();
    return false;
  }
  papplLogJob(job, result.pages > 0 ? PAPPL_LOGLEVEL_INFO : PAPPL_LOGLEVEL_WARN, "%d page%s printed%s.",
              result.pages, result.pages == 1 ? "" : "s", result.failed ? ", then the job stopped" : "");
  return !result.failed;
}

bool talveroPrintRaw(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
  int fd = open(papplJobGetFilename(job), O_RDONLY);
  if (fd < 0) {
    setJobProblem(job, std::string("not printed: the job's file cannot be opened: ") + std::strerror(errno));
    return false;
  }
  AppJob appJob(job, device);
  appJob.link.prepare();
  GateOutcome outcome = waitForPrinter(appJob.link, job, appJob.asking);
  uint8_t buffer[16384];
  ssize_t count = 0;
  while (outcome == GateOutcome::Go && (count = read(fd, buffer, sizeof buffer)) > 0) {
    if (PrinterLink::writeOut(&appJob.link, buffer, static_cast<size_t>(count)) != count) {
      outcome = outcomeAfterWrite(job);
    }
  }
  close(fd);
  if (outcome == GateOutcome::Go) outcome = confirmJob(appJob.link, job, appJob.asking);
  if (outcome == GateOutcome::Go) return count == 0;
  if (outcome != GateOutcome::Cancelled) stopJob(appJob, job, outcome);
  appJob.link.abandon();
  return outcome == GateOutcome::Cancelled;
}
