// Finds the status queries between the commands of a job as it arrives.
#include "tools/virtual-printer/job_stream.h"

namespace vprinter {

std::vector<FoundQuery> JobStream::receive(std::span<const uint8_t> chunk) {
  bytes_.insert(bytes_.end(), chunk.begin(), chunk.end());
  std::span<const uint8_t> open = std::span<const uint8_t>(bytes_).subspan(settled_);
  preview::DecodeResult decoded = preview::decodeStream(open);

  // Rebuilds the open part without the queries; what the decoder stopped at
  // (cut off by the end of what has arrived, or malformed) stays as it is
  // and is judged at the end of the job.
  std::vector<uint8_t> kept;
  kept.reserve(open.size());
  std::vector<FoundQuery> found;
  size_t settle = 0;  // in `kept`: the last command may still grow (a text or NUL run)
  for (const preview::Command& command : decoded.commands) {
    std::span<const uint8_t> body = open.subspan(command.offset, command.length);
    if (const auto* query = std::get_if<preview::StatusQuery>(&command.body)) {
      found.push_back(FoundQuery{*query, settled_ + kept.size()});
      settle = kept.size();
      continue;
    }
    settle = kept.size();
    kept.insert(kept.end(), body.begin(), body.end());
  }
  size_t decodedEnd = decoded.commands.empty() ? 0 : decoded.commands.back().offset + decoded.commands.back().length;
  kept.insert(kept.end(), open.begin() + ptrdiff_t(decodedEnd), open.end());
  if (!found.empty()) {
    bytes_.resize(settled_);
    bytes_.insert(bytes_.end(), kept.begin(), kept.end());
  }
  settled_ += settle;
  queries_ += found.size();
  return found;
}

}  // namespace vprinter
