// Screen and cursor updates as browsers receive them, over socket pairs:
// the changed rectangle and its header, the cells' Unicode values, the
// colour rule, the missing-table report, the cursor rules per browser, a
// refresh that leaves the others' changes, the flow control for a browser
// that stops reading, and the COLORS frames of exact colours and styles.
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app.h"
#include "channel.h"
#include "emulation.h"
#include "emulation_ids.h"
#include "kvx_test.h"
#include "platform.h"
#include "te/te.h"
#include "tetrace.h"
#include "vid/xattr.h"

namespace {

using kvxtest::ChannelDecode;
using kvxtest::ChannelFrame;

struct Browser {
  bufferevent* pair[2] = {};
  kvx_client_t* client = nullptr;
  std::string bytes;
};

class Update : public testing::Test {
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
    ASSERT_NE(t->TCS2Unicode, nullptr);
    app_set_rowscols(app, 24, 80);
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

  Browser* Attach(bool reading = true) {
    Browser* b = new Browser;
    bufferevent_pair_new(base, 0, b->pair);
    b->client = kvx_client_new(app, b->pair[0]);
    b->client->proto = TE_CTRL_RAW;
    b->client->init = true;
    bufferevent_setcb(b->pair[0], nullptr, handle_socket_write, nullptr, b->client);
    bufferevent_enable(b->pair[0], EV_READ | EV_WRITE);
    if (reading) bufferevent_enable(b->pair[1], EV_READ);
    app->kvx_clients.push_back(b->client);
    browsers.push_back(b);
    return b;
  }
  // Frames that reached the browser since the last call.
  std::vector<ChannelFrame> Frames(Browser* b) {
    for (int i = 0; i < 50; i++) event_base_loop(base, EVLOOP_NONBLOCK);
    evbuffer* in = bufferevent_get_input(b->pair[1]);
    size_t n = evbuffer_get_length(in);
    std::string more(n, '\0');
    evbuffer_remove(in, more.data(), n);
    b->bytes += more;
    std::vector<ChannelFrame> out;
    while (auto f = ChannelDecode(b->bytes)) out.push_back(*f);
    return out;
  }
  static uint64_t CellAt(const ChannelFrame& f, size_t i) {
    uint64_t v = 0;
    for (int k = 7; k >= 0; k--) v = (v << 8) | static_cast<unsigned char>(f.data[i * 8 + k]);
    return v;
  }

  event_base* base = nullptr;
  app_s* app = nullptr;
  te* t = nullptr;
  std::vector<Browser*> browsers;
};

TEST_F(Update, ChangedRectangleIsOneFrameAndOnlyOnce) {
  Browser* b = Attach();
  set_vscreen(t, 10, 5, 'A' | 0x07000000ull);
  kvx_send_region(app, nullptr);
  auto frames = Frames(b);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].action, KVX_HOST_ACTION_UPDATE);
  EXPECT_EQ(frames[0].fields, std::vector<std::string>{"10:5:10:5"});
  ASSERT_EQ(frames[0].data.size(), 8u);
  uint64_t cell = CellAt(frames[0], 0);
  EXPECT_EQ(cell >> 63, 1u);
  EXPECT_EQ((cell >> 32) & 0x7FFFFFFF, 0x41u);
  EXPECT_EQ(cell & 0xFFFFFFFF, 'A' | 0x07000000ull) << "the cell's own bits travel unchanged";

  kvx_send_region(app, nullptr);
  EXPECT_TRUE(Frames(b).empty()) << "nothing changed since";

  set_vscreen(t, 0, 2, 'x');
  set_vscreen(t, 9, 4, 'y');
  kvx_send_region(app, nullptr);
  frames = Frames(b);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].fields[0], "0:4:9:2");
  EXPECT_EQ(frames[0].data.size(), 30u * 8);
  EXPECT_EQ((CellAt(frames[0], 0) >> 32) & 0xFF, static_cast<uint64_t>('x'));
  EXPECT_EQ((CellAt(frames[0], 29) >> 32) & 0xFF, static_cast<uint64_t>('y'));
}

TEST_F(Update, UnicodeValuesOfCells) {
  Browser* b = Attach();
  t->TCS2Unicode[0xC4] = 0x8123;  // an entry at or above 0x8000 is not sign-extended
  struct Case {
    CHATTR cell;
    uint32_t unicode;
  } cases[] = {
      {'A', 0x41},
      {CA_TCS | 0x2C4, 0x8123},
      {ca_from_unicode(0x1F600), 0x1F600},  // arrived as UTF-8: its own code point
      {'Z' | CA_INVIS, 0x20},               // invisible cells show a blank
  };
  for (int i = 0; i < 4; i++) set_vscreen(t, i, 0, cases[i].cell);
  kvx_send_region(app, nullptr);
  auto frames = Frames(b);
  ASSERT_EQ(frames.size(), 1u);
  ASSERT_EQ(frames[0].fields[0], "0:0:3:0");
  for (int i = 0; i < 4; i++) {
    uint64_t cell = CellAt(frames[0], static_cast<size_t>(i));
    EXPECT_EQ(cell >> 63, 1u) << i;
    EXPECT_EQ((cell >> 32) & 0x7FFFFFFF, cases[i].unicode) << i;
  }
}

TEST_F(Update, EmulationsWithoutHostColoursDrawTheNormalColours) {
  Browser* b = Attach();
  t->inuseCAT[0].color = 0x5A000000;
  for (bool hostColours : {true, false}) {
    if (hostColours)
      t->teflags |= TF_HOSTCOLOR;
    else
      t->teflags &= ~TF_HOSTCOLOR;
    set_vscreen(t, 1, 1, 'c' | 0x12000000ull | CA_BOLD);
    kvx_send_region(app, nullptr);
    auto frames = Frames(b);
    ASSERT_EQ(frames.size(), 1u);
    uint64_t cell = CellAt(frames[0], 0);
    EXPECT_EQ((cell >> 24) & 0xFF, hostColours ? 0x12u : 0x5Au);
    EXPECT_NE(cell & CA_BOLD, 0u);
  }
}

// Wyse attribute cells show as blanks in the normal attribute, protected
// cells take the protected-field attribute, and the status line travels in
// LABELS frames of its own: when it changes, and to a browser that asks for
// the screen.
TEST_F(Update, AttributeCellsProtectedCellsAndTheStatusLine) {
  Browser* b = Attach();
  app_set_emulation(app, KVX_EM_WYSE50);
  ASSERT_EQ(t->teloaded, 14);
  Frames(b);
  const char host[] = "\x1b=  \x1bG4A\x1b)P\x1b(\x1bz(Status\r";
  TEemwrite(t, host, sizeof host - 1);
  kvx_send_region(app, nullptr);
  auto frames = Frames(b);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].action, KVX_HOST_ACTION_LABELS);
  ASSERT_EQ(frames[0].fields, std::vector<std::string>{"status"});
  ASSERT_EQ(frames[0].data.size(), 80u * 8);
  EXPECT_EQ((CellAt(frames[0], 0) >> 32) & 0x7FFFFFFF, static_cast<uint64_t>('S'));
  EXPECT_EQ((CellAt(frames[0], 6) >> 32) & 0x7FFFFFFF, static_cast<uint64_t>(' '));
  ASSERT_EQ(frames[1].action, KVX_HOST_ACTION_UPDATE);
  ASSERT_EQ(frames[1].fields[0].substr(0, 4), "0:23");
  uint64_t cookie = CellAt(frames[1], 0), a = CellAt(frames[1], 1), p = CellAt(frames[1], 2);
  EXPECT_EQ(cookie & (CA_EMBED | CA_PROT | CA_REV), 0u) << "an attribute cell is a plain blank";
  EXPECT_EQ((cookie >> 32) & 0x7FFFFFFF, 0x20u);
  EXPECT_NE(a & CA_REV, 0u);
  EXPECT_EQ((a >> 32) & 0x7FFFFFFF, static_cast<uint64_t>('A'));
  EXPECT_NE(p & CA_PROT, 0u);
  EXPECT_NE(p & CA_REV, 0u) << "protected cells are shown reverse";

  kvx_send_region(app, nullptr);
  EXPECT_TRUE(Frames(b).empty()) << "the status line goes once";
  Browser* late = Attach();
  kvx_send_screen(app, late->client);
  frames = Frames(late);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].action, KVX_HOST_ACTION_LABELS);
  app_set_emulation(app, KVX_EM_TVI925);  // which can remove its status line
  kvx_send_region(app, nullptr);
  Frames(b);
  TEemwrite(t, "\x1b" "fX\r\x1bh", 6);  // no status line any more: a frame without lines
  kvx_send_region(app, nullptr);
  frames = Frames(b);
  ASSERT_GE(frames.size(), 1u);
  EXPECT_EQ(frames[0].action, KVX_HOST_ACTION_LABELS);
  EXPECT_TRUE(frames[0].fields.empty());
  EXPECT_TRUE(frames[0].data.empty());
}

TEST_F(Update, MissingUnicodeTableIsReportedOncePerSession) {
  Browser* b = Attach();
  char path[] = "/tmp/kvxtrace.XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  int route = TE_Trace_SetRoute(TRACE_ROUTE_FILE);
  uint32_t mask = TE_Trace_SetMask(TRACE_FAIL);
  TE_Trace_SetOutputFile(path);
  EmFree(t->TCS2Unicode);
  t->TCS2Unicode = nullptr;
  set_vscreen(t, 3, 3, 'q');
  kvx_send_screen(app, nullptr);
  kvx_send_screen(app, nullptr);
  TE_Trace_SetOutputFile(nullptr);
  TE_Trace_SetRoute(route);
  TE_Trace_SetMask(mask);
  auto frames = Frames(b);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(CellAt(frames[0], 3 * 80 + 3), static_cast<uint64_t>('q')) << "sent as it is, bit 63 clear";
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  unlink(path);
  std::string log = text.str();
  size_t first = log.find("TCS to Unicode codepage not loaded.");
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find("TCS to Unicode codepage not loaded.", first + 1), std::string::npos) << log;
}

TEST_F(Update, CursorRulesPerBrowser) {
  Browser* b = Attach();
  struct Step {
    int x, y, visible;
    const char* sent;  // "x:y v", or null for nothing
  } steps[] = {
      {0, 0, 1, nullptr},  // where a new browser assumes it
      {3, 4, 1, "3:4 1"}, {5, 4, 1, "5:4 1"}, {5, 4, 1, nullptr}, {5, 4, 0, nullptr},  // hidden in place
      {6, 4, 0, "6:4 0"},  // moved while hidden: once
      {7, 4, 0, nullptr},  // moving on while hidden: nothing more
      {7, 4, 1, "7:4 1"},  // shown away from where it was last sent
      {8, 4, 1, "8:4 1"}, {8, 4, 0, nullptr},
  };
  for (const Step& s : steps) {
    _kvx_send_cursor_state(b->client, s.x, s.y, s.visible);
    auto frames = Frames(b);
    if (!s.sent) {
      EXPECT_TRUE(frames.empty()) << s.x << ":" << s.y << " " << s.visible;
      continue;
    }
    ASSERT_EQ(frames.size(), 1u) << s.sent;
    EXPECT_EQ(frames[0].action, KVX_HOST_ACTION_SET_CURSOR);
    ASSERT_EQ(frames[0].fields.size(), 2u);
    EXPECT_EQ(frames[0].fields[0] + " " + frames[0].fields[1], s.sent);
    EXPECT_TRUE(frames[0].data.empty());
  }
  // A second browser has its own memory.
  Browser* other = Attach();
  _kvx_send_cursor_state(other->client, 8, 4, 1);
  EXPECT_EQ(Frames(other).size(), 1u);
  EXPECT_TRUE(Frames(b).empty());
}

TEST_F(Update, CursorGoesOnlyToBrowsersThatHaveAScreen) {
  Browser* fresh = Attach();
  Browser* drawn = Attach();
  kvx_send_screen(app, drawn->client);
  Frames(drawn);
  cpos(t, 7, 12);
  kvx_send_cursor_state(app, nullptr);
  EXPECT_TRUE(Frames(fresh).empty());
  auto frames = Frames(drawn);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].fields[0], "12:7");
}

TEST_F(Update, ScreenForOneBrowserLeavesTheOthersChanges) {
  Browser* a = Attach();
  Browser* b = Attach();
  set_vscreen(t, 4, 4, 'k');
  kvx_send_screen(app, a->client);
  auto frames = Frames(a);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].fields[0], "0:23:79:0");
  EXPECT_TRUE(Frames(b).empty());
  kvx_send_region(app, nullptr);
  frames = Frames(b);
  ASSERT_EQ(frames.size(), 1u) << "the change is still owed to the other browser";
  EXPECT_EQ(frames[0].fields[0], "4:4:4:4");
}

TEST_F(Update, ABrowserThatStopsReadingIsSkippedThenGetsTheWholeScreen) {
  app_set_rowscols(app, 250, 132);
  Browser* stuck = Attach(false);
  Browser* live = Attach();
  const size_t screenBytes = 250u * 132 * 8;
  int sends = 0;
  while (!stuck->client->needScreen && sends < 100) {
    kvx_send_screen(app, nullptr);
    sends++;
    Frames(live);
  }
  ASSERT_TRUE(stuck->client->needScreen);
  size_t pending = evbuffer_get_length(bufferevent_get_output(stuck->pair[0]));
  EXPECT_LE(pending, kKvxOutputHighWater + screenBytes + 4096);
  EXPECT_FALSE(app->hostReadsPaused) << "one browser still keeps up";

  // More updates do not reach the stuck browser's buffer.
  for (int i = 0; i < 5; i++) kvx_send_screen(app, nullptr);
  EXPECT_EQ(evbuffer_get_length(bufferevent_get_output(stuck->pair[0])), pending);
  EXPECT_EQ(Frames(live).size(), 5u);

  // Alone, it holds the host back.
  app->kvx_clients.pop_back();
  kvx_send_screen(app, nullptr);
  EXPECT_TRUE(app->hostReadsPaused);
  app->kvx_clients.push_back(live->client);

  // It reads again: once drained it gets the cursor and the whole screen.
  bufferevent_enable(stuck->pair[1], EV_READ);
  std::vector<ChannelFrame> frames;
  for (int i = 0; i < 200 && stuck->client->needScreen; i++) {
    auto more = Frames(stuck);
    frames.insert(frames.end(), more.begin(), more.end());
  }
  auto more = Frames(stuck);
  frames.insert(frames.end(), more.begin(), more.end());
  ASSERT_FALSE(stuck->client->needScreen);
  EXPECT_FALSE(app->hostReadsPaused);
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(frames[frames.size() - 2].action, KVX_HOST_ACTION_SET_CURSOR);
  EXPECT_EQ(frames.back().action, KVX_HOST_ACTION_UPDATE);
  EXPECT_EQ(frames.back().fields[0], "0:249:131:0");
}

TEST_F(Update, RepeatedRefreshesOfABrowserThatDoesNotReadStayBounded) {
  app_set_rowscols(app, 250, 132);
  Browser* greedy = Attach(false);
  for (int i = 0; i < 100; i++) kvx_send_screen(app, greedy->client);
  EXPECT_TRUE(greedy->client->needScreen);
  EXPECT_LE(evbuffer_get_length(bufferevent_get_output(greedy->pair[0])),
            kKvxOutputHighWater + 250u * 132 * 8 + 4096);
}

// ---- exact colours and text styles

// A COLORS frame's data taken apart: the entries as "fg=…,bg=…,ul=…,s=…"
// and, per row, its runs as (length, entry).
struct ColorsFrame {
  std::vector<std::string> entries;
  std::vector<std::vector<std::pair<int, unsigned>>> rows;
};

ColorsFrame ParseColors(const std::string& d, int rows, int width) {
  ColorsFrame f;
  size_t off = 0;
  auto byte = [&]() -> int { return off < d.size() ? static_cast<unsigned char>(d[off++]) : -1; };
  auto colour = [&]() {
    char text[16];
    const int kind = byte();
    if (kind == 1) {
      std::snprintf(text, sizeof text, "%d", byte());
    } else {
      const int r = byte(), g = byte(), b = byte();
      std::snprintf(text, sizeof text, "#%02x%02x%02x", r, g, b);
    }
    return std::string(text);
  };
  const int count = byte() | byte() << 8;
  for (int i = 0; i < count; i++) {
    const int which = byte(), style = byte();
    std::string e;
    if (which & 1) e += "fg=" + colour() + ",";
    if (which & 2) e += "bg=" + colour() + ",";
    if (which & 4) e += "ul=" + colour() + ",";
    f.entries.push_back(e + "s=" + std::to_string(style));
  }
  for (int y = 0; y < rows; y++) {
    f.rows.emplace_back();
    for (int x = 0; x < width;) {
      const int length = byte();
      unsigned entry = 0;
      for (int shift = 0;; shift += 7) {
        const int b = byte();
        if (b < 0) return f;
        entry |= static_cast<unsigned>(b & 0x7F) << shift;
        if (!(b & 0x80)) break;
      }
      if (length <= 0) return f;
      f.rows.back().push_back({length, entry});
      x += length;
    }
  }
  EXPECT_EQ(off, d.size()) << "bytes after the last row";
  return f;
}

// A browser that named "truecolor" gets, after the update, the exact
// colours and styles of its cells; one that did not gets the same update,
// its cells in the nearest of the sixteen, and nothing more.
TEST_F(Update, ColoursGoOnlyToBrowsersThatNameThem) {
  app_set_emulation(app, KVX_EM_XTERM256);
  t = app->lpte;
  Browser* plain = Attach();
  Browser* exact = Attach();
  exact->client->caps |= kvx_capabilities_t{1} << KVX_CAPABILITY_TRUECOLOR;
  kvx_send_region(app, nullptr);
  Frames(plain);
  Frames(exact);

  const std::string host = "\x1b[H\x1b[38;2;255;128;0mAB\x1b[3;48;5;28mC\x1b[0mD\x1b[4:3;58;5;9;9mE";
  TEemwrite(t, host.data(), host.size());
  kvx_send_region(app, nullptr);

  const auto seen = Frames(plain);
  ASSERT_EQ(seen.size(), 1u);
  ASSERT_EQ(seen[0].action, KVX_HOST_ACTION_UPDATE);
  ASSERT_EQ(seen[0].fields[0], "0:0:4:0");
  // Index 28 (#008700) is nearest the green of the sixteen (PC 2).
  const uint64_t a = CellAt(seen[0], 0), c = CellAt(seen[0], 2);
  EXPECT_NE((a >> 24) & 0xFF, 0xFFu) << "A: a host colour";
  EXPECT_EQ((c >> 28) & 0x0F, 2u);
  for (size_t i = 0; i < 5; i++) {
    const uint64_t cell = CellAt(seen[0], i);
    EXPECT_EQ(cell & CA_XLO, 0u) << "the engine's index does not travel, cell " << i;
    EXPECT_EQ((cell >> 32) & 0x7FFFFFFF, static_cast<uint64_t>("ABCDE"[i])) << i;
  }

  const auto frames = Frames(exact);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].data, seen[0].data) << "the same update to both";
  ASSERT_EQ(frames[1].action, KVX_HOST_ACTION_COLORS);
  EXPECT_EQ(frames[1].fields, std::vector<std::string>{"0:0:4:0"});
  const ColorsFrame f = ParseColors(frames[1].data, 1, 5);
  EXPECT_EQ(f.entries, (std::vector<std::string>{"fg=#ff8000,s=0", "fg=#ff8000,bg=28,s=2", "ul=9,s=52"}));
  const std::vector<std::pair<int, unsigned>> runs = {{2, 1}, {1, 2}, {1, 0}, {1, 3}};
  ASSERT_EQ(f.rows.size(), 1u);
  EXPECT_EQ(f.rows[0], runs);

  // Cells without any: an update alone, to both.
  TEemwrite(t, "\x1b[0mplain", 10);
  kvx_send_region(app, nullptr);
  EXPECT_EQ(Frames(exact).size(), 1u);
  EXPECT_EQ(Frames(plain).size(), 1u);
}

// A whole screen of highlighted source in a theme's 24-bit colours, and a
// shaded bar cell by cell: the colour form adds at most 2 KB to the update.
TEST_F(Update, AFullScreenOfTrueColourTextStaysWithinTwoKilobytes) {
  app_set_emulation(app, KVX_EM_XTERM256);
  t = app->lpte;
  Browser* b = Attach();
  b->client->caps |= kvx_capabilities_t{1} << KVX_CAPABILITY_TRUECOLOR;
  kvx_send_region(app, nullptr);
  Frames(b);
  const char* const theme[] = {"198;120;221", "229;192;123", "152;195;121", "209;154;102",
                               "97;175;239",  "171;178;191", "76;82;99"};
  const char* const words[] = {"static", "int", "count_rows", "(", "\"text\"", "42", ");"};
  std::string host = "\x1b[H\x1b[2J";
  for (int y = 0; y < 23; y++) {
    char gutter[64];
    std::snprintf(gutter, sizeof gutter, "\x1b[38;2;%sm%5d \x1b[0m", theme[6], y + 1);
    host += gutter;
    if (y % 5 == 4) host += "\x1b[3;38;2;92;99;112m// a comment about the next few lines\x1b[0m";
    for (int w = 0; y % 5 != 4 && w < 7; w++)
      host += std::string("\x1b[") + (w == 0 ? "1;" : "") + "38;2;" + theme[(w + y) % 6] + "m" + words[w] +
              "\x1b[0m ";
    host += "\x1b[K\r\n";
  }
  for (int x = 0; x < 79; x++) host += "\x1b[48;2;" + std::to_string(40 + 2 * x) + ";" + std::to_string(200 - 2 * x) + ";80m ";
  TEemwrite(t, host.data(), host.size());
  kvx_send_region(app, nullptr);
  const auto frames = Frames(b);
  ASSERT_EQ(frames.size(), 2u);
  ASSERT_EQ(frames[1].action, KVX_HOST_ACTION_COLORS);
  EXPECT_EQ(frames[0].fields[0], "0:23:79:0");
  const ColorsFrame f = ParseColors(frames[1].data, 24, 80);
  EXPECT_EQ(f.rows.size(), 24u);
  EXPECT_GE(f.entries.size(), 80u) << "the bar's cells each their own colour";
  EXPECT_LE(frames[1].data.size() + frames[1].fields[0].size(), 2048u);
}

}  // namespace
