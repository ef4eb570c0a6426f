// IBM 3270 sessions through the real binary, as a browser sees them: the
// recorded sessions of tests/fixtures/3270 played by a host written here
// (each host record sent, each recorded operator record typed again through
// the channel and checked as the host receives it) with every screen equal
// to the reference; the same recordings loaded with "/load_capture"; TN3270E
// negotiation, responses and framing; the record collector's limits; and a
// real host, Hercules, with its logo screen.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../ite/fixture3270.h"
#include "browser3270.h"
#include "conn_test_util.h"
#include "emulation_ids.h"
#include "fws/fws_cell.h"
#include "host3270.h"
#include "keyname.h"
#include "kvx_browser.h"
#include "kvx_test.h"
#include "tcs.h"
#include "te3270/te3270.h"

using kvxtest::ChannelFrame;
using kvxtest::TestBrowser;

namespace {

bool OperatorAid(uint8_t aid) {
  if (aid == AID_ENTER || aid == AID_CLEAR || aid == AID_PA1 || aid == AID_PA2 || aid == AID_PA3) return true;
  for (int n = 1; n <= 24; n++)
    if (te3270_pf_aid(n) == aid) return true;
  return false;
}

// Types a recorded AID record through the channel as an operator would:
// each modified field (unless the host protected it) clicked, erased to
// its end and typed; the cursor clicked where it was; the AID key.
void TypeRecord(Browser3270& b, const std::vector<uint8_t>& rec) {
  const uint8_t aid = rec[0];
  const int cols = b.cols();
  b.TerminalKey(TK_RESET);
  if (rec.size() >= 3 && aid != AID_CLEAR) {
    size_t i = 3;
    while (i < rec.size()) {
      if (rec[i] != 0x11 || i + 2 >= rec.size()) {
        i++;
        continue;
      }
      int field = te3270_decode_address(rec[i + 1], rec[i + 2]);
      i += 3;
      bool typing = !(b.screen.Cell(field % cols, field / cols) & BLK_CELL_PROTECTED);
      if (typing) {
        b.Click(field / cols, field % cols);
        b.TerminalKey(TK_ERASEEOF);
      }
      for (; i < rec.size() && rec[i] != 0x11; i++)
        if (typing) b.Key(te3270_ebcdic_to_unicode(0, rec[i]));
    }
    int cursor = te3270_decode_address(rec[1], rec[2]);
    b.Click(cursor / cols, cursor % cols);
  }
  int pf = 0;
  for (int n = 1; n <= 24; n++)
    if (te3270_pf_aid(n) == aid) pf = n;
  if (pf)
    b.TerminalKey(TK_PF1 + pf - 1);
  else if (aid == AID_ENTER)
    b.Key(13);
  else if (aid == AID_CLEAR)
    b.TerminalKey(TK_CLEAR);
  else
    b.TerminalKey(TK_PA1 + (aid == AID_PA1 ? 0 : aid == AID_PA2 ? 1 : 2));
}

// A relay between the terminal and a real host that keeps what the
// terminal sends.
class Relay {
 public:
  explicit Relay(int hostPort) : hostPort_(hostPort) {
    thread_ = std::thread([this] { Run(); });
  }
  ~Relay() {
    stop_ = true;
    thread_.join();
  }
  int port() const { return listener_.port(); }
  // The terminal's records so far.
  std::vector<std::vector<uint8_t>> Records() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<trc_chunk> chunks(1);
    chunks[0].fromHost = false;
    chunks[0].bytes.assign(fromTerminal_.begin(), fromTerminal_.end());
    std::vector<std::vector<uint8_t>> out;
    for (const trc_event& e : trc_events(chunks))
      if (e.kind == TRC_RECORD) out.push_back(e.bytes);
    return out;
  }

 private:
  void Run() {
    while (!stop_ && !listener_.Accept(0.1)) {
    }
    if (stop_) return;
    int up = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(hostPort_));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(up, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(up);
      return;
    }
    int down = listener_.fd();
    char buf[4096];
    while (!stop_) {
      pollfd p[2] = {{down, POLLIN, 0}, {up, POLLIN, 0}};
      if (poll(p, 2, 100) <= 0) continue;
      if (p[0].revents) {
        ssize_t n = recv(down, buf, sizeof buf, 0);
        if (n <= 0) break;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          fromTerminal_.append(buf, static_cast<size_t>(n));
        }
        if (send(up, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
      }
      if (p[1].revents) {
        ssize_t n = recv(up, buf, sizeof buf, 0);
        if (n <= 0 || send(down, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
      }
    }
    close(up);
  }

  int hostPort_;
  Host3270 listener_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string fromTerminal_;
};

class Hosts3270 : public ::testing::Test {
 protected:
  void SetUp() override { server = std::make_unique<kvxtest::KavrixServer>(); }
  std::unique_ptr<kvxtest::KavrixServer> server;
};

// Every recorded session, its host played here: the screen after each host
// record is the reference screen, and each operator record typed again
// reaches the host as it was recorded.
TEST_F(Hosts3270, RecordedSessionsThroughTheChannel) {
  for (const std::string& name : ref3270_names()) {
    SCOPED_TRACE(name);
    ref3270_trace trace = ref3270_load(name);
    std::vector<trc_chunk> chunks;
    ASSERT_TRUE(trc_load(trace.tracePath, chunks));
    std::vector<trc_event> events = trc_events(chunks);
    bool tn3270e = false;
    for (const trc_event& e : events) tn3270e = tn3270e || (e.kind == TRC_RECORD && e.tn3270e);
    std::map<int, ref3270_screen> screens;
    for (const ref3270_screen& s : trace.screens)
      if (s.kind == "host") screens[s.recordNo] = s;

    Host3270 host;
    Browser3270 b;
    ASSERT_TRUE(b.NewSession(server->port()));
    ASSERT_EQ(kvxtest::EnvelopeCode(b.PostConfig(Config3270(host.port(), trace.model)).body), 0);
    ASSERT_TRUE(b.Attach());
    ASSERT_TRUE(host.Accept());
    ASSERT_TRUE(tn3270e ? host.NegotiateTn3270e() : host.NegotiateTn3270()) << Hex({});
    ASSERT_TRUE(b.WaitConnected()) << b.Show();

    int record = 0;
    size_t received = 0;
    for (const trc_event& e : events) {
      if (e.kind != TRC_RECORD) continue;
      if (e.fromHost) {
        ASSERT_TRUE(host.SendRecord(e.bytes));
        record++;
        if (screens.count(record)) {
          ASSERT_TRUE(b.WaitScreen(screens[record])) << "record " << record << "\n" << b.Show();
        }
        continue;
      }
      // The terminal's record: typed again when an operator sent it.
      std::vector<uint8_t> want = e.bytes;
      if (e.tn3270e) want.erase(want.begin(), want.begin() + std::min<size_t>(5, want.size()));
      if (!want.empty() && OperatorAid(want[0])) TypeRecord(b, want);
      std::vector<uint8_t> got;
      ASSERT_TRUE(host.WaitRecord(received, &got)) << "terminal record " << received << " never came";
      received++;
      if (tn3270e) got.erase(got.begin(), got.begin() + std::min<size_t>(5, got.size()));
      if (!want.empty() && want[0] == 0x88) {
        EXPECT_EQ(got[0], 0x88);  // a query reply: ours, not the recorded client's
        continue;
      }
      EXPECT_EQ(Hex(got), Hex(want)) << "terminal record " << received;
    }
  }
}

// The same recordings replayed by "/load_capture" into sessions with no
// host: each shows the screen of its last host record.
TEST_F(Hosts3270, LoadCaptureReplaysARecordingWithoutAHost) {
  for (const std::string& name : ref3270_names()) {
    SCOPED_TRACE(name);
    ref3270_trace trace = ref3270_load(name);
    std::vector<trc_chunk> chunks;
    ASSERT_TRUE(trc_load(trace.tracePath, chunks));
    std::string capture;
    for (const trc_chunk& c : chunks)
      if (c.fromHost) capture.append(c.bytes.begin(), c.bytes.end());
    const ref3270_screen* last = nullptr;
    for (const ref3270_screen& s : trace.screens)
      if (s.kind == "host") last = &s;

    Browser3270 b;
    ASSERT_TRUE(b.NewSession(server->port()));
    ASSERT_EQ(kvxtest::EnvelopeCode(b.PostConfig(Config3270(1, trace.model, false)).body), 0);
    ASSERT_TRUE(b.Attach());
    auto answer = kvxtest::HttpRequest(server->port(), "POST", "/load_capture?session=" + b.sessionId, capture,
                                       {{"Content-Type", "application/octet-stream"}});
    EXPECT_EQ(kvxtest::EnvelopeCode(answer.body), 0) << answer.body;
    ASSERT_TRUE(b.Pump([&] { return b.rows() == last->rows && b.Lines() == last->text; }, 10)) << b.Show();
  }
}

TEST_F(Hosts3270, LoadCaptureIsRefusedWhileConnected) {
  Host3270 host;
  Browser3270 b;
  ASSERT_TRUE(b.NewSession(server->port()));
  ASSERT_EQ(kvxtest::EnvelopeCode(b.PostConfig(Config3270(host.port(), 2)).body), 0);
  ASSERT_TRUE(b.Attach());
  ASSERT_TRUE(host.Accept());
  ASSERT_TRUE(host.NegotiateTn3270());
  ASSERT_TRUE(host.SendRecord({0xF5, 0xC3, 0xC8, 0xD6, 0xE2, 0xE3}));  // HOST
  ASSERT_TRUE(b.WaitText("HOST")) << b.Show();
  std::string capture = "\xf5\xc3\xc3\xc1\xd7\xff\xef";  // CAP
  auto answer = kvxtest::HttpRequest(server->port(), "POST", "/load_capture?session=" + b.sessionId, capture);
  EXPECT_NE(kvxtest::EnvelopeCode(answer.body), 0) << answer.body;
  b.Pump([] { return false; }, 0.5);
  EXPECT_EQ(b.screen.Find("CAP"), -1);
  EXPECT_EQ(b.Status(9), "TN3270");  // the live session's framing is its own
}

// TN3270E: framing from the negotiation, the functions limited to what is
// built, responses to the host's requests (a negative one for a record
// stopped by a bad address), replies with their header.
TEST_F(Hosts3270, Tn3270eResponsesAndHeaders) {
  Host3270 host;
  Browser3270 b;
  ASSERT_TRUE(b.NewSession(server->port()));
  ASSERT_EQ(kvxtest::EnvelopeCode(b.PostConfig(Config3270(host.port(), 2)).body), 0);
  ASSERT_TRUE(b.Attach());
  ASSERT_TRUE(host.Accept());
  std::string functions;
  ASSERT_TRUE(host.NegotiateTn3270e(&functions));
  EXPECT_EQ(functions, std::string("\x00\x02", 2));  // BIND-IMAGE, RESPONSES

  // Always-response, all well: a positive response with its sequence number.
  ASSERT_TRUE(host.SendRecord({0x00, 0x00, 0x02, 0x00, 0x07, 0xF5, 0xC3, 0x1D, 0x40, 0xC1}));
  std::vector<uint8_t> r;
  ASSERT_TRUE(host.WaitRecord(0, &r));
  EXPECT_EQ(Hex(r), "020000000700");
  // Error-response, an address outside the screen: a negative response.
  ASSERT_TRUE(host.SendRecord({0x00, 0x00, 0x01, 0x00, 0x08, 0xF1, 0xC2, 0x11, 0x7F, 0x7F, 0xC2}));
  ASSERT_TRUE(host.WaitRecord(1, &r));
  EXPECT_EQ(Hex(r), "020001000802");
  // Error-response, all well: nothing.  Then Enter goes out with its header.
  ASSERT_TRUE(host.SendRecord({0x00, 0x00, 0x01, 0x00, 0x09, 0xF1, 0xC2, 0xC2}));
  ASSERT_TRUE(b.Pump([&] { return b.Status(9) == "TN3270E" && b.Status(4).empty(); }, 10)) << b.Show();
  b.Key(13);
  ASSERT_TRUE(host.WaitRecord(2, &r));
  EXPECT_EQ(Hex(r).substr(0, 12), "00000000007d");
  EXPECT_EQ(host.Records().size(), 3u);
}

// A host that rejects the device type: the terminal says WONT TN3270E and
// goes on in plain TN3270.
TEST_F(Hosts3270, DeviceTypeRejectFallsBackToTn3270) {
  Host3270 host;
  Browser3270 b;
  ASSERT_TRUE(b.NewSession(server->port()));
  ASSERT_EQ(kvxtest::EnvelopeCode(b.PostConfig(Config3270(host.port(), 2)).body), 0);
  ASSERT_TRUE(b.Attach());
  ASSERT_TRUE(host.Accept());
  ASSERT_TRUE(host.SendRaw("\xff\xfd\x28") && host.Expect("\xff\xfb\x28"));
  ASSERT_TRUE(host.SendRaw(std::string("\xff\xfa\x28\x08\x02\xff\xf0", 7)) && host.Expect("\xff\xfa\x28\x02\x07"));
  ASSERT_TRUE(host.SendRaw(std::string("\xff\xfa\x28\x02\x06\x01\xff\xf0", 8)));  // REJECT
  ASSERT_TRUE(host.Expect("\xff\xfc\x28")) << "no WONT TN3270E";
  ASSERT_TRUE(host.NegotiateTn3270());
  ASSERT_TRUE(host.SendRecord({0xF5, 0xC3, 0xD7, 0xD3, 0xC1, 0xC9, 0xD5}));  // PLAIN
  ASSERT_TRUE(b.WaitText("PLAIN")) << b.Show();
  EXPECT_EQ(b.Status(9), "TN3270");
}

// Records end only where the telnet layer saw IAC EOR: data bytes 255 239
// stay data; a record that never ends is dropped at its cap and the next
// one is shown.
TEST_F(Hosts3270, RecordsEndOnlyAtEndOfRecord) {
  Host3270 host;
  Browser3270 b;
  ASSERT_TRUE(b.NewSession(server->port()));
  ASSERT_EQ(kvxtest::EnvelopeCode(b.PostConfig(Config3270(host.port(), 2)).body), 0);
  ASSERT_TRUE(b.Attach());
  ASSERT_TRUE(host.Accept());
  ASSERT_TRUE(host.NegotiateTn3270());
  // Erase/Write, "AB", then the data bytes 255 239 (shown as blanks: no
  // graphic in the text set), then "CD": one record.
  ASSERT_TRUE(host.SendRecord({0xF5, 0xC3, 0xC1, 0xC2, 0xFF, 0xEF, 0xC3, 0xC4}));
  ASSERT_TRUE(b.WaitText("AB")) << b.Show();
  // 255 is no character (a blank), 239 shows as O with a tilde, all on one row.
  EXPECT_TRUE(b.Pump([&] { return !b.Lines().empty() && b.Lines()[0] == "AB \xc3\x95" "CD"; }, 5)) << b.Show();
  // A hundred kilobytes without an end, then a record of its own.
  std::string flood(100 * 1024, '\xc1');
  ASSERT_TRUE(host.SendRaw("\xf1\xc3" + flood));
  ASSERT_TRUE(host.SendRaw("\xff\xef"));
  ASSERT_TRUE(host.SendRecord({0xF5, 0xC3, 0xD5, 0xC5, 0xE7, 0xE3}));  // NEXT
  ASSERT_TRUE(b.WaitText("NEXT")) << b.Show();
  EXPECT_EQ(b.screen.Find("AAAA"), -1);
}

// Text a host sends before it has agreed to records (line-mode output) is
// shown as text; the records that follow paint the screen as usual.
TEST_F(Hosts3270, LineModeTextBeforeRecords) {
  Host3270 host;
  Browser3270 b;
  ASSERT_TRUE(b.NewSession(server->port()));
  ASSERT_EQ(kvxtest::EnvelopeCode(b.PostConfig(Config3270(host.port(), 2)).body), 0);
  ASSERT_TRUE(b.Attach());
  ASSERT_TRUE(host.Accept());
  ASSERT_TRUE(host.SendRaw("VM ONLINE\r\n"));
  ASSERT_TRUE(b.WaitText("VM ONLINE")) << b.Show();
  ASSERT_TRUE(host.NegotiateTn3270());
  ASSERT_TRUE(host.SendRecord({0xF5, 0xC3, 0xD3, 0xD6, 0xC7, 0xD6, 0xD5}));  // LOGON
  ASSERT_TRUE(b.WaitText("LOGON")) << b.Show();
  EXPECT_EQ(b.screen.Find("VM ONLINE"), -1);
}

// A real host: Hercules' console shows its logo screen, labels protected,
// values intensified; Enter reaches it (through a relay that records what
// the terminal sends).
TEST_F(Hosts3270, HerculesLogoScreen) {
  ASSERT_EQ(kvxtest::Need({"hercules"}), "");
  std::string dir = server->dir() + "/hercules";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  int consolePort = kvxtest::FreePort();
  std::ofstream(dir + "/hercules.cnf") << "CPUSERIAL 000611\nCPUMODEL 3090\nMAINSIZE 16\nNUMCPU 1\n"
                                          "ARCHMODE ESA/390\nPANRATE SLOW\nCNSLPORT 127.0.0.1:"
                                       << consolePort << "\n0010.4 3270\n";
  pid_t pid = fork();
  if (pid == 0) {
    freopen("/dev/null", "r", stdin);
    freopen((dir + "/hercules.log").c_str(), "w", stdout);
    dup2(1, 2);
    if (chdir(dir.c_str()) != 0) _exit(127);
    execlp("hercules", "hercules", "-d", "-f", "hercules.cnf", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  struct Reap {
    pid_t pid;
    ~Reap() {
      kill(pid, SIGKILL);  // it does not stop on SIGTERM while a console is connected
      waitpid(pid, nullptr, 0);
    }
  } reap{pid};
  ASSERT_TRUE(kvxtest::WaitListening(consolePort)) << "hercules did not listen";

  // The terminal talks to a relay, the relay to Hercules.
  Relay relay(consolePort);
  Browser3270 b;
  ASSERT_TRUE(b.NewSession(server->port()));
  ASSERT_EQ(kvxtest::EnvelopeCode(b.PostConfig(Config3270(relay.port(), 2, true, ",\"TE3270EnExAtt\":0")).body), 0);
  ASSERT_TRUE(b.Attach());
  ASSERT_TRUE(b.WaitText("Hercules", 20)) << b.Show();
  EXPECT_EQ(b.Status(9), "TN3270");
  // Labels are protected, values protected and intensified.
  int row = b.screen.Find("Hercules");
  std::string line = b.screen.Row(row);
  size_t label = line.find("Hercules");
  uint64_t labelCell = b.screen.Cell(static_cast<int>(label), row);
  EXPECT_TRUE(labelCell & BLK_CELL_PROTECTED);
  EXPECT_FALSE(labelCell & BLK_CELL_INTENSE);
  size_t colon = line.find(':');
  ASSERT_NE(colon, std::string::npos) << line;
  size_t value = line.find_first_not_of(' ', colon + 1);
  ASSERT_NE(value, std::string::npos) << line;
  uint64_t valueCell = b.screen.Cell(static_cast<int>(value), row);
  EXPECT_TRUE(valueCell & BLK_CELL_PROTECTED);
  EXPECT_TRUE(valueCell & BLK_CELL_INTENSE) << line;
  b.Key(13);
  ASSERT_TRUE(kvxtest::WaitFor(
      [&] {
        for (const auto& r : relay.Records())
          if (!r.empty() && r[0] == AID_ENTER) return true;
        return false;
      },
      10))
      << "Enter did not reach Hercules";
}

}  // namespace
