// Each browser's own view of the scrollback, over socket pairs: the rows it
// is sent as its view moves (read from the ring, the shared screen never
// moved), one row on the wire for a one-row step, the view staying on its
// rows while the host writes on and coming back live with what changed,
// other browsers live throughout; and what a browser is told besides: line
// attributes, modes and size, the host's title and the bell.
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app.h"
#include "channel.h"
#include "emulation.h"
#include "emulation_ids.h"
#include "kvx_test.h"
#include "platform.h"
#include "te/te.h"
#include "vid/vtext.h"

namespace {

using kvxtest::ChannelDecode;
using kvxtest::ChannelFrame;

// One browser: its socket pair, and the screen it shows, rebuilt from the
// frames as the page does (SCROLLBACK moves the rows, UPDATE fills cells).
struct Browser {
  bufferevent* pair[2] = {};
  kvx_client_t* client = nullptr;
  std::string bytes;
  std::vector<std::string> rows;     // text of each row shown
  std::vector<unsigned char> lines;  // line attributes shown
  int back = 0, kept = 0;
  int rowsSent = 0;  // rows of cells received
};

class View : public testing::Test {
 protected:
  void SetUp() override {
    base = event_base_new();
    app = app_main_initialize();
    set_app(app);
    app->evbase = base;
    kvx_update_attach(app);
    t = app->lpte;
    ASSERT_NE(t, nullptr);
    SetEmOutCP(t, KVX_SOURCE_DIR "/codepage.dat", "1250");
    app_set_rowscols(app, kRows, kCols);
    vscreen_invalidate(t);
  }
  void TearDown() override {
    for (Browser* b : browsers) {
      kvx_client_free(b->client);
      bufferevent_free(b->pair[1]);
      delete b;
    }
    app->kvx_clients.clear();
    app_set_channel_ops(nullptr);
    TEDestroy(app->lpte);
    winfreepgl(app->pgl);
    delete app;
    gApp = nullptr;
    event_base_free(base);
  }

  // A browser that has asked for the screen and where its view stands, as
  // the page does on attaching.
  Browser* Attach() {
    Browser* b = new Browser;
    bufferevent_pair_new(base, 0, b->pair);
    b->client = kvx_client_new(app, b->pair[0]);
    b->client->proto = TE_CTRL_RAW;
    b->client->init = true;
    bufferevent_setcb(b->pair[0], nullptr, handle_socket_write, nullptr, b->client);
    bufferevent_enable(b->pair[0], EV_READ | EV_WRITE);
    bufferevent_enable(b->pair[1], EV_READ);
    // What the browser does not take in piles up on the channel's side.
    bufferevent_setwatermark(b->pair[1], EV_READ, 0, kReadLimit);
    app->kvx_clients.push_back(b->client);
    browsers.push_back(b);
    b->rows.assign(kRows, "");
    b->lines.assign(kRows, 0);
    b->client->screenSent = true;
    kvx_send_screen(app, b->client);
    kvx_view_scroll(app, b->client, 0);
    Frames(b);
    return b;
  }

  // Frames that reached the browser since the last call, applied to what it shows.
  std::vector<ChannelFrame> Frames(Browser* b) {
    for (int i = 0; i < 50; i++) event_base_loop(base, EVLOOP_NONBLOCK);
    evbuffer* in = bufferevent_get_input(b->pair[1]);
    size_t n = evbuffer_get_length(in);
    std::string more(n, '\0');
    evbuffer_remove(in, more.data(), n);
    b->bytes += more;
    std::vector<ChannelFrame> out;
    while (auto f = ChannelDecode(b->bytes)) {
      Apply(b, *f);
      out.push_back(*f);
    }
    return out;
  }

  static void Apply(Browser* b, const ChannelFrame& f) {
    if (f.action == KVX_HOST_ACTION_SCROLLBACK) {
      ASSERT_EQ(f.fields.size(), 3u);
      b->back = std::stoi(f.fields[0]);
      b->kept = std::stoi(f.fields[1]);
      const int shift = std::stoi(f.fields[2]);
      const int height = static_cast<int>(b->rows.size());
      // At most a whole height: then every row is sent again.
      ASSERT_LE(std::abs(shift), height);
      std::vector<std::string> rows(height, "?");
      std::vector<unsigned char> lines(height, 0);
      for (int r = 0; r < height; r++)
        if (r - shift >= 0 && r - shift < height) {
          rows[r] = b->rows[r - shift];
          lines[r] = b->lines[r - shift];
        }
      b->rows = rows;
      b->lines = lines;
    } else if (f.action == KVX_HOST_ACTION_UPDATE) {
      int l, bottom, r, top;
      ASSERT_EQ(sscanf(f.fields[0].c_str(), "%d:%d:%d:%d", &l, &bottom, &r, &top), 4);
      ASSERT_EQ(f.data.size(), static_cast<size_t>((r - l + 1) * (bottom - top + 1)) * 8);
      ASSERT_LT(static_cast<size_t>(bottom), b->rows.size());
      for (int y = top, i = 0; y <= bottom; y++) {
        std::string& row = b->rows[y];
        row.resize(std::max(row.size(), static_cast<size_t>(r) + 1), ' ');
        for (int x = l; x <= r; x++, i++) {
          uint64_t v = 0;
          for (int k = 7; k >= 0; k--) v = (v << 8) | static_cast<unsigned char>(f.data[i * 8 + k]);
          const uint32_t cp = (v >> 63) ? static_cast<uint32_t>((v >> 32) & 0x7FFFFFFF) : 0;
          row[x] = cp >= 0x20 && cp < 0x7F ? static_cast<char>(cp) : ' ';
        }
        while (!row.empty() && row.back() == ' ') row.pop_back();
        b->rowsSent++;
      }
    } else if (f.action == KVX_HOST_ACTION_MODES) {
      ASSERT_EQ(f.fields.size(), 5u);
      b->rows.resize(std::stoul(f.fields[2]));
      b->lines.resize(std::stoul(f.fields[2]));
    } else if (f.action == KVX_HOST_ACTION_LINES) {
      const int first = std::stoi(f.fields[0]);
      ASSERT_LE(first + f.data.size(), b->lines.size());
      for (size_t i = 0; i < f.data.size(); i++) b->lines[first + i] = static_cast<unsigned char>(f.data[i]);
    }
  }

  // What the view n rows back holds, read from the engine.
  std::vector<std::string> Expected(int n) {
    std::vector<std::string> rows;
    for (int r = 0; r < t->vlines; r++) {
      const int above = n - r;  // rows above the live screen
      const CHATTR* row = above > 0 ? sb_row(t, above) : t->_vscreen[r - n];
      std::string text = row ? vid_rowtext(t, row, t->vcols) : "";
      while (!text.empty() && text.back() == ' ') text.pop_back();
      rows.push_back(text);
    }
    return rows;
  }

  void Write(const std::string& bytes) { TEemwrite(t, bytes.data(), bytes.size()); }
  void Lines(int from, int to) {
    for (int i = from; i <= to; i++) Write("\r\nline " + std::to_string(i));
  }
  static int Count(const std::vector<ChannelFrame>& frames, int action) {
    int n = 0;
    for (const auto& f : frames) n += f.action == action;
    return n;
  }

  static constexpr int kRows = 10, kCols = 40;
  static constexpr size_t kReadLimit = 1u << 20;
  event_base* base = nullptr;
  app_s* app = nullptr;
  te* t = nullptr;
  std::vector<Browser*> browsers;
};

TEST_F(View, MovesSendOnlyTheRowsThatCameIntoView) {
  Lines(1, 60);
  kvx_send_region(app, nullptr);
  Browser* b = Attach();
  const int kept = t->_sb->sblastline;
  ASSERT_EQ(b->kept, kept) << "told when it attached";
  ASSERT_GT(kept, 40);
  ASSERT_EQ(b->rows, Expected(0));
  // Steps of one row cost one row; jumps cost at most a screen; the ends
  // are clamped.
  struct Move {
    int n, rows, back;
  } moves[] = {
      {1, 1, 1},
      {2, 1, 2},
      {3, 1, 3},
      {2, 1, 2},
      {7, 5, 7},
      {30, kRows, 30},
      {31, 1, 31},
      {kept + 9, kRows, kept},
      {kept - 1, 1, kept - 1},
      {1, kRows, 1},
      {0, 1, 0},
      {12, kRows, 12},
      {0, kRows, 0},
  };
  for (const Move& m : moves) {
    b->rowsSent = 0;
    kvx_view_scroll(app, b->client, m.n);
    auto frames = Frames(b);
    ASSERT_EQ(Count(frames, KVX_HOST_ACTION_SCROLLBACK), 1) << m.n;
    EXPECT_EQ(b->back, m.back) << m.n;
    EXPECT_EQ(b->kept, kept);
    EXPECT_EQ(b->rowsSent, m.rows) << "move to " << m.n;
    EXPECT_EQ(b->rows, Expected(m.back)) << "move to " << m.n;
    // Nobody else's screen moved: the engine stays live.
    EXPECT_EQ(t->_sb->sbcurline, 0);
  }
  // Back at the live screen, the cursor is told again.
  kvx_view_scroll(app, b->client, 4);
  Frames(b);
  kvx_view_scroll(app, b->client, 0);
  EXPECT_EQ(Count(Frames(b), KVX_HOST_ACTION_SET_CURSOR), 1);
}

TEST_F(View, HostOutputWhileLookingBackShowsOnReturnAndOthersStayLive) {
  Lines(1, 60);
  kvx_send_region(app, nullptr);
  Browser* looking = Attach();
  Browser* live = Attach();
  kvx_view_scroll(app, looking->client, 20);
  Frames(looking);
  const auto view = looking->rows;

  Lines(61, 63);
  kvx_send_region(app, nullptr);
  kvx_send_cursor_state(app, nullptr);
  auto frames = Frames(looking);
  EXPECT_EQ(Count(frames, KVX_HOST_ACTION_UPDATE), 0);
  EXPECT_EQ(Count(frames, KVX_HOST_ACTION_SET_CURSOR), 0);
  ASSERT_EQ(Count(frames, KVX_HOST_ACTION_SCROLLBACK), 1);
  EXPECT_EQ(looking->back, 23) << "the view stays on its rows, three more now below it";
  EXPECT_EQ(looking->rows, view);
  EXPECT_EQ(looking->rows, Expected(23));
  Frames(live);
  EXPECT_EQ(live->rows, Expected(0));
  EXPECT_EQ(live->back, 0);

  // One row nearer: one row, though the live screen moved meanwhile.
  looking->rowsSent = 0;
  kvx_view_scroll(app, looking->client, 22);
  Frames(looking);
  EXPECT_EQ(looking->rowsSent, 1);
  EXPECT_EQ(looking->rows, Expected(22));

  // Back to live: what the host wrote is there.
  kvx_view_scroll(app, looking->client, 0);
  Frames(looking);
  EXPECT_EQ(looking->rows, Expected(0));
  EXPECT_EQ(looking->rows.back(), "line 63");
  EXPECT_EQ(looking->rows, live->rows);

  // Part of the view is live screen: a row changed there in place comes
  // again with the next move, and so does one changed but not yet sent.
  kvx_view_scroll(app, looking->client, 3);
  Frames(looking);
  Write("\x1b[5;1Hchanged in place");
  kvx_send_region(app, nullptr);
  Frames(looking);
  kvx_view_scroll(app, looking->client, 2);
  Frames(looking);
  EXPECT_EQ(looking->rows, Expected(2));
  kvx_view_scroll(app, looking->client, 0);
  Frames(looking);
  Write("\x1b[6;1Hheld back");
  kvx_view_scroll(app, looking->client, 1);
  Frames(looking);
  EXPECT_EQ(looking->rows, Expected(1));
}

TEST_F(View, ABrowserThatAsksWithoutReadingStaysBoundedAndGetsItsLastView) {
  Lines(1, 200);
  kvx_send_region(app, nullptr);
  Browser* b = Attach();
  // Pages asked for again and again, nothing read: the output stops growing.
  bufferevent_disable(b->pair[1], EV_READ);
  size_t pending = 0;
  for (int i = 0; i < 4000; i++) {
    kvx_view_scroll(app, b->client, 20 + (i % 2) * 40);
    for (int k = 0; k < 5; k++) event_base_loop(base, EVLOOP_NONBLOCK);
    pending = evbuffer_get_length(bufferevent_get_output(b->client->bev));
  }
  EXPECT_TRUE(b->client->needScreen);
  EXPECT_LE(pending, kKvxOutputHighWater + 4096);
  kvx_view_scroll(app, b->client, 33);
  EXPECT_EQ(evbuffer_get_length(bufferevent_get_output(b->client->bev)), pending);
  // Reading again, it gets the view it asked for last, whole.
  bufferevent_enable(b->pair[1], EV_READ);
  for (int i = 0; i < 2000 && (b->client->needScreen || b->back != 33); i++) Frames(b);
  EXPECT_FALSE(b->client->needScreen);
  EXPECT_EQ(b->back, 33);
  EXPECT_EQ(b->rows, Expected(33));
}

TEST_F(View, ANewSizeOrTheAlternateScreenEndsTheLookBack) {
  Lines(1, 40);
  kvx_send_region(app, nullptr);
  Browser* b = Attach();
  struct Case {
    const char* what;
    std::function<void()> change;
    int kept;
  } cases[] = {
      {"resize", [&] { app_set_rowscols(app, kRows, kCols - 2); }, -1},
      {"alternate screen", [&] { Write("\x1b[?1049h"); }, 0},
  };
  for (const Case& c : cases) {
    kvx_view_scroll(app, b->client, 5);
    Frames(b);
    ASSERT_EQ(b->back, 5) << c.what;
    c.change();
    kvx_send_region(app, nullptr);
    auto frames = Frames(b);
    EXPECT_EQ(b->back, 0) << c.what;
    if (c.kept >= 0) {
      EXPECT_EQ(b->kept, c.kept) << c.what;
    }
    EXPECT_GT(Count(frames, KVX_HOST_ACTION_UPDATE), 0) << c.what;
    EXPECT_EQ(Count(frames, KVX_HOST_ACTION_SET_CURSOR), 1) << c.what;
  }
  // Nothing to look back at on the alternate screen: asking stays live.
  kvx_view_scroll(app, b->client, 3);
  Frames(b);
  EXPECT_EQ(b->back, 0);
}

TEST_F(View, ABlockModeScreenEndsTheLookBackAndCharacterModeStartsItAnew) {
  Lines(1, 40);
  kvx_send_region(app, nullptr);
  Browser* b = Attach();
  kvx_send_cursor_state(app, b->client);
  kvx_view_scroll(app, b->client, 5);
  Frames(b);
  ASSERT_EQ(b->back, 5);
  // An IBM 3270 model 2 replaces the character-mode screen: the view is
  // live (no scrollback there) and the block-mode cursor reaches it.
  b->rows.assign(64, "");
  b->lines.assign(64, 0);
  app_set_emulation(app, KVX_EM_IBM3270_MODEL2);
  ASSERT_NE(app->emlib, EM_UNIX);
  kvx_send_cursor_state(app, nullptr);
  auto frames = Frames(b);
  EXPECT_EQ(b->back, 0);
  EXPECT_EQ(b->kept, 0);
  EXPECT_GT(Count(frames, KVX_HOST_ACTION_UPDATE), 0);
  EXPECT_EQ(Count(frames, KVX_HOST_ACTION_SET_CURSOR), 1);
  kvx_view_scroll(app, b->client, 3);
  Frames(b);
  EXPECT_EQ(b->back, 0);
  // Character mode again: told the rows kept and the modes anew, and it
  // can look back as before.
  app_set_emulation(app, KVX_EM_XTERM);
  ASSERT_EQ(app->emlib, EM_UNIX);
  kvx_send_region(app, nullptr);
  frames = Frames(b);
  EXPECT_EQ(Count(frames, KVX_HOST_ACTION_MODES), 1);
  EXPECT_EQ(b->kept, t->_sb->sblastline);
  kvx_view_scroll(app, b->client, 5);
  Frames(b);
  EXPECT_EQ(b->back, 5);
  EXPECT_EQ(b->rows, Expected(5));
}

TEST_F(View, ModesSizeAndLineAttributesFollowTheScreen) {
  Browser* b = Attach();
  auto modes = [&](const std::vector<ChannelFrame>& frames) {
    std::string last;
    for (const auto& f : frames)
      if (f.action == KVX_HOST_ACTION_MODES) {
        last.clear();
        for (const auto& field : f.fields) last += field + " ";
      }
    return last;
  };
  struct Step {
    const char* bytes;
    const char* modes;  // the MODES fields sent, "" for none
  } steps[] = {
      {"\x1b[?2004h", "1 0 10 40 0 "},
      {"abc", ""},
      {"\x1b[?1049h", "1 1 10 40 0 "},
      {"\x1b[?1049l\x1b[?2004l", "0 0 10 40 0 "},
      // The host's cursor style (DECSCUSR), until it asks for its default.
      {"\x1b[6 q", "0 0 10 40 6 "},
      {"\x1b[6 qx", ""},
      {"\x1b[0 q", "0 0 10 40 0 "},
  };
  for (const Step& s : steps) {
    Write(s.bytes);
    kvx_send_region(app, nullptr);
    EXPECT_EQ(modes(Frames(b)), s.modes) << s.bytes;
  }
  app_set_rowscols(app, 12, 50);
  kvx_send_region(app, nullptr);
  EXPECT_EQ(modes(Frames(b)), "0 0 12 50 0 ");

  // A row that wrapped into the next is marked, once.
  Write("\x1b[H\x1b[2J");
  Write(std::string(55, 'w'));
  kvx_send_region(app, nullptr);
  auto frames = Frames(b);
  ASSERT_EQ(Count(frames, KVX_HOST_ACTION_LINES), 1);
  EXPECT_EQ(b->lines[0], 0x40);
  EXPECT_EQ(b->lines[1], 0);
  Write("x");
  kvx_send_region(app, nullptr);
  EXPECT_EQ(Count(Frames(b), KVX_HOST_ACTION_LINES), 0);
  // Scrolled off, the mark travels with the row into the view of the past.
  Write(std::string(12, '\n'));
  kvx_send_region(app, nullptr);
  Frames(b);
  kvx_view_scroll(app, b->client, 2);
  Frames(b);
  EXPECT_EQ(b->lines[0], 0x40);
  for (size_t r = 1; r < b->lines.size(); r++) EXPECT_EQ(b->lines[r], 0) << r;
}

TEST_F(View, TitleAndBellReachEveryBrowser) {
  Browser* a = Attach();
  Browser* b = Attach();
  Write("\x1b]0;hello\x07");
  Write("\x07\x07\x07");  // rung in a burst: passed on once
  for (Browser* x : {a, b}) {
    auto frames = Frames(x);
    ASSERT_EQ(Count(frames, KVX_HOST_ACTION_TITLE), 1);
    for (const auto& f : frames) {
      if (f.action == KVX_HOST_ACTION_TITLE) {
        EXPECT_EQ(f.fields, std::vector<std::string>{"hello"});
      }
    }
    EXPECT_EQ(Count(frames, KVX_HOST_ACTION_BELL), 1);
  }
  EXPECT_EQ(app->teTitle, "hello");
}

}  // namespace
