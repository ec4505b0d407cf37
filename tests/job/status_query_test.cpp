// The status queries: what each answer byte says, the exchange with a
// printer that answers in pieces, late, only to GS r 1 or not at all, and the
// wait of a job until the printer can print.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "job/status_query.h"
#include "support.h"

namespace {

using talvero_test::Bytes;
using talvero_test::hex;

// A printer on a channel: `stale` bytes wait before anything is asked; after
// the n-th send, the reads of afterSend[n] come one receive() each (an
// empty one is a wait that saw nothing). A closed channel ends after them.
class ScriptedPrinter final : public StatusChannel {
 public:
  std::deque<Bytes> reads;
  std::vector<std::deque<Bytes>> afterSend;
  Bytes sent;
  bool closed = false;

  bool send(std::span<const uint8_t> bytes) override {
    sent.insert(sent.end(), bytes.begin(), bytes.end());
    if (sends_ < afterSend.size()) reads.insert(reads.end(), afterSend[sends_].begin(), afterSend[sends_].end());
    ++sends_;
    return true;
  }
  ssize_t receive(std::span<uint8_t> into, std::chrono::milliseconds) override {
    if (reads.empty()) return closed ? -1 : 0;
    Bytes next = reads.front();
    reads.pop_front();
    size_t n = std::min(next.size(), into.size());
    std::copy_n(next.begin(), n, into.begin());
    return static_cast<ssize_t>(n);
  }

 private:
  size_t sends_ = 0;
};

TEST(StatusQuery, AnswersOfEachQuery) {
  struct Case {
    bool (*read)(uint8_t, PrinterStatus&);
    uint8_t answer;
    bool valid, offline, cover, out, low, error;
  } cases[] = {
      {readPrinterStatus, 0x12, true, false, false, false, false, false},
      {readPrinterStatus, 0x1A, true, true, false, false, false, false},
      {readPrinterStatus, 0x13, false, false, false, false, false, false},  // bit 0 is never set
      {readOfflineCause, 0x16, true, false, true, false, false, false},
      {readOfflineCause, 0x32, true, false, false, true, false, false},
      {readOfflineCause, 0x52, true, false, false, false, false, true},
      {readPaperSensor, 0x1E, true, false, false, false, true, false},
      {readPaperSensor, 0x72, true, false, false, true, false, false},
      {readPaperSensor, 0x92, false, false, false, false, false, false},  // bit 7 is never set
      {readPaperInTurn, 0x03, true, false, false, false, true, false},
      {readPaperInTurn, 0x0F, true, false, false, true, true, false},
      {readPaperInTurn, 0x12, false, false, false, false, false, false},  // a DLE EOT answer
  };
  for (const Case& c : cases) {
    PrinterStatus s;
    EXPECT_EQ(c.read(c.answer, s), c.valid) << int{c.answer};
    EXPECT_EQ((std::vector<bool>{s.answered, s.offline, s.coverOpen, s.paperOut, s.paperLow, s.error}),
              (std::vector<bool>{c.valid, c.offline, c.cover, c.out, c.low, c.error}))
        << int{c.answer};
    EXPECT_EQ(mustWait(s), c.offline || c.cover || c.out || c.error) << int{c.answer};
  }
}

TEST(StatusQuery, Exchanges) {
  const Bytes eot = hex("10 04 01 10 04 02 10 04 04"), gsr = hex("1D 72 01");
  Bytes both = eot;
  both.insert(both.end(), gsr.begin(), gsr.end());
  struct Case {
    Bytes stale;
    std::vector<std::deque<Bytes>> afterSend;
    bool closed;
    Bytes sent;
    bool answered, out, low, cover, gone;
  } cases[] = {
      {{}, {{hex("12 16 12")}}, false, eot, true, false, false, true, false},             // cover open
      {{}, {{hex("1A"), hex("32 7E")}}, false, eot, true, true, true, false, false},      // in pieces
      {hex("1E"), {{hex("12 12 12")}}, false, eot, true, false, false, false, false},     // a late answer dropped
      {{}, {{}, {}}, false, both, false, false, false, false, false},                     // no answer at all
      {{}, {{}, {hex("0C")}}, false, both, true, true, false, false, false},              // GS r 1 only
      {{}, {}, true, {}, false, false, false, false, true},                               // the connection ended
  };
  for (const Case& c : cases) {
    ScriptedPrinter printer;
    if (!c.stale.empty()) printer.reads.push_back(c.stale);
    printer.afterSend = c.afterSend;
    printer.closed = c.closed;
    PrinterStatus s = askPrinter(printer, std::chrono::milliseconds(50));
    EXPECT_EQ(printer.sent, c.sent);
    EXPECT_EQ((std::vector<bool>{s.answered, s.paperOut, s.paperLow, s.coverOpen, s.gone}),
              (std::vector<bool>{c.answered, c.out, c.low, c.cover, c.gone}));
  }
}

// Hooks that note what the job showed and how often it paused.
struct NotedWait final : WaitHooks {
  std::vector<bool> waiting;
  int pauses = 0, stopAfter = 100;
  void report(const PrinterStatus& status) override { waiting.push_back(mustWait(status)); }
  bool pause(std::chrono::milliseconds) override { return ++pauses < stopAfter; }
};

TEST(StatusQuery, WaitUntilReady) {
  std::deque<PrinterStatus> answers;
  auto ask = [&answers] {
    PrinterStatus s = answers.front();
    answers.pop_front();
    return s;
  };
  PrinterStatus out{true}, ready{true}, none{};
  out.paperOut = true;

  NotedWait wait;
  answers = {out, none, out, ready};  // silent once while waiting: still waited for
  EXPECT_EQ(waitUntilReady(ask, wait, {}), Readiness::Ready);
  EXPECT_EQ(wait.waiting, (std::vector<bool>{true, true, false}));
  EXPECT_EQ(wait.pauses, 3);

  NotedWait first;
  answers = {none};
  EXPECT_EQ(waitUntilReady(ask, first, {}), Readiness::NoAnswer);

  NotedWait cancelled;
  cancelled.stopAfter = 2;
  answers = {out, out, out};
  EXPECT_EQ(waitUntilReady(ask, cancelled, {}), Readiness::Stopped);
  EXPECT_EQ(cancelled.waiting.size(), 2u);
}

}  // namespace
