// The paper sensor of the virtual printer and its answers to the two status
// queries a host sends on the data connection:
//
//   DLE EOT 4 (10 04 04), paper sensor status: one byte, bits 1 and 4 always
//     set (0x12), bits 2-3 (0x0C) paper near its end, bits 5-6 (0x60) paper
//     out.
//   GS r 1 (1D 72 01), paper sensor status: one byte, bits 0-1 (0x03) paper
//     near its end, bits 2-3 (0x0C) paper out.
//
// A printer whose roll has run out also sees it near its end, so "empty"
// sets both groups of bits, as the sensors of a real printer do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vprinter {

enum class Paper { Ok, Low, Empty };

// The paper state named `name` ("ok", "low", "empty"), or nothing.
std::optional<Paper> parsePaper(const std::string& name);

// Bytes of each status query.
constexpr size_t kQueryLength = 3;

// What the bytes at the start of `bytes` are.
enum class QueryMatch {
  None,     // not a (whole) status query
  DleEot4,  // DLE EOT 4
  GsR1,     // GS r 1
};

// Recognises a status query at the start of `bytes`.
QueryMatch matchQuery(std::span<const uint8_t> bytes);

// The answer byte of a whole query (DleEot4 or GsR1) for the paper state.
uint8_t statusAnswer(QueryMatch query, Paper paper);

}  // namespace vprinter
