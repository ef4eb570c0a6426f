// IBM 3270 through the real binary: a host written here on loopback, a
// model 4 session, a WebSocket client as the browser.  Keystroke to screen
// for a field edit (key frame in, update frame with the character out),
// p50 and p99 over 500 keys; and a full 43 x 80 screen with 200 coloured
// fields from the host record to the update frame of its last row, p50
// over 200 screens.
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

// The last row an update frame covers ("left:bottom:right:top").
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

// Erase/Write Alternate: 200 coloured fields over 43 x 80 (text shifted by
// `shift`, so that two such screens differ in every row).
std::vector<uint8_t> full_screen(int shift) {
  std::vector<uint8_t> r = {0x7E, 0xC3};
  const int step = 43 * 80 / 200;
  for (int f = 0; f < 200; f++) {
    r.insert(r.end(), {0x29, 0x03, 0xC0, static_cast<uint8_t>(f % 3 ? 0x60 : 0x40), 0x42,
                       static_cast<uint8_t>(0xF1 + f % 7), 0x41, static_cast<uint8_t>(f % 5 ? 0x00 : 0xF4)});
    for (int k = 1; k < step; k++) r.push_back(static_cast<uint8_t>(0xC1 + (f + k + shift) % 9));
  }
  r.push_back(0x13);
  return r;
}

}  // namespace

int main() {
  KavrixServer server;
  Host3270 host;
  HttpResponse r = PostJson(server.port(), "/new_session", "{\"deviceId\":\"bench-3270\"}");
  std::string id = JsonText(r.body, "content.sessionId");
  int port = JsonInt(r.body, "content.port", 0);
  std::string config =
      "{\"kcf\":{\"commtype\":0,\"node\":\"127.0.0.1\",\"port\":" + std::to_string(host.port()) +
      ",\"emulate\":" + std::to_string(KVX_EM_IBM3270_MODEL4) +
      ",\"em3270idx\":2,\"TE3270EnExAtt\":1},\"connectToHost\":true}";
  WsClient ws;
  if (port <= 0 || EnvelopeCode(PostJson(server.port(), "/load_config?session=" + id, config).body) != 0 ||
      ws.Handshake(port).status != 101 || !host.Accept() || !host.NegotiateTn3270()) {
    fprintf(stderr, "bench-3270-session: no session\n");
    return 1;
  }

  // Full screens.
  std::vector<uint8_t> screens[2] = {full_screen(0), full_screen(1)};
  std::vector<double> screenTimes;
  for (int i = 0; i < kWarmUp + kScreens; i++) {
    const double t0 = bench::now();
    host.SendRecord(screens[i & 1]);
    for (;;) {
      auto f = ReceiveChannelFrame(ws, 10);
      if (!f) {
        fprintf(stderr, "bench-3270-session: screen %d never came\n", i);
        return 1;
      }
      if (update_bottom(*f) == 42) break;
    }
    if (i >= kWarmUp) screenTimes.push_back((bench::now() - t0) * 1000);
  }

  // Keys into one unprotected field that fills the screen.
  host.SendRecord({0x7E, 0xC3, 0x1D, 0x40, 0x13});
  for (;;) {
    auto f = ReceiveChannelFrame(ws, 10);
    if (!f) return 1;
    if (update_bottom(*f) == 42) break;
  }
  std::vector<double> keyTimes;
  for (int i = 0; i < kWarmUp + kKeys; i++) {
    const char c = static_cast<char>('a' + i % 26);
    const double t0 = bench::now();
    ws.Send(2, key_frame(c));
    for (;;) {
      auto f = ReceiveChannelFrame(ws, 10);
      if (!f) {
        fprintf(stderr, "bench-3270-session: key %d never showed\n", i);
        return 1;
      }
      if (update_shows(*f, c)) break;
    }
    if (i >= kWarmUp) keyTimes.push_back((bench::now() - t0) * 1000);
  }
  ws.conn.Close();
  PostJson(server.port(), "/shutdown_session?session=" + id, "{}");

  bench::line("3270 keystroke to screen, field edit, p50 (500 keys)", percentile(keyTimes, 0.5), "ms");
  bench::line("3270 keystroke to screen, field edit, p99 (500 keys)", percentile(keyTimes, 0.99), "ms");
  bench::line("3270 full 43x80 screen, host record to update frames, p50", percentile(screenTimes, 0.5), "ms");
  return 0;
}
