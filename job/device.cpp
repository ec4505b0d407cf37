// The reset, cancel and drawer-kick commands; see device.h.
#include "job/device.h"

#include "core/commands.h"

namespace {

constexpr size_t kCancelNulls = 720;

// ESC p m t1 t2: pulse drawer m for t1 x 2 ms, then off for t2 x 2 ms (FF).
void kickDrawer(OutputSink& out, uint8_t drawer, int32_t pulseMs) {
  out.put(command::kDrawerKick);
  const uint8_t parameters[] = {drawer, static_cast<uint8_t>(pulseMs / 2), 0xFF};
  out.put(parameters);
}

}  // namespace

void shutDown(OutputSink& out) {
  out.put(command::kReset);
}

void sendCancelNulls(OutputSink& out) {
  out.putRepeated(0x00, kCancelNulls);
}

void openCashDrawer(JobContext& job) {
  const JobSettings& settings = job.settings;
  switch (settings.CashDrawer) {
    case 1:
      kickDrawer(job.out, 0x00, settings.CashDrawer1PulseWidth);
      break;
    case 2:
      kickDrawer(job.out, 0x01, settings.CashDrawer2PulseWidth);
      break;
    case 3:
      kickDrawer(job.out, 0x00, settings.CashDrawer1PulseWidth);
      kickDrawer(job.out, 0x01, settings.CashDrawer2PulseWidth);
      break;
    default:
      break;
  }
}
