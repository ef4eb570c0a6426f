// What a playing log-in macro costs the host-data path: 8 MiB of shell-like
// output through the session's host-data pass (app_oncom, the terminal
// included) with no macro, and with a macro whose dialog waits for a text
// that never comes, so that every byte also goes through the wait matcher;
// and the wait matcher alone, in reads of 1024 bytes.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "app.h"
#include "bench_util.h"
#include "dialog.h"
#include "lumconnection.h"
#include "lumdict.h"
#include "macro.h"

namespace {

class Host : public LumConnection {
 public:
  using LumConnection::Comout;
  std::string_view pending;
  int MakeConnection() override { return 1; }
  bool IsConnected() override { return true; }
  void Comout(const char*, int) override {}
  int Read(char* buffer, int size) override {
    size_t n = std::min(pending.size(), static_cast<size_t>(size));
    memcpy(buffer, pending.data(), n);
    pending.remove_prefix(n);
    return static_cast<int>(n);
  }
  int HasData() override { return pending.empty() ? 0 : 1; }
};

std::string output() {
  std::string s;
  const char* words[] = {"drwxr-xr-x", "2", "root", "4096", "Dec", "10", "11:19", "login", "Password", "$"};
  for (unsigned i = 0; s.size() < (8u << 20); i++) {
    s += words[i % 10];
    s += (i % 9 == 8) ? "\r\n" : " ";
  }
  return s;
}

}  // namespace

int main() {
  app_s* app = app_main_initialize();
  set_app(app);
  app->_dict = new LumDict();
  Host* host = new Host();
  app->_conn = host;
  app->_readFD = 42;
  const std::string text = output();
  const double mib = static_cast<double>(text.size()) / (1 << 20);

  auto pass = [&] {
    host->pending = text;
    while (!host->pending.empty()) {
      app_oncom(app, app->_readFD);
      app_update_timer(app);  // releases the output a full read holds
    }
  };
  const double plain = bench::median_seconds(5, pass);
  app_macro_playback(app, "E 1\nw this text never appears in the output\np");
  const double waiting = bench::median_seconds(5, pass);
  if (!app_macro_playing(app)) return 1;  // the wait must still be on
  app_macro_stop_playback(app);
  bench::line("host data, no macro", mib / plain, "MiB/s");
  bench::line("host data, macro waiting", mib / waiting, "MiB/s");

  const double matcher = bench::median_seconds(5, [&] {
    app_dialog_start(app, "\x13this text never appears in the output\x13");
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    size_t used;
    for (size_t i = 0; i < text.size(); i += 1024)
      app_dialog_feed(app, bytes + i, std::min<size_t>(1024, text.size() - i), &used);
  });
  app_dialog_stop(app);
  bench::line("dialog wait matcher", mib / matcher, "MiB/s");
  return 0;
}
