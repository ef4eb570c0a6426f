// A session object with its character-mode terminal and drawing handle,
// made the way the session process makes them, for the settings,
// emulation and platform tests.  Runs in the repository root so that the
// code-page file "codepage.dat" is found; records what the session core
// would be asked to do; captures trace lines in a file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app.h"
#include "emulation.h"
#include "lumdict.h"
#include "platform.h"
#include "settings.h"
#include "tetrace.h"

// Trace lines of the categories given, written to a temporary file.
class TraceCapture {
 public:
  explicit TraceCapture(uint32_t mask) {
    char path[] = "/tmp/kvx-settings-trace-XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0) close(fd);
    path_ = path;
    oldRoute_ = TE_Trace_SetRoute(TRACE_ROUTE_FILE);
    oldMask_ = TE_Trace_SetMask(mask);
    TE_Trace_SetOutputFile(path_.c_str());
  }
  ~TraceCapture() {
    TE_Trace_SetRoute(oldRoute_);
    TE_Trace_SetMask(oldMask_);
    unlink(path_.c_str());
  }
  std::vector<std::string> lines() const {
    TE_Trace_SetOutputFile(path_.c_str());  // flushes by closing
    std::ifstream in(path_);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  void clear() {
    TE_Trace_SetOutputFile(path_.c_str());
    std::ofstream(path_, std::ios::trunc);
  }

 private:
  std::string path_;
  int oldRoute_;
  uint32_t oldMask_;
};

// A returned text taken over (and freed): nullopt for null.
inline std::optional<std::string> Taken(char* text) {
  if (!text) return std::nullopt;
  std::string out(text);
  free(text);
  return out;
}

// What the settings asked of the session core.
struct CoreCalls {
  std::vector<std::pair<int, int>> remoteRows;  // update_remote_rows
  int clears = 0;                               // clear_emulator
  int timers = 0;                               // ontimer
};

class SessionFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(chdir(KVX_SOURCE_DIR), 0);
    calls_ = &calls;
    app_platform_hooks hooks;
    hooks.update_remote_rows = [](app_s*, int rows, int cols) {
      calls_->remoteRows.emplace_back(rows, cols);
    };
    hooks.clear_emulator = [](app_s*) { calls_->clears++; };
    hooks.ontimer = [](app_s*) { calls_->timers++; };
    app_set_platform_hooks(&hooks);
    // Creation: drawing handle and invisible screen, the terminal, the
    // client rectangle, then the one resize of the drawing layer.
    app.pgl = wininit(&app);
    winopen(app.pgl, nullptr, 768, 600);
    app.lpte = TESimpleInit(nullptr, app.pgl, 7);
    ASSERT_NE(app.lpte, nullptr);
    app.lpte->app = &app;
    wingetclientrect(app.pgl, nullptr, nullptr, &app.winw, &app.winh);
    winresize(app.pgl, app.winw, app.winh);
    calls.remoteRows.clear();
  }
  void TearDown() override {
    app_set_platform_hooks(nullptr);
    delete app._dict;
    TEDestroy(app.lpte);
    winfreepgl(app.pgl);
  }

  // A dictionary from "key=value" pairs.
  static LumDict* Dict(std::initializer_list<std::pair<const char*, const char*>> entries) {
    LumDict* d = new LumDict();
    for (const auto& [k, v] : entries) d->setStringForKey(k, v);
    return d;
  }

  te* t() { return app.lpte; }

  app_s app;
  CoreCalls calls;
  static inline CoreCalls* calls_ = nullptr;
};
