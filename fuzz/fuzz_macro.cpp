// Fuzz target of macro playback and dialog scripts: the input is a macro
// text (what a browser may post as the log-in macro), a NUL, then host
// output that the session's host-data pass reads in pieces; the input's
// bytes are also run directly as a dialog script against the same output.
// Afterwards playback is in a consistent state (no dialog without a macro,
// no pause without something to wait for), the dialog engine is idle or
// waits or pauses, and what was sent to the host stays within what the
// script could produce.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app.h"
#include "dialog.h"
#include "lumconnection.h"
#include "lumdict.h"
#include "macro.h"
#include "secure.h"
#include "te/te.h"

namespace {

void require(bool ok) {
  if (!ok) abort();
}

class FuzzHost : public LumConnection {
 public:
  using LumConnection::Comout;
  std::string_view pending;
  size_t written = 0;
  int MakeConnection() override { return 1; }
  bool IsConnected() override { return true; }
  void Comout(const char*, int length) override { written += static_cast<size_t>(length); }
  int Read(char* buffer, int size) override {
    // Pieces of 1 to 37 bytes, so that prompts arrive split.
    size_t n = std::min<size_t>({pending.size(), static_cast<size_t>(size), 1 + pending.size() % 37});
    memcpy(buffer, pending.data(), n);
    pending.remove_prefix(n);
    return static_cast<int>(n);
  }
  int HasData() override { return pending.empty() ? 0 : 1; }
};

app_s* session() {
  static app_s* app = [] {
    app_s* a = app_main_initialize();
    set_app(a);
    a->_dict = new LumDict();
    a->_dict->setStringForKey("user", "fuzz-user");
    char* token = kvx_set_secure("fuzz-password");
    a->_dict->setStringForKey("passwordHash", token);
    free(token);
    a->_conn = new FuzzHost();
    a->_readFD = 42;
    return a;
  }();
  return app;
}

void check_state(app_s* app) {
  require(app->macroState == MAC_IDLE || !app->macroString.empty());
  require(app->macroState != MAC_WAITING || app->macroWaitingForHash[0] || app->macroWait);
  require(app->dialogState == DLG_IDLE || app->dialogState == DLG_WAITING || app->dialogState == DLG_PAUSING);
  require(app->dialogMatchPtr < app->matchBuf.size() || app->dialogState != DLG_WAITING);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  app_s* app = session();
  FuzzHost* host = static_cast<FuzzHost*>(app->_conn);
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string macro = input.substr(0, split);
  const std::string output = split == std::string::npos ? std::string() : input.substr(split + 1);

  app_macro_playback(app, macro.c_str());
  check_state(app);
  host->pending = output;
  app_oncom(app, app->_readFD);
  app_update_timer(app);  // releases output held by a full read
  check_state(app);
  app_macro_playback_continue_with_hash(app, "0123456789abcdef0123456789abcdef");
  check_state(app);
  app_macro_stop_playback(app);
  require(!app_macro_playing(app) && app->dialogState == DLG_IDLE);

  // The same bytes as a dialog script.  Each byte of the script sends at
  // most itself, a credential with its CR, the host name or a number.
  host->written = 0;
  int r = app_dialog_start(app, input);
  for (size_t i = 0; i < output.size() && r == DLG_RUN_GOING; i++)
    r = app_dialog_run(app, static_cast<unsigned char>(output[i]));
  for (int tick = 0; tick < 4 && r == DLG_RUN_GOING; tick++) r = app_dialog_run(app, DLG_TICK);
  check_state(app);
  require(host->written <= input.size() * 16 + 64);
  app_dialog_stop(app);
  return 0;
}
