// IBM 5250 through the real binary: a host written here on loopback, a
// 27 x 132 (3477) session, a WebSocket client as the browser.  A full
// screen with 256 input fields from the host record to the update frame of
// its last row, p50 over 200 screens; and keystroke to screen for typing in
// a field (key frame in, update frame with the character out), p50 and p99
// over 500 keys.
#include <algorithm>
#include <string>
#include <vector>

#include "bench_util.h"
#include "emulation_ids.h"
#include "host3270.h"
#include "kvx_test.h"

using namespace kvxtest;

namespace {

constexpr int kKeys = 500, kScreens = 200, kWarmUp = 20;
constexpr int kLastRow = 27;  // 27 rows and the message row

std::string key_frame(int key) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; i++) data[static_cast<size_t>(i)] = static_cast<char>((key >> (8 * i)) & 0xFF);
  return ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, data);
}

bool update_shows(const ChannelFrame& f, char c) {
  if (f.action != KVX_HOST_ACTION_UPDATE) return false;
  for (size_t i = 0; i + 8 <= f.data.size(); i += 8)
    if (f.data[i] == c) return true;
  return false;
}

int update_bottom(const ChannelFrame& f) {
  int l, b, r, t;
  if (f.action != KVX_HOST_ACTION_UPDATE || f.fields.empty() ||
      sscanf(f.fields[0].c_str(), "%d:%d:%d:%d", &l, &b, &r, &t) != 4)
    return -1;
  return b;
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

std::vector<uint8_t> record(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> r = {0, 0, 0x12, 0xA0, 0, 0, 4, 0, 0, 3};
  r.insert(r.end(), data.begin(), data.end());
  r[0] = static_cast<uint8_t>(r.size() >> 8);
  r[1] = static_cast<uint8_t>(r.size());
  return r;
}

// Clear Unit Alternate and a Write To Display filling every row with text
// (shifted by `shift`, so that two such screens differ in every row) and
// 256 input fields in two colours, then Read MDT.
std::vector<uint8_t> full_screen(int shift) {
  std::vector<uint8_t> d = {0x04, 0x20, 0x00, 0x04, 0x11, 0x00, 0x08};
  for (int row = 1; row <= 27; row++) {
    d.insert(d.end(), {0x11, static_cast<uint8_t>(row), 0x01, static_cast<uint8_t>(row % 2 ? 0x22 : 0x3A)});
    for (int c = 0; c < 131; c++) d.push_back(static_cast<uint8_t>(0xC1 + (row + c + shift) % 9));
  }
  for (int f = 0; f < 256; f++) {
    const int row = 1 + f / 10, col = 2 + (f % 10) * 13;
    d.insert(d.end(), {0x11, static_cast<uint8_t>(row), static_cast<uint8_t>(col), 0x1D, 0x40, 0x00,
                       static_cast<uint8_t>(f % 2 ? 0x24 : 0x28), 0x00, 0x0A});
    for (int k = 0; k < 10; k++) d.push_back(static_cast<uint8_t>(0xF0 + (k + shift) % 10));
  }
  d.insert(d.end(), {0x04, 0x52, 0x00, 0x00});
  return record(d);
}

// The host's side of the 5250 telnet negotiation.
bool negotiate(Host3270& host) {
  return host.SendRaw("\xff\xfd\x18") && host.Expect("\xff\xfb\x18") &&
         host.SendRaw("\xff\xfa\x18\x01\xff\xf0") && host.Expect(std::string("\xff\xfa\x18\x00", 4)) &&
         host.SendRaw(std::string("\xff\xfd\x19\xff\xfb\x19\xff\xfd\x00\xff\xfb\x00", 12)) &&
         host.Expect("\xff\xfb\x19") && host.Expect("\xff\xfd\x19") &&
         host.Expect(std::string("\xff\xfb\x00", 3)) && host.Expect(std::string("\xff\xfd\x00", 3));
}

bool wait_bottom(WsClient& ws, int row) {
  for (;;) {
    auto f = ReceiveChannelFrame(ws, 10);
    if (!f) return false;
    if (update_bottom(*f) == row) return true;
  }
}

}  // namespace

int main() {
  KavrixServer server;
  Host3270 host;
  HttpResponse r = PostJson(server.port(), "/new_session", "{\"deviceId\":\"bench-5250\"}");
  std::string id = JsonText(r.body, "content.sessionId");
  int port = JsonInt(r.body, "content.port", 0);
  std::string config =
      "{\"kcf\":{\"commtype\":0,\"node\":\"127.0.0.1\",\"port\":" + std::to_string(host.port()) +
      ",\"emulate\":" + std::to_string(KVX_EM_IBM5250_3477) + ",\"em5250idx\":1},\"connectToHost\":true}";
  WsClient ws;
  if (port <= 0 || EnvelopeCode(PostJson(server.port(), "/load_config?session=" + id, config).body) != 0 ||
      ws.Handshake(port).status != 101 || !host.Accept() || !negotiate(host)) {
    fprintf(stderr, "bench-5250-session: no session\n");
    return 1;
  }

  std::vector<uint8_t> screens[2] = {full_screen(0), full_screen(1)};
  std::vector<double> screenTimes;
  for (int i = 0; i < kWarmUp + kScreens; i++) {
    const double t0 = bench::now();
    host.SendRecord(screens[i & 1]);
    if (!wait_bottom(ws, kLastRow)) {
      fprintf(stderr, "bench-5250-session: screen %d never came\n", i);
      return 1;
    }
    if (i >= kWarmUp) screenTimes.push_back((bench::now() - t0) * 1000);
  }

  // Keys into one input field of 3000 cells from row 2.
  host.SendRecord(record({0x04, 0x20, 0x00, 0x04, 0x11, 0x00, 0x08, 0x11, 0x01, 0x01,
                          0x1D, 0x40, 0x00, 0x24, 0x0B, 0xB8, 0x04, 0x52, 0x00, 0x00}));
  if (!wait_bottom(ws, kLastRow)) return 1;
  std::vector<double> keyTimes;
  for (int i = 0; i < kWarmUp + kKeys; i++) {
    const char c = static_cast<char>('a' + i % 26);
    const double t0 = bench::now();
    ws.Send(2, key_frame(c));
    for (;;) {
      auto f = ReceiveChannelFrame(ws, 10);
      if (!f) {
        fprintf(stderr, "bench-5250-session: key %d never showed\n", i);
        return 1;
      }
      if (update_shows(*f, c)) break;
    }
    if (i >= kWarmUp) keyTimes.push_back((bench::now() - t0) * 1000);
  }
  ws.conn.Close();
  PostJson(server.port(), "/shutdown_session?session=" + id, "{}");

  bench::line("5250 full 27x132 screen, 256 fields, host record to update frames, p50",
              percentile(screenTimes, 0.5), "ms");
  bench::line("5250 keystroke to screen, field entry, p50 (500 keys)", percentile(keyTimes, 0.5), "ms");
  bench::line("5250 keystroke to screen, field entry, p99 (500 keys)", percentile(keyTimes, 0.99), "ms");
  return 0;
}
