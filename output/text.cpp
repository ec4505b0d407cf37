// Text jobs: the file's bytes go to the printer as they are, never
// interpreted, with the logo block (logo command of the model's text column)
// before and/or after them as LogoPosition says. The file is read in chunks
// of at most 1024 bytes through one fixed buffer, so a file of any length
// takes constant memory. A 00 byte ends its chunk: neither it nor the rest of
// that chunk is sent, and the next read starts a fresh chunk. A read error
// ends the text job there, without the logo block after the text.
#include "output/text.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "output/logo.h"

namespace {

constexpr size_t kChunkSize = 1024;

// Sends the file from its current position to its end, or until the output
// has failed. Returns 0, or the errno of a read that failed; a read
// interrupted by a signal that did not end the job is simply repeated.
int sendText(OutputSink& out, int fd) {
  std::array<uint8_t, kChunkSize> chunk;
  while (out.writeError() == 0) {
    chunk.fill(0);
    ssize_t got = read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) break;
    const void* nul = std::memchr(chunk.data(), 0, static_cast<size_t>(got));
    size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - chunk.data())
                                   : static_cast<size_t>(got);
    out.put(chunk.data(), length);
  }
  return 0;
}

}  // namespace

int printText(JobContext& job, int fd) {
  LogoPlacement placement = logoPlacement(job.settings.LogoPosition);
  if (!placement.send) return 0;  // an unknown position sends nothing and reads nothing
  LogoBlock logo = makeLogoBlock(job.model.logoText, job.model.logoKeyBase, job.settings);

  if (placement.before) sendLogoBlock(job.out, logo);
  int readError = sendText(job.out, fd);
  if (readError != 0) return readError;  // the job ends with what was sent
  if (placement.after) sendLogoBlock(job.out, logo);
  return 0;
}
