// Keeping a printer's paper state in its printer-state-reasons: when a
// client asks an idle printer for its state (PAPPL's status callback) and a
// second after each job, a socket:// printer is asked on a short connection
// of its own (paper_status.h); a usb:// printer reports paper out through
// the port status PAPPL reads. A printer that does not answer leaves the
// reasons as they were.
#include <cstring>
#include <ctime>

#include "app/driver.h"
#include "app/paper_status.h"

namespace {

constexpr std::chrono::milliseconds kAnswerWait{500};
constexpr int kAppSocketPort = 9100;

// The paper state of a socket:// printer.
PaperState askSocketDevice(const char* uri) {
  char scheme[32], user[256], host[256], resource[256];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host, sizeof host,
                      &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    return PaperState::Unknown;
  }
  return askSocketPrinter(host, port > 0 ? port : kAppSocketPort, kAnswerWait);
}

// The paper state a usb:// printer's port status gives (empty or not).
PaperState askUsbDevice(pappl_printer_t* printer) {
  pappl_device_t* device = papplPrinterOpenDevice(printer);
  if (device == nullptr) return PaperState::Unknown;  // busy with a job
  pappl_preason_t reasons = papplDeviceGetStatus(device);
  papplPrinterCloseDevice(printer);
  return (reasons & PAPPL_PREASON_MEDIA_EMPTY) != 0 ? PaperState::Empty : PaperState::Ok;
}

void updatePaperState(pappl_printer_t* printer) {
  const char* uri = papplPrinterGetDeviceURI(printer);
  if (uri == nullptr) return;
  PaperState state = PaperState::Unknown;
  if (std::strncmp(uri, "socket://", 9) == 0) {
    state = askSocketDevice(uri);
  } else if (std::strncmp(uri, "usb://", 6) == 0) {
    state = askUsbDevice(printer);
  }
  switch (state) {
    case PaperState::Unknown:
      return;
    case PaperState::Ok:
      papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_LOW);
      break;
    case PaperState::Low:
      papplPrinterSetReasons(printer, PAPPL_PREASON_MEDIA_LOW, PAPPL_PREASON_MEDIA_EMPTY);
      break;
    case PaperState::Empty:
      papplPrinterSetReasons(printer, PAPPL_PREASON_MEDIA_EMPTY, PAPPL_PREASON_MEDIA_LOW);
      break;
  }
}

// Timer callback: the paper check after a job, for the printer whose id is
// the data; runs once.
bool checkAfterJob(pappl_system_t* system, void* data) {
  int* id = static_cast<int*>(data);
  pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, *id, nullptr);
  if (printer != nullptr && papplPrinterGetState(printer) != IPP_PSTATE_PROCESSING) updatePaperState(printer);
  delete id;
  return false;
}

}  // namespace

bool talveroStatusCallback(pappl_printer_t* printer) {
  updatePaperState(printer);
  return true;
}

void checkPaperAfterJob(pappl_printer_t* printer) {
  auto* id = new int(papplPrinterGetID(printer));
  if (!papplSystemAddTimerCallback(papplPrinterGetSystem(printer), time(nullptr) + 1, 1, checkAfterJob, id)) {
    delete id;
  }
}
