// The run-length coder of the compressed raster command: whatever it codes,
// the previewer's decoder must give back exactly the input, using every byte
// of the code, and the code is never more than twice as long as the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "output/compress.h"
#include "tools/preview/decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string code;
  OutputSink out(appendToString, &code);
  CompressData(out, data, static_cast<uint32_t>(size));
  out.flush();

  auto codeBytes = std::span(reinterpret_cast<const uint8_t*>(code.data()), code.size());
  std::vector<uint8_t> decoded;
  preview::RunDecode result = preview::decodeRuns(codeBytes, size, decoded);
  fuzz::check(result.status == preview::RunDecode::Status::Ok, "the code does not decode", code);
  fuzz::check(result.consumed == code.size(), "code bytes left over", code);
  fuzz::check(decoded == std::vector<uint8_t>(data, data + size), "the round trip changed the data", code);
  fuzz::check(code.size() <= 2 * size, "the code is more than twice the input", code);
  return 0;
}
