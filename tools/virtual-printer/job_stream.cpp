// Finds the status queries between the commands of a job as it arrives.
#include "tools/virtual-printer/job_stream.h"

#include "tools/preview/decode.h"

namespace vprinter {

std::vector<uint8_t> JobStream::receive(std::span<const uint8_t> chunk) {
  bytes_.insert(bytes_.end(), chunk.begin(), chunk.end());
  std::vector<uint8_t> answers;
  for (;;) {
    std::span<const uint8_t> open = std::span<const uint8_t>(bytes_).subspan(settled_);
    preview::DecodeResult decoded = preview::decodeStream(open);
    // The last command may still grow (a text or NUL run): keep it open.
    size_t settle = decoded.commands.empty() ? 0 : decoded.commands.back().offset;
    if (decoded.error) {
      size_t at = settled_ + decoded.error->offset;
      QueryMatch query = matchQuery(std::span<const uint8_t>(bytes_).subspan(at));
      if (query != QueryMatch::None) {
        answers.push_back(statusAnswer(query, paper_));
        bytes_.erase(bytes_.begin() + ptrdiff_t(at), bytes_.begin() + ptrdiff_t(at + kQueryLength));
        ++queries_;
        settled_ += settle;
        continue;
      }
    }
    // Anything else the decoder stops at is either cut off by the end of
    // what has arrived or malformed; the whole job is judged at its end.
    settled_ += settle;
    return answers;
  }
}

}  // namespace vprinter
