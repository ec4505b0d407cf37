// The answers to the status queries, from the sensors.
#include "tools/virtual-printer/status.h"

namespace vprinter {
namespace {

// Bits every DLE EOT answer carries.
constexpr uint8_t kEotFixed = 0x12;
// DLE EOT 1.
constexpr uint8_t kEotOffline = 0x08;
// DLE EOT 2.
constexpr uint8_t kEotCoverOpen = 0x04;
constexpr uint8_t kEotPaperStop = 0x20;
constexpr uint8_t kEotErrorOccurred = 0x40;
// DLE EOT 3.
constexpr uint8_t kEotUnrecoverable = 0x20;
// DLE EOT 4.
constexpr uint8_t kEotNearEnd = 0x0C;
constexpr uint8_t kEotPaperOut = 0x60;
// GS r 1.
constexpr uint8_t kGsrNearEnd = 0x03;
constexpr uint8_t kGsrPaperOut = 0x0C;

// `bits` when `on`, else 0.
uint8_t when(bool on, uint8_t bits) {
  return on ? bits : 0;
}

// The DLE EOT n answer.
uint8_t realTimeAnswer(uint8_t n, const Sensors& s) {
  bool out = s.paper == Paper::Empty;
  switch (n) {
    case 1: return kEotFixed | when(!canPrint(s), kEotOffline);
    case 2: return kEotFixed | when(s.coverOpen, kEotCoverOpen) | when(out, kEotPaperStop) | when(s.error, kEotErrorOccurred);
    case 3: return kEotFixed | when(s.error, kEotUnrecoverable);
    default: return kEotFixed | when(s.paper != Paper::Ok, kEotNearEnd) | when(out, kEotPaperOut);
  }
}

}  // namespace

bool canPrint(const Sensors& sensors) {
  return sensors.paper != Paper::Empty && !sensors.coverOpen && !sensors.offline && !sensors.error;
}

std::optional<Paper> parsePaper(const std::string& name) {
  if (name == "ok") return Paper::Ok;
  if (name == "low") return Paper::Low;
  if (name == "empty") return Paper::Empty;
  return std::nullopt;
}

const char* paperName(Paper paper) {
  return paper == Paper::Ok ? "ok" : paper == Paper::Low ? "low" : "empty";
}

std::string describe(const Sensors& sensors) {
  return std::string("paper=") + paperName(sensors.paper) + (sensors.coverOpen ? " cover=open" : " cover=closed") +
         (sensors.offline ? " offline" : " online") + (sensors.error ? " error" : " no-error");
}

uint8_t statusAnswer(const preview::StatusQuery& query, const Sensors& sensors) {
  if (query.realTime) return realTimeAnswer(query.n, sensors);
  if (query.n == 2 || query.n == 0x32) return 0x00;  // drawer connector: pin 3 low
  return when(sensors.paper != Paper::Ok, kGsrNearEnd) | when(sensors.paper == Paper::Empty, kGsrPaperOut);
}

}  // namespace vprinter
