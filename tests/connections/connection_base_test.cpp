// The connection base: terminal names, the prompt helpers over the prompt
// hooks (and their fail-safe defaults), settings and the broken-pipe guard.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "conn_test_util.h"
#include "emulation_ids.h"
#include "lumconnection.h"
#include "lumdict.h"

namespace {

class BareConnection : public LumConnection {
 public:
  int MakeConnection() override { return -1; }
};

TEST(ConnectionBase, TerminalNames) {
  struct Case {
    int emulate;
    const char* teltermtype;
    const char* expected;
  } cases[] = {
      {KVX_EM_VT100, "", "vt100"},
      {KVX_EM_WYSE60_25, "", "wy60-25"},
      {KVX_EM_XTERM, "", "xterm-color"},
      {KVX_EM_XTERM256, "", "xterm-256color"},
      {KVX_EM_IBM3270_MODEL5, "", "unknown"},
      {99, "", "unknown"},
      {-1, "", "unknown"},
      {KVX_EM_ADM1, "", "adm1"},
      {KVX_EM_LINUX, "", "linux"},
      {KVX_EM_IBM3151_25, "", "ibm3151-25"},
      {KVX_EM_IBM5250, "", "unknown"},
      {KVX_EM_ADDSVP, "", "viewpoint"},
      {KVX_EM_SCOANSI, "", "ansi"},
      {KVX_EM_VT100, "vt220", "vt220"},
      {KVX_EM_IBM3270_MODEL5, "vt220", "vt220"},
  };
  for (const auto& c : cases) {
    BareConnection conn;
    conn._emulation = c.emulate;
    conn._teltermtype = c.teltermtype;
    EXPECT_EQ(conn.GetEmName(), c.expected) << "emulate " << c.emulate;
  }
}

TEST(ConnectionBase, UseDictionaryTakesTheSettings) {
  LumDict dict;
  dict.setStringForKey("user", "ann");
  dict.setStringForKey("node", "h<devname>.lan");
  dict.setIntForKey("port", 2323);
  dict.setIntForKey("lines", 30);
  dict.setIntForKey("col", 100);
  dict.setIntForKey("emulate", KVX_EM_VT220);
  dict.setStringForKey("language", "de_DE");
  BareConnection conn;
  EXPECT_EQ(conn._emulation, KVX_EM_ANSI);
  EXPECT_EQ(conn._fd, 0);
  conn.UseDictionary(&dict);
  EXPECT_EQ(conn._username, "ann");
  EXPECT_EQ(conn._hostname, "h.lan");
  EXPECT_EQ(conn._port, 2323);
  EXPECT_EQ(conn._rows, 30);
  EXPECT_EQ(conn._cols, 100);
  EXPECT_EQ(conn._language, "de_DE");
  EXPECT_EQ(conn._dict, &dict);
  EXPECT_EQ(conn.GetEmName(), "vt220");
}

TEST(ConnectionBase, PromptsFailSafeWithoutHooks) {
  LumSetPromptHooks(nullptr);
  BareConnection conn;
  EXPECT_EQ(conn.Entry("Password", true, nullptr, "for %s", "ann"), "");
  EXPECT_TRUE(conn.entryWasCanceled);
  EXPECT_FALSE(conn.entryWaiting);
  EXPECT_FALSE(conn.AlertYesNo("Host key", "accept %d?", 1));
  conn.ShowError(true, "nobody listens");  // must return at once
  EXPECT_FALSE(conn.entryWaiting);
  // A partly filled set falls back member by member.
  LumPromptHooks partial;
  partial.yesno = [](void*, const char*, const char*) { return 1; };
  LumSetPromptHooks(&partial);
  EXPECT_TRUE(conn.AlertYesNo("t", "q"));
  EXPECT_EQ(conn.Entry("t", false, nullptr, "m"), "");
  EXPECT_TRUE(conn.entryWasCanceled);
  LumSetPromptHooks(nullptr);
}

static void* g_seenWindow = nullptr;
static std::string g_seenMessage;
static bool g_sawWaiting = false;
static BareConnection* g_conn = nullptr;

TEST(ConnectionBase, PromptsReachTheHooks) {
  LumPromptHooks hooks;
  hooks.entry = [](void* w, const char*, bool isPassword, const char* msg, const char*, std::string* text) {
    g_seenWindow = w;
    g_seenMessage = msg;
    g_sawWaiting = g_conn->entryWaiting;
    *text = isPassword ? "secret" : "plain";
    return isPassword ? 3 : 1;  // the password asks to be saved
  };
  hooks.fatal = [](void*, bool fatal, const char* text) {
    g_seenMessage = std::string(fatal ? "F:" : "E:") + text;
  };
  LumSetPromptHooks(&hooks);
  BareConnection conn;
  g_conn = &conn;
  int window = 0;
  conn.setWindow(&window);

  EXPECT_EQ(conn.Entry("Password", true, "Save", "for %s@%s", "ann", "host"), "secret");
  EXPECT_EQ(g_seenWindow, &window);
  EXPECT_EQ(g_seenMessage, "for ann@host");
  EXPECT_TRUE(g_sawWaiting);
  EXPECT_FALSE(conn.entryWaiting);
  EXPECT_TRUE(conn.entryRequestingSave);
  EXPECT_FALSE(conn.entryWasCanceled);

  EXPECT_EQ(conn.Entry("Name", false, nullptr, "who"), "plain");
  EXPECT_FALSE(conn.entryRequestingSave);

  conn.ShowError(false, "code %d", 7);
  EXPECT_EQ(g_seenMessage, "E:code 7");
  // Messages are cut at 1023 characters.
  conn.ShowError(true, "%s", std::string(5000, 'x').c_str());
  EXPECT_EQ(g_seenMessage.size(), 2u + 1023u);
  LumSetPromptHooks(nullptr);
  g_conn = nullptr;
}

TEST(ConnectionBase, WritingToAClosedPipeDoesNotKillTheProcess) {
  BareConnection conn;  // installs the guard
  struct sigaction sa;
  sigaction(SIGPIPE, nullptr, &sa);
  EXPECT_NE(sa.sa_handler, SIG_DFL);
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  close(p[0]);
  errno = 0;
  EXPECT_EQ(write(p[1], "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  close(p[1]);
}

}  // namespace
