// The dialog-script engine byte by byte: output and its escape notation,
// waits on the host's output (partial matches, long and non-ASCII texts,
// parity), the commands and their operands, credentials and secrets, how a
// script ends kept apart from its result, and pauses and time-outs on the
// event loop's timer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "macro_fixture.h"

namespace {

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}
const std::string W = B({DLG_CMD_WAIT});

using Dialog = MacroSession;

TEST(DialogNotation, Escapes) {
  struct Case {
    const char* text;
    bool valid;
    std::string bytes;
  };
  const Case cases[] = {
      {"abc^M", true, "abc\r"},
      {"^[[A", true, "\x1b[A"},
      {"\\e\\E", true, "\x1b\x1b"},
      {"\\b\\f\\n\\r\\t\\v\\N", true, "\b\f\n\r\t\v\n"},
      {"\\x41\\x7\\X4a", true, "A\x07J"},
      {"\\101\\0\\7777", true, std::string("A\0\xff", 3) + "7"},
      {"\\\"\\$\\'\\-\\\\\\^", true, "\"$'-\\^"},
      {"caf\xc3\xa9", true, "caf\xc3\xa9"},
      {"\\q", false, ""},
      {"a\\x", false, ""},
      {"end^", false, ""},
      {"end\\", false, ""},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(dlg_expand(c.text, &out), c.valid) << c.text;
    EXPECT_EQ(out, c.bytes) << c.text;
  }
}

// Scripts fed host output byte by byte: what is sent, when, and how the
// script ends.
TEST_F(Dialog, ScriptsAgainstHostOutput) {
  struct Case {
    const char* what;
    std::string script;
    std::string output;        // host output fed after the start
    std::string sentBefore;    // sent before the last byte of the output
    std::string sentAfter;     // sent in all
    int end;                   // DLG_END
    int result;
  };
  const Case cases[] = {
      {"plain output", "abc^M" + B({0}), "", "", "abc\r", DLG_END_SCRIPT, 0},
      {"the end of the script ends it", "abc", "", "", "abc", DLG_END_SCRIPT, 0},
      {"wait, then send", W + "ogin:" + W + "user^M" + B({0}), "Login:", "", "user\r", DLG_END_SCRIPT, 0},
      {"a partial match starts again", W + "login:" + W + "ok", "logologin:", "", "ok", DLG_END_SCRIPT, 0},
      {"a wait for CR LF", W + "^M^J" + W + "ok", "x\r\n", "", "ok", DLG_END_SCRIPT, 0},
      {"\\r waits for a CR too", W + "\\r" + W + "ok", "x\r", "", "ok", DLG_END_SCRIPT, 0},
      {"a quote is a quote", W + "say \"hi\"" + W + "ok", "say \"hi\"", "", "ok", DLG_END_SCRIPT, 0},
      {"non-ASCII text", W + "f\xc3\xbcr:" + W + "ok", "Kennwort f\xc3\xbcr:", "", "ok", DLG_END_SCRIPT, 0},
      {"the completing byte starts the next wait", W + ":" + W + W + ":" + W + "x" + B({0}), ":", "", "x",
       DLG_END_SCRIPT, 0},
      {"a wait running to the end of the script", "go" + W + "done", "not done", "go", "go", DLG_END_SCRIPT, 0},
      {"an empty wait waits for nothing", "a" + W + W + "b", "", "", "ab", DLG_END_SCRIPT, 0},
      {"a literal command byte", B({DLG_CMD_LITERAL, DLG_CMD_WAIT}) + "x" + B({0}), "", "", "\x13x",
       DLG_END_SCRIPT, 0},
      {"a cut drops the rest of the flush", "ab" + B({DLG_CMD_CUT}) + "cd" + B({DLG_CMD_FLUSH}) + "ef", "", "",
       "abef", DLG_END_SCRIPT, 0},
      {"an invalid escape sends nothing", "ok" + B({DLG_CMD_FLUSH}) + "a\\qb" + B({DLG_CMD_FLUSH}) + "c", "", "",
       "okc", DLG_END_SCRIPT, 0},
      {"end command with a result", "x" + B({DLG_CMD_EXIT, '3', '2'}) + "y", "", "", "x", DLG_END_EXIT, 2},
      {"end command without a result", B({DLG_CMD_EXIT, '3'}), "", "", "", DLG_END_EXIT, 1},
      {"end command alone", B({DLG_CMD_EXIT}), "", "", "", DLG_END_EXIT, 1},
      {"end command 18 1 is not waiting", B({DLG_CMD_EXIT, '0', '1'}), "", "", "", DLG_END_EXIT, 1},
      {"a label and a time-out take their operands", B({DLG_CMD_LABEL, '0', '1', DLG_CMD_TIMEOUT, '0', '5'}) +
       "ok", "", "", "ok", DLG_END_SCRIPT, 0},
      {"a literal past the end", "a" + B({DLG_CMD_LITERAL}), "", "", "", DLG_END_ERROR, DLG_ERR_OPERAND},
      {"a label past the end", B({DLG_CMD_LABEL, '0'}), "", "", "", DLG_END_ERROR, DLG_ERR_OPERAND},
      {"a time-out past the end", B({DLG_CMD_TIMEOUT, '1'}), "", "", "", DLG_END_ERROR, DLG_ERR_OPERAND},
      {"a time-out without digits", B({DLG_CMD_TIMEOUT, 'x', '1'}), "", "", "", DLG_END_ERROR,
       DLG_ERR_TIMEOUT_ARG},
      {"a secret without its end", B({DLG_CMD_SECRET}) + "key_x", "", "", "", DLG_END_ERROR, DLG_ERR_UNCLOSED},
      {"an unknown secret sends nothing and goes on", B({DLG_CMD_SECRET}) + "key_none" +
       B({DLG_CMD_SECRET}) + "ok", "", "", "ok", DLG_END_SCRIPT, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sent();
    int r = app_dialog_start(app, c.script);
    for (size_t i = 0; i < c.output.size(); i++) {
      if (i + 1 == c.output.size()) {
        EXPECT_EQ(host->written, c.sentBefore);
      }
      ASSERT_EQ(r, DLG_RUN_GOING) << "at byte " << i;
      r = app_dialog_run(app, static_cast<unsigned char>(c.output[i]));
    }
    EXPECT_EQ(Sent(), c.sentAfter);
    EXPECT_EQ(r, DLG_RUN_ENDED);
    EXPECT_EQ(app->dialogEnd, c.end);
    EXPECT_EQ(app->dialogResult, c.result);
    EXPECT_EQ(app_dialog_run(app, 'x'), DLG_RUN_ENDED) << "an ended script stays ended";
  }
}

TEST_F(Dialog, CaseMattersAndParityIsMaskedWhenAsked) {
  const std::string script = W + "login:" + W + "ok";
  ASSERT_EQ(app_dialog_start(app, script), DLG_RUN_GOING);
  for (char c : std::string("LOGIN:")) EXPECT_EQ(app_dialog_run(app, c), DLG_RUN_GOING);
  app_dialog_stop(app);

  // Bytes with bit 7 set match once parity is masked, and not before.
  std::string marked;
  for (char c : std::string("login:")) marked.push_back(static_cast<char>(c | 0x80));
  ASSERT_EQ(app_dialog_start(app, script), DLG_RUN_GOING);
  for (char c : marked) EXPECT_EQ(app_dialog_run(app, static_cast<unsigned char>(c)), DLG_RUN_GOING);
  app->lpte->maskpar = 1;
  int r = DLG_RUN_GOING;
  for (char c : marked) r = app_dialog_run(app, static_cast<unsigned char>(c));
  app->lpte->maskpar = 0;
  EXPECT_EQ(r, DLG_RUN_ENDED);
  EXPECT_EQ(Sent(), "ok");
}

// Texts far beyond a small fixed match buffer, and output beyond a small
// fixed output buffer.
TEST_F(Dialog, LongTextsAreWaitedForAndSentWhole) {
  std::string text;
  for (int i = 0; i < 900; i++) text.push_back(static_cast<char>('a' + i % 26));
  ASSERT_EQ(app_dialog_start(app, W + text + W + std::string(5000, 'x')), DLG_RUN_GOING);
  const std::string output = "noise" + text.substr(0, 400) + text;  // a long false start first
  int r = DLG_RUN_GOING;
  for (size_t i = 0; i < output.size(); i++) {
    ASSERT_EQ(r, DLG_RUN_GOING) << i;
    r = app_dialog_run(app, static_cast<unsigned char>(output[i]));
  }
  EXPECT_EQ(r, DLG_RUN_ENDED);
  EXPECT_EQ(Sent(), std::string(5000, 'x'));
}

TEST_F(Dialog, CredentialsHostAndPortAndSecrets) {
  dict->setStringForKey("user", "alice");
  dict->setStringForKey("passwordHash", Secret("pa$$^M\\q").c_str());
  dict->setStringForKey("node", "host.example");
  dict->setIntForKey("port", 2323);
  const std::string secret = Secret("s3cret");
  const std::string script = B({DLG_CMD_USER, DLG_CMD_PASSWORD, DLG_CMD_HOST}) + ":" + B({DLG_CMD_PORT}) +
                             B({DLG_CMD_SECRET}) + secret + B({DLG_CMD_SECRET}) + "!";
  EXPECT_EQ(app_dialog_start(app, script), DLG_RUN_ENDED);
  // The password goes as it is stored: no escape of the notation applies.
  EXPECT_EQ(Sent(), "alice\rpa$$^M\\q\rhost.example:2323s3cret!");

  // Without a user or a password, only the carriage returns.
  dict->setStringForKey("user", "");
  dict->setStringForKey("passwordHash", "key_unknown");
  EXPECT_EQ(app_dialog_start(app, B({DLG_CMD_USER, DLG_CMD_PASSWORD})), DLG_RUN_ENDED);
  EXPECT_EQ(Sent(), "\r\r");
}

TEST_F(Dialog, PausesEndOnTheTimer) {
  ASSERT_EQ(app_dialog_start(app, "a" + B({DLG_CMD_PAUSE}) + "b"), DLG_RUN_GOING);
  EXPECT_EQ(Sent(), "a");
  EXPECT_EQ(app_dialog_run(app, 'z'), DLG_RUN_GOING) << "host output does not end a pause";
  EXPECT_EQ(host->written, "");
  ASSERT_TRUE(Loop([&] { return app->dialogState == DLG_IDLE; }));
  EXPECT_EQ(Sent(), "b");
  EXPECT_EQ(app->dialogEnd, DLG_END_SCRIPT);
}

TEST_F(Dialog, WaitsTimeOutOnTheTimer) {
  // One second allowed; nothing comes.
  ASSERT_EQ(app_dialog_start(app, B({DLG_CMD_TIMEOUT, '0', '1'}) + W + "never" + W + "x"), DLG_RUN_GOING);
  ASSERT_TRUE(Loop([&] { return app->dialogState == DLG_IDLE; }));
  EXPECT_EQ(app->dialogEnd, DLG_END_TIMEOUT);
  EXPECT_EQ(app->dialogResult, 2);
  EXPECT_EQ(Sent(), "");

  // With a label the script goes on after it: it asks again, and then sees
  // the answer.
  const std::string retry = B({DLG_CMD_LABEL, '0', '1'}) + "again" + B({DLG_CMD_TIMEOUT, '0', '1'}) + W + "ok" +
                            W + "done";
  ASSERT_EQ(app_dialog_start(app, retry), DLG_RUN_GOING);
  EXPECT_EQ(Sent(), "again");
  ASSERT_TRUE(Loop([&] { return host->written == "again"; }));
  Sent();
  int r = DLG_RUN_GOING;
  for (char c : std::string("ok")) r = app_dialog_run(app, c);
  EXPECT_EQ(r, DLG_RUN_ENDED);
  EXPECT_EQ(Sent(), "done");
  EXPECT_EQ(app->dialogEnd, DLG_END_SCRIPT);
}

TEST_F(Dialog, OverlongScriptsAreRefused) {
  EXPECT_EQ(app_dialog_start(app, std::string(DLG_MAX_SCRIPT + 1, 'x')), DLG_RUN_ENDED);
  EXPECT_EQ(app->dialogEnd, DLG_END_ERROR);
  EXPECT_EQ(Sent(), "");
}

}  // namespace
