// libFuzzer target: arbitrary host bytes, arbitrarily split, through the
// telnet parser.  Checks that the output stays within its buffer, that the
// answers stay proportionate to the input, and that splitting changes
// nothing.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "telnetparser.h"

static LumTelnetSettings fuzz_settings(uint8_t selector) {
  LumTelnetSettings s;
  s.emName = (selector & 1) ? "IBM-3278-2-E" : "vt220";
  s.devName = (selector & 2) ? "LU01" : "";
  s.tn3270Mode = (selector & 4) != 0;
  s.tn5250Mode = (selector & 8) != 0;
  s.useSSL = (selector & 16) != 0;
  return s;
}

struct FuzzRun {
  std::string data, replies;
};

static void fuzz_feed(LumTelnetParser& p, const uint8_t* in, size_t n, FuzzRun& run) {
  std::vector<unsigned char> buf(n + 1);
  std::copy(in, in + n, buf.begin() + 1);
  int consumed = 0;
  int out = p.Feed(buf.data() + 1, static_cast<int>(n), buf.data(), &consumed);
  if (out < 0 || out > static_cast<int>(n) + 1 || consumed < 0 || consumed > static_cast<int>(n)) abort();
  run.data.append(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(out));
  run.replies += p.replies();
  p.clearReplies();
  if (p.startTlsRequested()) p.setTlsActive(true);  // as the connection does
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  LumTelnetSettings settings = fuzz_settings(data[0]);
  size_t step = 1 + data[1] % 16;
  data += 2;
  size -= 2;

  LumTelnetParser whole;
  whole.Configure(settings);
  FuzzRun a;
  fuzz_feed(whole, data, size, a);
  if (a.replies.size() > 64 * size + 256) abort();

  LumTelnetParser split;
  split.Configure(settings);
  FuzzRun b;
  for (size_t pos = 0; pos < size; pos += step) fuzz_feed(split, data + pos, std::min(step, size - pos), b);
  // Splitting may only differ after a START_TLS switch, where the rest of a
  // read belongs to TLS; without one, both runs agree byte for byte.
  if (!whole.tlsActive() && !split.tlsActive() && (a.data != b.data || a.replies != b.replies)) abort();
  return 0;
}
