// IBM 5250 station: a full 27 x 132 screen with 256 input fields from host
// record to painted window, and one keystroke in a field to painted window
// (the engine's part of keystroke-to-screen), each a median over many runs.
#include <cstdint>
#include <vector>

#include "bench_util.h"
#include "te5250.h"
#include "te5250_session.h"
#include "te5250_window.h"

namespace {

int discard(void*, const uint8_t*, int length) {
  return length;
}

// Clear Unit Alternate and a Write To Display that fills every cell: 256
// fields of 10 cells with their labels, and text around them.
std::vector<uint8_t> big_screen() {
  std::vector<uint8_t> d = {0x04, 0x20, 0x00, 0x04, 0x11, 0x00, 0x08};
  for (int row = 1; row <= 27; row++) {
    d.insert(d.end(), {0x11, static_cast<uint8_t>(row), 0x01, 0x22});
    for (int c = 0; c < 131; c++) d.push_back(static_cast<uint8_t>(0xC1 + (row + c) % 9));
  }
  for (int f = 0; f < 256; f++) {
    const int row = 1 + f / 10, col = 2 + (f % 10) * 13;
    d.insert(d.end(), {0x11, static_cast<uint8_t>(row), static_cast<uint8_t>(col), 0x1D, 0x40, 0x00,
                       static_cast<uint8_t>(f % 2 ? 0x24 : 0x25), 0x00, 0x0A});
    for (int k = 0; k < 10; k++) d.push_back(static_cast<uint8_t>(0xF0 + k));
  }
  d.insert(d.end(), {0x04, 0x52, 0x00, 0x00});
  std::vector<uint8_t> r = {0, 0, 0x12, 0xA0, 0, 0, 4, 0, 0, 3};
  r.insert(r.end(), d.begin(), d.end());
  r[0] = static_cast<uint8_t>(r.size() >> 8);
  r[1] = static_cast<uint8_t>(r.size());
  return r;
}

}  // namespace

int main() {
  fws_window window;
  CFwsCtrl view(&window);
  CTe5250Ctrl ctrl;
  ctrl.SetView(&view);
  ctrl.SetSendHook(discard, nullptr);
  ctrl.OnConnect();
  const std::vector<uint8_t> record = big_screen();
  ctrl.GotData(record.data(), record.size(), true);
  if (ctrl.m_pSession->m_Fields->Count() != 256 || window.NumberColumns != 132) {
    std::fprintf(stderr, "bench-5250: the screen did not build\n");
    return 1;
  }
  const double screen = bench::median_seconds(400, [&] { ctrl.GotData(record.data(), record.size(), true); });
  bench::line("5250 27x132 screen, 256 fields: record to window", screen * 1e6, "us");

  // Keystrokes: a character into the first field, then back, each painted.
  int n = 0;
  const double key = bench::median_seconds(4000, [&] {
    if (n++ % 2)
      ctrl.ProcessKey(K5250_BACKSPACE);
    else
      ctrl.ProcessChar('7');
  });
  if (n % 2) ctrl.ProcessKey(K5250_BACKSPACE);
  ctrl.ProcessChar('7');
  if (ctrl.m_pSession->m_State != STATE_UNLOCKED || ctrl.m_pSession->m_CharBuffer[2] != 0xF7 ||
      fws_charat(&window, window.NumberLines - 1, 2) != '7') {
    std::fprintf(stderr, "bench-5250: the keys were refused (state %d)\n", ctrl.m_pSession->m_State);
    return 1;
  }
  bench::line("5250 keystroke in a field to window", key * 1e6, "us");
  return 0;
}
