// Keeping a printer's state in its printer-state-reasons when no job runs:
// when a client asks an idle printer for its state (PAPPL's status callback)
// and a second after each job, a socket:// printer is asked on a short
// connection of its own (paper_status.h); a usb:// printer gives its port
// status. The answer sets the same reasons a job shows (job_gate.h; paper
// out, near its end, cover open, offline, an error). A printer that does not
// answer leaves the reasons as they were.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "app/driver.h"
#include "app/job_gate.h"
#include "app/paper_status.h"
#include "app/printer_link.h"

namespace {

constexpr std::chrono::milliseconds kAnswerWait{500};
constexpr int kAppSocketPort = 9100;

// The state of a socket:// printer.
PrinterStatus askSocketDevice(const char* uri) {
  char scheme[32], user[256], host[256], resource[256];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host, sizeof host,
                      &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    return PrinterStatus{};
  }
  return askSocketStatus(host, port > 0 ? port : kAppSocketPort, kAnswerWait);
}

// The state a usb:// printer's port status gives.
PrinterStatus askUsbDevice(pappl_printer_t* printer) {
  pappl_device_t* device = papplPrinterOpenDevice(printer);
  if (device == nullptr) return PrinterStatus{};  // busy with a job
  PrinterStatus status = usbPortStatus(device);
  papplPrinterCloseDevice(printer);
  return status;
}

void updatePaperState(pappl_printer_t* printer) {
  const char* uri = papplPrinterGetDeviceURI(printer);
  if (uri == nullptr) return;
  PrinterStatus status;
  if (std::strncmp(uri, "socket://", 9) == 0) {
    status = askSocketDevice(uri);
  } else if (std::strncmp(uri, "usb://", 6) == 0) {
    status = askUsbDevice(printer);
  }
  if (status.answered) showPrinterStatus(printer, status, false);
}

// The paper checks a second after each job, on a thread of their own: PAPPL
// runs its timer callbacks holding the system's lock, and a check takes the
// printer's lock and waits for the printer's answer. The thread holds no
// PAPPL lock between checks; it lives as long as the process.
class AfterJobChecks {
 public:
  // Queues a check of printer `id` a second from now (once per printer).
  void add(pappl_system_t* system, int id) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!started_) std::thread([this] { run(); }).detach();
    started_ = true;
    system_ = system;
    if (std::find_if(due_.begin(), due_.end(), [id](const Due& d) { return d.id == id; }) != due_.end()) return;
    due_.push_back({id, std::chrono::steady_clock::now() + std::chrono::seconds(1)});
    wake_.notify_one();
  }

 private:
  struct Due {
    int id;
    std::chrono::steady_clock::time_point at;
  };

  // Runs each check when it is due, one at a time, for ever.
  [[noreturn]] void run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      wake_.wait(hold, [this] { return !due_.empty(); });
      Due next = due_.front();
      if (wake_.wait_until(hold, next.at) != std::cv_status::timeout) continue;
      due_.pop_front();
      pappl_system_t* system = system_;
      hold.unlock();
      check(system, next.id);
      hold.lock();
    }
  }

  static void check(pappl_system_t* system, int id) {
    if (!papplSystemIsRunning(system)) return;
    pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, id, nullptr);
    if (printer != nullptr && papplPrinterGetState(printer) != IPP_PSTATE_PROCESSING) updatePaperState(printer);
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<Due> due_;
  pappl_system_t* system_ = nullptr;
  bool started_ = false;
};

}  // namespace

bool talveroStatusCallback(pappl_printer_t* printer) {
  updatePaperState(printer);
  return true;
}

void checkPaperAfterJob(pappl_printer_t* printer) {
  static auto* checks = new AfterJobChecks;  // never destroyed: its thread runs until the process ends
  checks->add(papplPrinterGetSystem(printer), papplPrinterGetID(printer));
}
