// Replies of the ANSI/VT family (device attributes, status, mode, state and
// setting reports) as a table of (member, input, bytes sent), then the
// restores of the state reports, host-programmed keys, rectangle
// operations, the status line, the SCO console sequences and media copy.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "em/ansi.h"
#include "term.h"

namespace {

enum : int {
  VT320 = 1,
  VT220 = 3,
  VT220_7 = 4,
  VT100 = 5,
  VT52 = 6,
  ANSI = 7,
  SCOANSI = 9,
  VT420 = 31,
  LINUX = 32,
  MAC = 35
};

const std::string DCS7 = "\x1bP", ST7 = "\x1b\\";

struct ReplyCase {
  const char* name;
  int emode;
  std::string input;
  std::string reply;
};

const ReplyCase kReplies[] = {
    // Device attributes
    {"DA primary, VT300 class", MAC, "\x1b[c", "\x1b[?63;1;2;6;8;9;11;14;17c"},
    {"DA with 0", MAC, "\x1b[0c", "\x1b[?63;1;2;6;8;9;11;14;17c"},
    {"DA by ESC Z", LINUX, "\x1bZ", "\x1b[?63;1;2;6;8;9;11;14;17c"},
    {"DA secondary, > last", MAC, "\x1b[>c", "\x1b[>24;14;0c"},
    {"DA secondary, > 0", MAC, "\x1b[>0c", "\x1b[>24;14;0c"},
    // 7-bit replies until the host asks for 8-bit ones: a UTF-8 host
    // cannot read a lone C1 byte.
    {"DA VT320 is 7-bit from the start", VT320, "\x1b[c", "\x1b[?63;1;2;6;8;9;11;14;17c"},
    {"DA VT320 after S8C1T", VT320, "\x1b G\x1b[c", "\x9b?63;1;2;6;8;9;11;14;17c"},
    {"DA VT220 is 7-bit from the start", VT220, "\x1b[c", "\x1b[?62;1;2;6;8;9c"},
    {"DA VT220 after S7C1T", VT220, "\x1b F\x1b[c", "\x1b[?62;1;2;6;8;9c"},
    {"DA VT220 after S8C1T", VT220_7, "\x1b G\x1b[c", "\x9b?62;1;2;6;8;9c"},
    {"DA VT220 secondary", VT220_7, "\x1b[>c", "\x1b[>1;10;0c"},
    {"DA others always 7-bit", VT100, "\x1b G\x1b[c\x1b[>c", "\x1b[?1;2c\x1b[?1;2c"},
    {"DA ANSI", ANSI, "\x1bZ", "\x1b[?1;2c"},
    {"DA VT52", VT52, "\x1bZ", "\x1b/Z"},
    {"DA VT52 sub-mode", VT220, "\x1b[?2l\x1bZ", "\x1b/Z"},
    {"SCO does not answer DA", SCOANSI, "\x1b[c", ""},
    {"DA with a parameter is no request", MAC, "\x1b[1c\x1b[=c", ""},
    // Status reports
    {"DSR 5", MAC, "\x1b[5n", "\x1b[0n"},
    {"DSR 6 is 1-based", MAC, "\x1b[3;7H\x1b[6n", "\x1b[3;7R"},
    {"DSR 6 counts from the margins in origin mode", VT220, "\x1b[5;10r\x1b[?6h\x1b[2;3H\x1b[6n",
     "\x1b[2;3R"},
    {"DSR keys unlocked", MAC, "\x1b[?25n", "\x1b[?20n"},
    {"DSR keys locked", MAC, "\x1bP0;0|\x1b\\\x1b[?25n", "\x1b[?21n"},
    {"DSR keyboard", MAC, "\x1b[?26n", "\x1b[?27;1n"},
    {"DSR printer", MAC, "\x1b[?15n", "\x1b[?10n"},
    {"other private DSR ignored", MAC, "\x1b[?6n\x1b[?99n", ""},
    // Mode requests
    {"DECRQM ANSI 3 and 10", MAC, "\x1b[3$p\x1b[10$p", "\x1b[3;0$y\x1b[10;0$y"},
    {"DECRQM IRM", MAC, "\x1b[4$p\x1b[4h\x1b[4$p", "\x1b[4;2$y\x1b[4;1$y"},
    {"DECRQM LNM and KAM", MAC, "\x1b[20h\x1b[20$p\x1b[2$p", "\x1b[20;1$y\x1b[2;2$y"},
    {"DECRQM unknown ANSI", MAC, "\x1b[99$p", ""},
    {"DECRQM private fixed", MAC, "\x1b[?4$p\x1b[?8$p\x1b[?67$p\x1b[?68$p",
     "\x1b[?4;0$y\x1b[?8;0$y\x1b[?67;0$y\x1b[?68;0$y"},
    {"DECRQM private with state", MAC, "\x1b[?1h\x1b[?7l\x1b[?1$p\x1b[?7$p\x1b[?25$p\x1b[?66$p\x1b[?2$p",
     "\x1b[?1;1$y\x1b[?7;2$y\x1b[?25;1$y\x1b[?66;2$y\x1b[?2;1$y"},
    {"DECRQM origin", MAC, "\x1b[?6h\x1b[?6$p", "\x1b[?6;1$y"},
    {"DECRQM bracketed paste, off again after a reset", MAC,
     "\x1b[?2004$p\x1b[?2004h\x1b[?2004$p\x1b" "c\x1b[?2004$p", "\x1b[?2004;2$y\x1b[?2004;1$y\x1b[?2004;2$y"},
    {"DECRQM unknown private", MAC, "\x1b[?2027$p", ""},
    {"DECRQM alternate screen", MAC, "\x1b[?1049h\x1b[?1049$p", "\x1b[?1049;1$y"},
    // Presentation and terminal state
    {"cursor information", MAC, "\x1b[5;10H\x1b[1;4m\x1b[1$w", DCS7 + "1$u5;10;1;C;@;H;0;1;@;B%5%5%5" + ST7},
    {"cursor information, protection, shifts, origin", VT100,
     "\x1b[1\"q\x1b[7m\x1b"
     "O\x1b[?7;6h\x1b[1$w",
     DCS7 + "1$u1;1;1;H;A;M;0;1;@;B444" + ST7},
    {"tab stops", MAC, "\x1b[3g\x1b[1;5H\x1bH\x1b[1;20H\x1bH\x1b[2$w", DCS7 + "2$u5;20" + ST7},
    {"other presentation reports", MAC, "\x1b[3$w\x1b[1w", ""},
    {"terminal state", MAC, "\x1b[1$u", DCS7 + "1$s $; ; \xff\x7c" + ST7},
    {"terminal state with modes", MAC, "\x1b[1;5m\x1b[4h\x1b[?6h\x1bN\x1b[1$u",
     DCS7 + "1$s%%;#; \xff\x73" + ST7},
    {"terminal state is VT300 class", VT220, "\x1b[1$u", ""},
    {"user-preferred supplemental set", MAC, "\x1b[&u", DCS7 + "0!u%5" + ST7},
    // Request setting
    {"DECRQSS SGR", MAC, "\x1b[1;7m\x1bP$qm\x1b\\", DCS7 + "0$r0;1;7m" + ST7},
    {"DECRQSS plain SGR", MAC, "\x1bP$qm\x1b\\", DCS7 + "0$r0m" + ST7},
    {"DECRQSS margins", MAC, "\x1b[5;10r\x1bP$qr\x1b\\", DCS7 + "0$r5;10r" + ST7},
    {"DECRQSS margins off", MAC, "\x1bP$qr\x1b\\", DCS7 + "0$r1;24r" + ST7},
    {"DECRQSS protection", MAC, "\x1b[1\"q\x1bP$q\"q\x1b\\", DCS7 + "0$r1\"q" + ST7},
    {"DECRQSS conformance default", MAC, "\x1bP$q\"p\x1b\\", DCS7 + "0$r63;1\"p" + ST7},
    {"DECRQSS conformance kept", MAC, "\x1b[62;1\"p\x1bP$q\"p\x1b\\", DCS7 + "0$r62;1\"p" + ST7},
    {"DECRQSS status line", MAC, "\x1bP$q$}\x1b\\\x1bP$q$~\x1b\\",
     DCS7 + "0$r0$}" + ST7 + DCS7 + "0$r0$~" + ST7},
    {"DECRQSS unknown", MAC, "\x1bP$q q\x1b\\", DCS7 + "1$r" + ST7},
    {"DECRQSS on VT220, 8-bit terminator", VT220, "\x1bP$qm\x9c", DCS7 + "0$r0m" + ST7},
    {"DECRQSS on VT220 after S8C1T", VT220, "\x1b G\x1bP$qm\x1b\\",
     "\x90"
     "0$r0m\x9c"},
    {"other strings are dropped", MAC, "\x1bPzz\x1b\\\x1bP+q544e\x1b\\", ""},
    // Conformance level
    {"DECSCL 61 is 7-bit level 1", VT220, "\x1b[61\"p\x1b[c", "\x1b[?62;1;2;6;8;9c"},
    {"DECSCL 62;1 is 7-bit", VT220, "\x1b[62;1\"p\x1b[c", "\x1b[?62;1;2;6;8;9c"},
    {"DECSCL 63;2 is 8-bit", VT220_7, "\x1b[63;2\"p\x1b[c", "\x9b?62;1;2;6;8;9c"},
    {"DECSCL above 2 is ignored", VT220, "\x1b G\x1b[62;3\"p\x1b[c", "\x9b?62;1;2;6;8;9c"},
    {"DECSCL other levels ignored", VT220, "\x1b G\x1b[64;1\"p\x1b[c", "\x9b?62;1;2;6;8;9c"},
    {"DECSCL needs a conformance member", VT100, "\x1b[62;2\"p\x1bP$q\"p\x1b\\", ""},
};

TEST(Reports, TableOfMembersInputsAndReplies) {
  for (const ReplyCase& c : kReplies) {
    Term term(c.emode, 24, 80);
    term.feed(c.input);
    EXPECT_EQ(term.sent, c.reply) << c.name;
    Term bytewise(c.emode, 24, 80);
    bytewise.feedBytewise(c.input);
    EXPECT_EQ(bytewise.sent, c.reply) << c.name << " byte at a time";
  }
}

TEST(Reports, ConformanceLevelSwitchesC1Handling) {
  Term::Options o;
  o.emode = VT220;
  o.utf8 = false;
  Term term(o);
  term.feed(
      "\x9b"
      "c\x90$qm\x9c");  // C1 controls are read; the replies stay 7-bit
  EXPECT_EQ(term.sent, "\x1b[?62;1;2;6;8;9c\x1bP0$r0m\x1b\\");
  term.feed(
      "\x1b[61\"p\x9b"
      "A");
  EXPECT_EQ(term.t->_vt200mode, 0);  // C1 bytes are printable now
  EXPECT_EQ(term.cell(0, 0) & CA_CHAR, 0x9Bu);
  EXPECT_EQ(term.cell(1, 0) & CA_CHAR, (CHATTR)'A');
  EXPECT_EQ(term.t->_modeset, 1);
  EXPECT_STREQ(term.t->_conformlev, "61");
}

// A state report fed back as its restore string gives the state back.
TEST(Reports, StateReportsRestoreWhatTheyReported) {
  Term term(MAC, 24, 80);
  term.feed(
      "\x1b[1;4m\x1b[4h\x1b[5;20r\x1b[?6h\x1b[?7l\x1b"
      "N\x1b[1$u");
  std::string tsr = term.sent;
  ASSERT_EQ(tsr.substr(0, 5), DCS7 + "1$s");
  term.feed(
      "\x1b[0m\x1b[4l\x1b[?6l\x1b[?7h\x1b"
      "c\x1b[5;20r");
  term.sent.clear();
  term.feed(DCS7 + "1$p" + tsr.substr(5));
  EXPECT_TRUE(term.t->_vcurattr & CA_BOLD);
  EXPECT_TRUE(term.t->_vcurattr & CA_UNDER);
  EXPECT_EQ(term.t->_vinsmode, 1);
  EXPECT_EQ(term.t->_decom, 1);
  EXPECT_EQ(term.t->_vorigin, 4);
  EXPECT_EQ(term.t->_AMon, 0);
  EXPECT_EQ(term.t->vt.SShift, 3);
  EXPECT_EQ(term.sent, "");

  // A wrong check byte restores nothing.
  Term bad(MAC, 24, 80);
  std::string broken = tsr;
  broken[broken.size() - 3] ^= 1;
  bad.feed(DCS7 + "1$p" + broken.substr(5));
  EXPECT_EQ(bad.t->_vinsmode, 0);
  EXPECT_EQ(bad.t->_vcurattr & CA_COMBO, 0u);

  Term pres(VT220, 24, 80);
  pres.feed("\x1b F\x1b[7;9H\x1b[5;7m\x1b[1\"q\x1b*0\x1b+<\x1bn\x1b|\x1b[1$w");
  std::string cir = pres.sent;
  ASSERT_EQ(cir.substr(0, 5), DCS7 + "1$u");
  pres.feed("\x1b[0m\x1b[0\"q\x1b[H\x1b(B\x1b*B\x1b+B\x0f\x1b}");
  pres.sent.clear();
  pres.feed(DCS7 + "1$t" + cir.substr(5));
  EXPECT_EQ(pres.t->vdestline, 6);
  EXPECT_EQ(pres.t->vdestcol, 8);
  EXPECT_TRUE(pres.t->_vcurattr & CA_BLINK);
  EXPECT_TRUE(pres.t->_vcurattr & CA_REV);
  EXPECT_TRUE(pres.t->_vcurattr & CA_SELPROT);
  EXPECT_EQ(pres.t->vt.GL, 2);
  EXPECT_EQ(pres.t->vt.GR, 3);
  EXPECT_EQ(pres.t->vt.CharSet[2], 15);
  EXPECT_EQ(pres.t->vt.CharSet[3], 14);
  pres.feed("\x1b[1$w");
  EXPECT_EQ(pres.sent, cir);

  Term tabs(MAC, 24, 80);
  tabs.feed("\x1b[3g\x1b[1;3H\x1bH\x1b[1;50H\x1bH\x1b[2$w");
  std::string tsr2 = tabs.sent;
  tabs.feed("\x1b[3g");
  tabs.feed(DCS7 + "2$t" + tsr2.substr(5));
  tabs.feed("\r\tA\tB");
  EXPECT_EQ(tabs.row(0), "  A" + std::string(46, ' ') + "B");
  tabs.feed(DCS7 + "2$t3/9/x" + ST7);  // a bad column restores nothing
  tabs.feed("\r\tC");
  EXPECT_EQ(tabs.row(0).substr(0, 3), "  C");
}

struct KeyCase {
  const char* name;
  int emode;
  std::string input;
  std::vector<std::pair<int, std::string>> slots;  // slot -> string ("" = empty)
  int locked;
};

const KeyCase kKeys[] = {
    {"one key", MAC, "\x1bP1;1|17/414243\x1b\\", {{5, "ABC"}, {4, ""}, {6, ""}}, 0},
    {"several keys, F6 and F20", MAC, "\x1bP1;1|17/41;34/4243\x1b\\", {{5, "A"}, {19, "BC"}}, 0},
    {"every F6-F20 number has its slot",
     MAC,
     "\x1bP1;1|18/61;19/62;20/63;21/64;23/65;24/66;25/67;26/68;28/69;29/6a;31/6B;32/6c;33/6d\x1b\\",
     {{6, "a"},
      {7, "b"},
      {8, "c"},
      {9, "d"},
      {10, "e"},
      {11, "f"},
      {12, "g"},
      {13, "h"},
      {14, "i"},
      {15, "j"},
      {16, "k"},
      {17, "l"},
      {18, "m"}},
     0},
    {"Pc 0 clears the other keys", MAC, "\x1bP1;1|18/58\x1b\\\x1bP0;1|17/41\x1b\\", {{5, "A"}, {6, ""}}, 0},
    {"Pc 1 keeps them", MAC, "\x1bP1;1|18/58\x1b\\\x1bP1;1|17/41\x1b\\", {{5, "A"}, {6, "X"}}, 0},
    {"empty definition frees the key", MAC, "\x1bP1;1|17/41\x1b\\\x1bP1;1|17/\x1b\\", {{5, ""}}, 0},
    {"Pl 0 locks", MAC, "\x1bP1;0|17/41\x1b\\", {{5, "A"}}, 1},
    {"no parameters clear and lock", MAC, "\x1bP1;1|18/58\x1b\\\x1bP|\x1b\\", {{6, ""}}, 1},
    {"unknown key number",
     MAC,
     "\x1bP1;1|16/41;22/42;35/43\x1b\\",
     {{0, ""}, {5, ""}, {10, ""}, {19, ""}},
     0},
    {"lone last digit", MAC, "\x1bP1;1|17/414\x1b\\", {{5, "A\x04"}}, 0},
    {"not hex changes nothing", MAC, "\x1bP1;1|17/41\x1b\\\x1bP1;1|17/4G\x1b\\", {{5, "A"}}, 0},
    {"ESC / ends without the pending key", MAC, "\x1bP1;1|17/41;18/42\x1b/", {{5, "A"}, {6, ""}}, 0},
    {"ESC and another byte are dropped", MAC, "\x1bP1;1|17/4\x1bx1\x1b\\", {{5, "A"}}, 0},
    {"8-bit terminator", VT220, "\x1bP1;1|17/41\x9c", {{5, "A"}}, 0},
    {"CAN abandons", MAC, "\x1bP1;1|17/41\x18;18/42\x1b\\", {{5, ""}, {6, ""}}, 0},
    {"VT100 has no device-control strings", VT100, "\x1bP1;1|17/41\x1b\\", {{5, ""}}, 0},
    {"SCO ANSI has none either", SCOANSI, "\x1bP1;1|17/41\x1b\\", {{5, ""}}, 0},
};

TEST(Reports, HostProgrammedKeys) {
  for (const KeyCase& c : kKeys) {
    Term term(c.emode, 24, 80);
    term.feed(c.input);
    for (auto [slot, want] : c.slots) {
      const char* got = term.t->_prgkeys[slot];
      EXPECT_EQ(got ? std::string(got) : std::string(), want) << c.name << " slot " << slot;
    }
    EXPECT_EQ(term.t->_vtfkeyl, c.locked) << c.name;
    EXPECT_EQ(term.t->_vtdcson, 0) << c.name;
  }
  // A definition is cut at 79 collected characters; output resumes after
  // the terminator.
  Term term(MAC, 24, 80);
  term.feed("\x1bP1;1|17/" + std::string(300, 'a') + "\x1b\\ok");
  ASSERT_NE(term.t->_prgkeys[5], nullptr);
  EXPECT_EQ(std::string(term.t->_prgkeys[5]), std::string(39, '\xaa') + "\x0a");
  EXPECT_EQ(term.row(0), "ok");
  // Keys are cleared by a reset.
  term.feed(
      "\x1b"
      "c");
  EXPECT_EQ(term.t->_prgkeys[5], nullptr);
}

TEST(Reports, RectangleFillEraseAndCopy) {
  Term term(VT420, 24, 80);
  term.feed("\x1b[42;2;3;3;5$x");
  EXPECT_EQ(term.screen(), "\n  ***\n  ***\n");
  term.feed("\x1b[3;4;9;9$z");
  EXPECT_EQ(term.screen(), "\n  ***\n  *\n");
  term.feed("\x1b[127;1;1;1;1$x\x1b[31;1;1;1;1$x\x1b[65;5;5;4;4$x");  // bad chars, empty area
  EXPECT_EQ(term.screen(), "\n  ***\n  *\n");
  term.feed("\x1b[43;23;79;999;999$x");  // clamped to the screen
  EXPECT_EQ(term.row(22), std::string(78, ' ') + "++");
  EXPECT_EQ(term.row(23), std::string(78, ' ') + "++");
  term.feed("\x1b[33;1;1;1;1${");  // selective erase of an area: nothing
  EXPECT_EQ(term.row(1), "  ***");
  // Fill takes the default attribute, not the current one.
  term.feed("\x1b[1m\x1b[35;5;1;5;1$x");
  EXPECT_EQ(term.cell(0, 4) & CA_BOLD, 0u);

  Term copy(VT420, 24, 80);
  copy.feed("A\r\nB\r\nC\r\n\x1b[1;1;2;1;1;2;1;1$v");  // rows 1-2 one row down
  EXPECT_EQ(copy.screen(), "A\nA\nB\n");
  copy.feed("\x1b[1;1;3;1;1;1;3;1$v");  // and two columns right, from the old rows
  EXPECT_EQ(copy.screen(), "A A\nA A\nB B\n");
  copy.feed("\x1b[2;1;3;3;1;1;1;1$v");  // upward
  EXPECT_EQ(copy.screen(), "A A\nB B\nB B\n");
  copy.feed("\x1b[1;1;1;3;1;10;78;1$v");  // destination clipped at the right edge
  EXPECT_EQ(copy.row(9), std::string(77, ' ') + "A A");

  // Across pages: the copy lands in the page's saved rows.
  copy.feed("\x1b[1;1;1;3;1;2;2;2$v");
  EXPECT_EQ(copy.row(1), "B B");
  selpage(copy.t, 1, 1);
  EXPECT_EQ(copy.row(1), " A A");
  selpage(copy.t, 0, 1);
  // A page that was never made: nothing happens.
  Term::Options o;
  o.emode = VT420;
  o.pages = 2;
  Term two(o);
  two.feed("X\x1b[1;1;1;1;1;1;1;6$v\x1b[1;1;1;1;5;2;1;1$v");
  EXPECT_EQ(two.screen(), "X\n");

  // Origin mode offsets the rows; other members ignore the sequences.
  Term org(VT420, 24, 80);
  org.feed("\x1b[5;10r\x1b[?6h\x1b[42;1;1;1;1$x");
  EXPECT_EQ(org.row(4), "*");
  Term vt220(VT220, 24, 80);
  vt220.feed("\x1b[42;1;1;2;2$x");
  EXPECT_EQ(vt220.screen(), "");
}

TEST(Reports, StatusLineTakesTheCursorAndItsOwnColours) {
  Term term(MAC, 24, 80);
  term.feed("\x1b[1$~");
  EXPECT_EQ(term.t->vstatus, 1);
  EXPECT_EQ(term.t->_statusline, '1');
  EXPECT_EQ(term.t->vlines, 24);
  term.feed("\x1b[5;6H\x1b[31m\x1b[1$}");
  EXPECT_EQ(term.t->vdestline, term.t->vlines);
  EXPECT_EQ(term.t->_vcurattr & CA_COLOR, EmGetDefDefaultAttr(term.t) & CA_COLOR);
  term.feed("status text\x1bP$q$}\x1b\\");
  EXPECT_EQ(term.sent, DCS7 + "0$r1$}" + ST7);
  EXPECT_EQ(term.screen(), "");  // nothing written reached the screen
  term.feed("\x1b[1$}\x1b[0$}");
  EXPECT_EQ(term.t->vdestline, 4);
  EXPECT_EQ(term.t->vdestcol, 5);
  term.feed("X");
  EXPECT_EQ(term.cell(5, 4) & CA_FG, (CHATTR)4 << 24);  // red again
  term.feed("\x1b[2$~");
  EXPECT_EQ(term.t->_statusline, '1');
}

TEST(Reports, InternalCharacterShownAtTheCursor) {
  Term term(MAC, 24, 80);
  term.feed("\x1b[0;65&~\x1b[0;1001&~\x1b[1;66&~");
  EXPECT_EQ(term.cell(0, 0) & CA_CHARPART, CA_TCS | 0x241);
  EXPECT_EQ(term.cell(1, 0) & CA_CHARPART, CA_TCS | 1001);
  EXPECT_EQ(term.t->vdestcol, 2);
}

TEST(Reports, SCOConsoleSequences) {
  Term term(SCOANSI, 24, 80);
  auto color = [&](int combo) { return term.t->inuseCAT[combo].color >> 24; };
  unsigned user = term.t->userCAT[0].color >> 24;
  term.feed("\x1b[=4F");
  EXPECT_EQ(color(0), (user & 0xF0) | 4);
  term.feed("\x1b[=1G");
  EXPECT_EQ(color(0), 0x14u);
  EXPECT_EQ(term.t->userCAT[0].color >> 24, user);  // temporary
  term.feed("\x1b[=2H\x1b[=5I");
  EXPECT_EQ(color(8), 0x52u);
  term.feed("\x1b[=16F\x1b[=3X");  // out of range, unknown final
  EXPECT_EQ(color(0), 0x14u);
  term.feed("\x1b[?25l\x1b[=1C");
  EXPECT_EQ(term.t->vCaret, 1);
  term.feed("\x1b[=1s");
  EXPECT_EQ(term.t->_scanmode, 1);
  term.feed("\x1b[=0E");
  EXPECT_EQ(term.t->_blmode, 0);
  term.feed("\x1b[=1E");
  EXPECT_EQ(term.t->_blmode, 1);
  EXPECT_EQ(term.sent, "");
  // The screen to the host, only when read-back is allowed: a file shown
  // on the screen must not type the screen into the shell.
  term.feed("\x1b[Hhi\x1b[2i");
  EXPECT_EQ(term.sent, "");
  term.t->readback = 1;
  term.feed("\x1b[2i");
  ASSERT_EQ(term.sent.size(), 24u * 81u);
  EXPECT_EQ(term.sent.substr(0, 81), "hi" + std::string(78, ' ') + "\n");
  Term mac(MAC, 24, 80);
  mac.feed("\x1b[2i\x1b[=4F");
  EXPECT_EQ(mac.sent, "");
  EXPECT_EQ(mac.row(0), "");
}

TEST(Reports, MediaCopyPrintersAuxiliaryPortAndKeyboardLockNotifications) {
  Term term(MAC, 24, 80);
  static std::vector<std::pair<int, int>> captures;
  captures.clear();
  term.t->hooks.capture = [](te*, int on, int kind) {
    captures.push_back({on, kind});
    return 1;
  };
  term.feed("\x1b[9ipr\x1b[4i\x1b[13i\x1b[4i\x1b[7i\x1b[4i");
  EXPECT_EQ(term.printed, "pr");
  EXPECT_EQ(term.t->current_printer, 1);
  term.feed("\x1b[11i\x1b[4i\x1b[10i");
  EXPECT_EQ(term.t->current_printer, 0);
  EXPECT_EQ(term.t->_prctrl, 0);
  term.feed("\x1b[?5i");
  EXPECT_EQ(term.t->_prauto, 1);
  term.feed("\x1b[?4i");
  EXPECT_EQ(term.t->_prauto, 0);
  EXPECT_TRUE(captures.empty());

  // With an auxiliary port the diversion takes the host's bytes (a device
  // that takes them stands in for the port) until CSI 4 i.
  std::strcpy(term.t->aux_devport, "/dev/null");
  static std::string device;
  device.clear();
  term.t->hooks.aux_open = [](te*) { return 7; };
  term.t->hooks.aux_write = [](te*, const char* b, int n) {
    device.append(b, (size_t)n);
    return n;
  };
  term.feed("\x1b[5i");
  EXPECT_EQ(term.t->auxmode, 4);
  EXPECT_EQ(term.t->_prctrl, 0);
  term.feed("\x1b[7i\x1b[4i\x1b[7iout\x1b[4i\x1b[6i");
  EXPECT_EQ(device, "\x1b[7iout");
  EXPECT_EQ(term.t->auxmode, 0);
  // The keyboard lock is reported the same way, once per change.
  term.feed("\x1b[2h\x1b[2h\x1b[2l");
  EXPECT_EQ(captures, (std::vector<std::pair<int, int>>{{1, 5}, {0, 5}, {1, 6}, {0, 6}, {1, 7}, {0, 7}}));
}

}  // namespace
