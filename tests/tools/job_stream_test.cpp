// The virtual printer's job stream: status queries between commands are
// found, with the place they stood, and taken out however the bytes are
// split on the way; the same bytes inside a command's data are left alone.
#include <gtest/gtest.h>

#include "support.h"
#include "tools/virtual-printer/job_stream.h"

namespace {

using talvero_test::Bytes;
using talvero_test::hex;

// A job: reset, text, an image and a compressed band whose data hold both
// queries' bytes, a drawer kick and a cut.
const Bytes kJob = hex(
    "1B 40 41 42 43 0A"
    "1D 76 30 00 03 00 01 00 10 04 04"
    "08 43 52 00 00 00 00 00 18 00 01 00 1D 72 01 08 43 52 FF 00"
    "1B 70 00 32 32 1D 56 41 10");
// Offsets in kJob where a command begins: a query goes in there.
const size_t kBoundaries[] = {0, 2, 4, 6, 17, 37, 42, 46};

TEST(JobStream, QueriesBetweenCommandsAnsweredAtEveryChunking) {
  const Bytes eot = hex("10 04 04"), gsr = hex("1D 72 01");
  for (size_t chunk = 1; chunk <= 8; ++chunk) {
    // A query at every command boundary, alternating the two kinds; the
    // one in the middle of "ABC" text splits it like any other.
    Bytes sent;
    size_t from = 0, queries = 0;
    for (size_t at : kBoundaries) {
      sent.insert(sent.end(), kJob.begin() + ptrdiff_t(from), kJob.begin() + ptrdiff_t(at));
      const Bytes& query = queries % 2 ? gsr : eot;
      sent.insert(sent.end(), query.begin(), query.end());
      from = at;
      ++queries;
    }
    sent.insert(sent.end(), kJob.begin() + ptrdiff_t(from), kJob.end());

    vprinter::JobStream stream;
    std::vector<size_t> at;
    Bytes kinds;
    for (size_t i = 0; i < sent.size(); i += chunk) {
      for (const vprinter::FoundQuery& found : stream.receive(std::span(sent).subspan(i, std::min(chunk, sent.size() - i)))) {
        at.push_back(found.at);
        kinds.push_back(found.query.realTime ? 0x10 : 0x1D);
      }
    }
    Bytes want;
    for (size_t q = 0; q < queries; ++q) want.push_back(q % 2 ? 0x1D : 0x10);
    EXPECT_EQ(kinds, want) << "chunks of " << chunk;
    EXPECT_EQ(at, std::vector<size_t>(std::begin(kBoundaries), std::end(kBoundaries))) << "chunks of " << chunk;
    EXPECT_EQ(stream.bytes(), kJob) << "chunks of " << chunk;
    EXPECT_EQ(stream.queries(), queries);
  }
}

}  // namespace
