// The whole raster job: a shipped PPD chosen by the first input byte, job
// options up to the first newline, and the rest as the raster stream on
// standard input. Every job must end with status 0 or 1 and printer output
// that is empty or begins with ESC @ and decodes without an error.
#include <cstddef>
#include <cstdint>

#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::JobInput job = fuzz::splitJobInput({data, size});
  fuzz::checkJobResult(fuzz::runJob(job.ppd, job.options, job.data));
  return 0;
}
