// Status queries: recognising them in the received bytes and answering them
// from the paper state set on the command line.
#include "tools/virtual-printer/status.h"

#include <algorithm>

namespace vprinter {
namespace {

constexpr uint8_t kDleEot4[kQueryLength] = {0x10, 0x04, 0x04};
constexpr uint8_t kGsR1[kQueryLength] = {0x1D, 0x72, 0x01};

// DLE EOT 4 answer bits.
constexpr uint8_t kEotFixed = 0x12;
constexpr uint8_t kEotNearEnd = 0x0C;
constexpr uint8_t kEotPaperOut = 0x60;
// GS r 1 answer bits.
constexpr uint8_t kGsrNearEnd = 0x03;
constexpr uint8_t kGsrPaperOut = 0x0C;

// `whole` when `bytes` begins with `query`, else None.
QueryMatch compare(std::span<const uint8_t> bytes, const uint8_t (&query)[kQueryLength], QueryMatch whole) {
  bool found = bytes.size() >= kQueryLength && std::equal(query, query + kQueryLength, bytes.begin());
  return found ? whole : QueryMatch::None;
}

}  // namespace

std::optional<Paper> parsePaper(const std::string& name) {
  if (name == "ok") return Paper::Ok;
  if (name == "low") return Paper::Low;
  if (name == "empty") return Paper::Empty;
  return std::nullopt;
}

QueryMatch matchQuery(std::span<const uint8_t> bytes) {
  QueryMatch eot = compare(bytes, kDleEot4, QueryMatch::DleEot4);
  return eot != QueryMatch::None ? eot : compare(bytes, kGsR1, QueryMatch::GsR1);
}

uint8_t statusAnswer(QueryMatch query, Paper paper) {
  bool nearEnd = paper != Paper::Ok;
  bool out = paper == Paper::Empty;
  if (query == QueryMatch::GsR1) {
    return static_cast<uint8_t>((nearEnd ? kGsrNearEnd : 0) | (out ? kGsrPaperOut : 0));
  }
  return static_cast<uint8_t>(kEotFixed | (nearEnd ? kEotNearEnd : 0) | (out ? kEotPaperOut : 0));
}

}  // namespace vprinter
