// A session with a scripted host for the dialog and macro tests: host
// output goes through the session's host-data pass (app_oncom) as the read
// watch would hand it over, what the session sends is recorded, and the
// dialog scripts' ticks run on an event loop of the test.
#pragma once

#include <event2/event.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>

#include "app.h"
#include "dialog.h"
#include "emulation_ids.h"
#include "lumconnection.h"
#include "lumdict.h"
#include "macro.h"
#include "platform.h"
#include "secure.h"
#include "settings.h"
#include "te/te.h"

class ScriptedHost : public LumConnection {
 public:
  using LumConnection::Comout;
  std::deque<std::string> reads;  // each Read hands out the front chunk
  std::string written;
  int MakeConnection() override { return 1; }
  bool IsConnected() override { return true; }
  void Comout(const char* bytes, int length) override { written.append(bytes, static_cast<size_t>(length)); }
  int Read(char* buffer, int size) override {
    if (reads.empty()) return 0;
    std::string& chunk = reads.front();
    const int n = std::min<int>(size, static_cast<int>(chunk.size()));
    memcpy(buffer, chunk.data(), static_cast<size_t>(n));
    chunk.erase(0, static_cast<size_t>(n));
    if (chunk.empty()) reads.pop_front();
    return n;
  }
};

class MacroSession : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(chdir(KVX_SOURCE_DIR), 0);
    app = app_main_initialize();
    set_app(app);
    ASSERT_NE(app->lpte, nullptr);
    base = event_base_new();
    app->evbase = base;
    dict = new LumDict();
    dict->setIntForKey("emulate", KVX_EM_XTERM);
    dict->setStringForKey("MBMode", "1");
    dict->setStringForKey("lines", "24");
    dict->setStringForKey("col", "80");
    app->_dict = dict;
    app_set_te_safe_values(app, dict);
    app_clear_emulator(app);
    host = new ScriptedHost();
    app->_conn = host;
    app->_readFD = 42;
  }
  void TearDown() override {
    app_macro_stop_playback(app);
    if (app->macroTimer) event_free(app->macroTimer);
    app->macroTimer = nullptr;
    app->_conn = nullptr;
    delete host;
    app->evbase = nullptr;
    event_base_free(base);
    app_set_macro_directory(nullptr);
    delete app->_dict;
    TEDestroy(app->lpte);
    winfreepgl(app->pgl);
    delete app;
    gApp = nullptr;
  }

  // Host output through the session's host-data pass, one read per chunk.
  void Host(const std::string& bytes) {
    host->reads.push_back(bytes);
    app_oncom(app, app->_readFD);
  }
  // What the session sent since the last call.
  std::string Sent() {
    std::string s = host->written;
    host->written.clear();
    return s;
  }
  // Runs the event loop until `done` holds (false after `seconds`).
  bool Loop(const std::function<bool()>& done, double seconds = 10) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      timeval slice = {0, 20000};
      event_base_loopexit(base, &slice);
      event_base_dispatch(base);
    }
    return true;
  }
  // Text of a screen row, trailing blanks dropped.
  std::string Row(int y) {
    te* t = app->lpte;
    std::string s;
    for (int x = 0; x < t->vcols; x++) {
      uint32_t cp = vid_cell_unicode(t, t->_vscreen[y][x]);
      s.push_back(cp >= 0x20 && cp < 0x80 ? static_cast<char>(cp) : ' ');
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }
  // The token of a secret put in the secure store.
  static std::string Secret(const std::string& value) {
    char* token = kvx_set_secure(value.c_str());
    std::string s = token ? token : "";
    free(token);
    return s;
  }

  app_s* app = nullptr;
  event_base* base = nullptr;
  LumDict* dict = nullptr;
  ScriptedHost* host = nullptr;
};
