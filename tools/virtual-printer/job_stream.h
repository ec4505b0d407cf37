// The bytes of one job as they arrive on a connection, with the status
// queries taken out and answered as soon as they are whole.
//
// A status query is recognised only where a command may begin: the
// previewer's decoder frames the stream, and a query is the thing it stops
// at. The same three bytes inside raster data are data. Bytes before the
// last decoded command are settled and never decoded again, so a long job
// costs one pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/virtual-printer/status.h"

namespace vprinter {

class JobStream {
 public:
  explicit JobStream(Paper paper) : paper_(paper) {}

  // Takes the next bytes received; returns the answers to send back now,
  // one byte per status query completed by them.
  std::vector<uint8_t> receive(std::span<const uint8_t> chunk);

  // The job's bytes so far, without the status queries.
  const std::vector<uint8_t>& bytes() const { return bytes_; }

  // How many status queries were answered.
  size_t queries() const { return queries_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t settled_ = 0;  // bytes_ before this offset hold only whole commands
  size_t queries_ = 0;
  Paper paper_;
};

}  // namespace vprinter
