// The waits of a Printer Application job for its printer; see job_gate.h.
#include "app/job_gate.h"

#include <string>
#include <thread>

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kInterval{1000};  // a waiting job asks again this often
constexpr milliseconds kTick{100};       // and looks for cancellation this often

// The printer-state-reasons a job sets from the printer's answers.
constexpr pappl_preason_t kStatusReasons = PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_NEEDED |
                                           PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_OFFLINE |
                                           PAPPL_PREASON_OTHER | PAPPL_PREASON_MEDIA_LOW;

// The reasons for a printer's status.
pappl_preason_t reasonsOf(const PrinterStatus& status) {
  pappl_preason_t reasons = PAPPL_PREASON_NONE;
  if (status.paperOut) reasons |= PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_NEEDED;
  if (status.paperLow && !status.paperOut) reasons |= PAPPL_PREASON_MEDIA_LOW;
  if (status.coverOpen) reasons |= PAPPL_PREASON_COVER_OPEN;
  if (status.error) reasons |= PAPPL_PREASON_OTHER;
  if (status.offline && !status.paperOut && !status.coverOpen && !status.error) reasons |= PAPPL_PREASON_OFFLINE;
  return reasons;
}

// What the shop sees while a job waits: the printer's reasons, the job's
// message and a log line when the reason to wait changes.
class ShownState final : public WaitHooks {
 public:
  ShownState(PrinterLink& link, pappl_job_t* job) : link_(link), job_(job) {}

  void report(const PrinterStatus& status) override {
    showPrinterStatus(papplJobGetPrinter(job_), status, true);
    std::string message = waitMessage(status);
    if (message == message_) return;
    if (message.empty()) {
      papplJobSetMessage(job_, "Printing.");
      papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "The printer is ready; printing.");
    } else {
      papplJobSetMessage(job_, "%s", message.c_str());
      papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "%s.", message.c_str());
    }
    message_ = message;
  }

  bool pause(milliseconds time) override {
    for (milliseconds waited{0}; waited < time; waited += kTick) {
      if (link_.stopRequested()) return false;
      std::this_thread::sleep_for(kTick);
    }
    return !link_.stopRequested();
  }

 private:
  PrinterLink& link_;
  pappl_job_t* job_;
  std::string message_;
};

// The outcome of a wait that had to stop, or of a broken delivery.
GateOutcome outcomeOf(Delivery delivery, pappl_job_t* job) {
  if (delivery == Delivery::Broken) return GateOutcome::Broken;
  return papplJobIsCanceled(job) ? GateOutcome::Cancelled : GateOutcome::ShutDown;
}

}  // namespace

void showPrinterStatus(pappl_printer_t* printer, const PrinterStatus& status, bool jobWaits) {
  pappl_preason_t reasons = reasonsOf(status);
  if (!jobWaits) reasons &= ~PAPPL_PREASON_MEDIA_NEEDED;
  papplPrinterSetReasons(printer, reasons, kStatusReasons & ~reasons);
}

GateOutcome waitForPrinter(PrinterLink& link, pappl_job_t* job, bool& asking) {
  Delivery delivery = link.confirm();
  if (delivery != Delivery::Delivered) return outcomeOf(delivery, job);
  if (!asking) return GateOutcome::Go;
  ShownState shown(link, job);
  switch (waitUntilReady([&link] { return link.ask(); }, shown, kInterval)) {
    case Readiness::Ready:
      return GateOutcome::Go;
    case Readiness::NoAnswer:
      asking = false;
      papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The printer gives no status answer; printing without asking.");
      return GateOutcome::Go;
    case Readiness::Stopped:
      return outcomeOf(Delivery::Stopped, job);
    case Readiness::Gone:
      break;
  }
  return GateOutcome::Broken;
}

GateOutcome confirmJob(PrinterLink& link, pappl_job_t* job, bool asking) {
  Delivery delivery = link.confirm();
  if (delivery != Delivery::Delivered) return outcomeOf(delivery, job);
  if (!asking) return GateOutcome::Go;
  PrinterStatus status = link.ask();
  if (status.gone) return GateOutcome::Broken;
  if (status.answered) showPrinterStatus(papplJobGetPrinter(job), status, false);
  return GateOutcome::Go;
}
