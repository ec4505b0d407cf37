// The bytes of one job as they arrive on a connection, with the status
// queries taken out as soon as they are whole.
//
// A status query is recognised only where a command may begin: the
// previewer's decoder frames the stream and names the queries it meets. The
// same three bytes inside raster data are data. Bytes before the last
// decoded command are settled and never decoded again, so a long job costs
// one pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/preview/decode.h"

namespace vprinter {

// A status query found in the stream: what it asks, and how many job bytes
// came before it (the offset in bytes() where it stood).
struct FoundQuery {
  preview::StatusQuery query;
  size_t at = 0;
};

class JobStream {
 public:
  // Takes the next bytes received; returns the queries they completed, in
  // the order they came.
  std::vector<FoundQuery> receive(std::span<const uint8_t> chunk);

  // The job's bytes so far, without the status queries.
  const std::vector<uint8_t>& bytes() const { return bytes_; }

  // How many status queries were found.
  size_t queries() const { return queries_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t settled_ = 0;  // bytes_ before this offset hold only whole commands
  size_t queries_ = 0;
};

}  // namespace vprinter
