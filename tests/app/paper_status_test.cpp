// Paper state queries: the meaning of each answer byte, and the query itself
// against small AppSocket printers on loopback that answer DLE EOT, answer
// only GS r 1, or say nothing at all.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/paper_status.h"

namespace {

using namespace std::chrono_literals;

TEST(PaperStatusTest, AnswerBytes) {
  struct Case {
    uint8_t answer;
    PaperState dleEot;
    PaperState gsR;
  } cases[] = {
      {0x12, PaperState::Ok, PaperState::Unknown},       // DLE EOT: paper present
      {0x1E, PaperState::Low, PaperState::Unknown},      // near end
      {0x72, PaperState::Empty, PaperState::Unknown},    // paper out
      {0x7E, PaperState::Empty, PaperState::Unknown},    // out beats near end
      {0x00, PaperState::Unknown, PaperState::Ok},       // GS r: paper present
      {0x03, PaperState::Unknown, PaperState::Low},
      {0x0C, PaperState::Unknown, PaperState::Empty},
      {0x0F, PaperState::Unknown, PaperState::Empty},
      {0x93, PaperState::Unknown, PaperState::Unknown},  // neither
  };
  for (const Case& c : cases) {
    EXPECT_EQ(paperStateFromDleEot(c.answer), c.dleEot) << int{c.answer};
    EXPECT_EQ(paperStateFromGsR(c.answer), c.gsR) << int{c.answer};
  }
}

// A one-connection printer on a loopback port that answers each query it
// recognises with the given byte (negative: stays silent).
class FakePrinter {
 public:
  FakePrinter(int dleEotAnswer, int gsRAnswer) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 1);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, dleEotAnswer, gsRAnswer] { serve(dleEotAnswer, gsRAnswer); });
  }
  ~FakePrinter() {
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    thread_.join();
  }
  int port() const { return port_; }
  std::string received() const { return received_; }

 private:
  void serve(int dleEotAnswer, int gsRAnswer) {
    int client = accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    uint8_t query[3];
    while (recv(client, query, 3, MSG_WAITALL) == 3) {
      received_.append(reinterpret_cast<char*>(query), 3);
      int answer = query[0] == 0x10 ? dleEotAnswer : gsRAnswer;
      if (answer >= 0) {
        uint8_t byte = static_cast<uint8_t>(answer);
        send(client, &byte, 1, MSG_NOSIGNAL);
      }
    }
    close(client);
  }
  int listener_ = -1;
  int port_ = 0;
  std::string received_;
  std::thread thread_;
};

TEST(PaperStatusTest, AsksTheSocketPrinterAndGivesUpSoon) {
  // DLE EOT 1, 2 and 4 (each answered with the same byte by the fake).
  const std::string kRealTime("\x10\x04\x01\x10\x04\x02\x10\x04\x04", 9);
  struct Case {
    int dleEot, gsR;
    PaperState expected;
    std::string queries;
  } cases[] = {
      {0x72, -1, PaperState::Empty, kRealTime},
      {0x12, -1, PaperState::Ok, kRealTime},
      {-1, 0x03, PaperState::Low, kRealTime + "\x1D\x72\x01"},
      {-1, -1, PaperState::Unknown, kRealTime + "\x1D\x72\x01"},
  };
  for (const Case& c : cases) {
    std::string received;
    auto start = std::chrono::steady_clock::now();
    PaperState state;
    {
      FakePrinter printer(c.dleEot, c.gsR);
      state = askSocketPrinter("127.0.0.1", printer.port(), 300ms);
      usleep(50000);  // let the printer read what was sent before it goes
      received = printer.received();
    }
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(state, c.expected) << c.dleEot << " " << c.gsR;
    EXPECT_EQ(received, c.queries);
    EXPECT_LT(took, 1500ms);
  }
  // Nobody listening: no state, at once.
  int port;
  {
    FakePrinter gone(-1, -1);
    port = gone.port();
  }
  EXPECT_EQ(askSocketPrinter("127.0.0.1", port, 300ms), PaperState::Unknown);
}

}  // namespace
