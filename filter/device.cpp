#include "filter/device.h"

#include <unistd.h>

#include <csignal>

#include "output/stream.h"

namespace {

constexpr uint8_t kReset[] = {0x1B, 0x40};  // ESC @
constexpr size_t kCancelNulls = 720;

// ESC p m t1 t2: pulse drawer m for t1 x 2 ms, then off for t2 x 2 ms.
void kickDrawer(uint8_t drawer, int32_t pulseMs) {
  const uint8_t command[] = {0x1B, 0x70, drawer, static_cast<uint8_t>(pulseMs / 2), 0xFF};
  outBytes(command, sizeof command);
}

}  // namespace

void jobSetup() {
  struct sigaction action {};
  action.sa_handler = cancelJob;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGTERM);  // held back while the handler runs
  action.sa_flags = 0;                  // no SA_RESTART: a blocked write returns
  sigaction(SIGTERM, &action, nullptr);
  // A reader that goes away makes the write fail with EPIPE, which the job reports.
  signal(SIGPIPE, SIG_IGN);
  outBytes(kReset, sizeof kReset);
}

void endPage() {
  outFlush();
  signal(SIGTERM, SIG_IGN);
}

void shutDown() {
  outBytes(kReset, sizeof kReset);
}

void cancelJob(int) {
  // Inside write(2) the flush cannot know how much went out; it calls this
  // handler again once it does.
  if (outDeferSignal(cancelJob)) return;
  // The handler may also be running from that flush, in the main flow; from
  // here on no further SIGTERM may interrupt the sequence.
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigprocmask(SIG_BLOCK, &term, nullptr);

  sendCancelNulls();
  endPage();
  shutDown();
  outFlush();  // _exit does not flush, and exit() is not safe here
  _exit(0);
}

void sendCancelNulls() {
  outRepeat(0x00, kCancelNulls);
}

void openCashDrawer(const JobSettings& settings) {
  switch (settings.CashDrawer) {
    case 1:
      kickDrawer(0x00, settings.CashDrawer1PulseWidth);
      break;
    case 2:
      kickDrawer(0x01, settings.CashDrawer2PulseWidth);
      break;
    case 3:
      kickDrawer(0x00, settings.CashDrawer1PulseWidth);
      kickDrawer(0x01, settings.CashDrawer2PulseWidth);
      break;
    default:
      break;
  }
}
