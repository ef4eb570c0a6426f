// Keyboard maps of the ANSI/VT family: what each member sends for function,
// cursor, keypad and editing keys in each mode, programmed keys, the
// fallback strings, and sending a key with local echo.
#include "em/keys.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "keyname.h"
#include "term.h"

namespace {

// Emulation numbers of the members.
enum : int {
  VT320 = 1,
  VT220 = 3,
  VT220_7 = 4,
  VT100 = 5,
  VT52 = 6,
  ANSI = 7,
  AT386 = 8,
  SCOANSI = 9,
  VT420 = 31,
  LINUX = 32,
  MAC = 35
};

std::string Key(Term& term, int code) {
  const char* s = TEemkey(term.t, code);
  return s ? std::string(s) : std::string("<none>");
}

struct KeyCase {
  int emode;
  int code;
  int appcur, appkey, c1;  // modes: cursor keys, keypad, 8-bit controls
  const char* sent;
};

class KeyMap : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyMap, SendsTheMembersString) {
  const KeyCase& c = GetParam();
  Term term(c.emode);
  term.t->_appcur = c.appcur;
  term.t->_appkey = c.appkey;
  term.t->_vtc18out = c.c1;
  EXPECT_EQ(Key(term, c.code), c.sent) << "emulation " << c.emode << " key " << keyname(c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Ansi, KeyMap,
    testing::Values(
        // DEC members: cursor keys in both modes, 7- and 8-bit.
        KeyCase{MAC, TK_UP, 0, 0, 0, "\033[A"}, KeyCase{MAC, TK_LEFT, 1, 0, 0, "\033OD"},
        KeyCase{VT220, TK_UP, 1, 0, 1,
                "\x8F"
                "A"},
        KeyCase{VT220, TK_DOWN, 0, 0, 1,
                "\x9B"
                "B"},
        KeyCase{VT320, TK_RIGHT, 0, 0, 0, "\033[C"},
        // Keypad: numeric mode sends the characters even with 8-bit controls.
        KeyCase{VT220, TK_KP0 + 5, 0, 0, 1, "5"}, KeyCase{VT220, TK_KP0 + 5, 1, 0, 1, "5"},
        KeyCase{VT220, TK_KP0 + 5, 0, 1, 1, "\x8Fu"}, KeyCase{MAC, TK_KPENTER, 0, 1, 0, "\033OM"},
        KeyCase{MAC, TK_KPENTER, 0, 0, 0, "\r"}, KeyCase{MAC, TK_KPMINUS, 0, 1, 0, "\033Om"},
        KeyCase{MAC, TK_KPCOMMA, 0, 1, 0, "\033Ol"}, KeyCase{MAC, TK_KPDOT, 0, 1, 0, "\033On"},
        KeyCase{MAC, TK_KPSTAR, 0, 1, 0, "*"}, KeyCase{MAC, TK_KPSLASH, 0, 1, 0, "/"},
        // Function keys.
        KeyCase{MAC, TK_F1, 0, 0, 0, "\033OP"}, KeyCase{MAC, TK_F1 + 4, 0, 0, 0, "\033[15~"},
        KeyCase{MAC, TK_F1 + 11, 0, 0, 0, "\033[24~"}, KeyCase{VT220, TK_F1 + 3, 0, 0, 1, "\x8FS"},
        KeyCase{VT220, TK_F1 + 4, 0, 0, 1, "\033]Q"},  // no F5 of its own: the fallback
        KeyCase{VT220, TK_F1 + 5, 0, 0, 0, "\033[17~"},
        KeyCase{VT220, TK_F1 + 19, 0, 0, 1,
                "\x9B"
                "34~"},
        KeyCase{VT220_7, TK_F1 + 10, 0, 0, 0, "\033[23~"}, KeyCase{VT420, TK_F1 + 4, 0, 0, 0, "\033[17~"},
        KeyCase{VT420, TK_F1 + 9, 0, 0, 0, "\033[29~"}, KeyCase{VT420, TK_F1 + 10, 0, 0, 0, "\033]W"},
        KeyCase{LINUX, TK_F1 + 2, 0, 0, 0, "\033[[C"}, KeyCase{LINUX, TK_F1 + 4, 0, 0, 0, "\033[[E"},
        KeyCase{LINUX, TK_F1 + 9, 0, 0, 0, "\033[21~"}, KeyCase{VT220, TK_CF1, 0, 0, 0, "\033[23~"},
        KeyCase{MAC, TK_CF1 + 9, 0, 0, 0, "\033[21;5~"},  // the xterm-like member: xterm's Ctrl form
        // Editing keys.
        KeyCase{MAC, TK_HOME, 0, 0, 0, "\033[H"}, KeyCase{MAC, TK_END, 0, 0, 0, "\033[F"},
        KeyCase{MAC, TK_DEL, 0, 0, 0, "\033[3~"}, KeyCase{MAC, TK_INS, 0, 0, 0, "\033[L"},
        KeyCase{MAC, TK_PGUP, 0, 0, 0, "\033[5~"}, KeyCase{MAC, TK_S_TAB, 0, 0, 0, "\033[Z"},
        KeyCase{VT220, TK_HOME, 0, 0, 0, "\033[1~"},
        KeyCase{VT220, TK_END, 0, 0, 1,
                "\x9B"
                "4~"},
        KeyCase{VT220, TK_PGDN, 0, 0, 0, "\033[6~"}, KeyCase{VT220, TK_S_TAB, 0, 0, 0, "\033[Z"},
        // VT100: 7-bit only, the rest from the fallback.
        KeyCase{VT100, TK_F1, 0, 0, 1, "\033OP"}, KeyCase{VT100, TK_UP, 1, 0, 1, "\033OA"},
        KeyCase{VT100, TK_KP0, 0, 1, 1, "\033Op"}, KeyCase{VT100, TK_F1 + 4, 0, 0, 0, "\033]Q"},
        KeyCase{VT100, TK_HOME, 0, 0, 0, "\033]H"}, KeyCase{VT100, TK_END, 0, 0, 0, "<none>"},
        // VT52.
        KeyCase{VT52, TK_F1, 0, 0, 0, "\033P"}, KeyCase{VT52, TK_UP, 1, 0, 0, "\033A"},
        KeyCase{VT52, TK_KP0 + 9, 0, 1, 0, "\033?y"}, KeyCase{VT52, TK_KPENTER, 0, 1, 0, "\033?M"},
        KeyCase{VT52, TK_KP0 + 9, 0, 0, 0, "9"}, KeyCase{VT52, TK_DEL, 0, 0, 0, "\177"},
        // ANSI.
        KeyCase{ANSI, TK_F1, 0, 0, 0, "\033[M"}, KeyCase{ANSI, TK_F1 + 9, 0, 0, 0, "\033[V"},
        KeyCase{ANSI, TK_F1 + 10, 0, 0, 0, "\033]W"}, KeyCase{ANSI, TK_UP, 1, 0, 1, "\033OA"},
        KeyCase{ANSI, TK_PGUP, 0, 0, 0, "\033[I"}, KeyCase{ANSI, TK_PGDN, 0, 0, 0, "\033[G"},
        KeyCase{ANSI, TK_DEL, 0, 0, 0, "\177"}, KeyCase{ANSI, TK_FIVE, 0, 0, 0, "\033[E"},
        // SCO ANSI.
        KeyCase{SCOANSI, TK_F1, 0, 0, 0, "\033[M"}, KeyCase{SCOANSI, TK_SF1 + 11, 0, 0, 0, "\033[j"},
        KeyCase{SCOANSI, TK_CF1, 0, 0, 0, "\033[k"}, KeyCase{SCOANSI, TK_CSF1 + 11, 0, 0, 0, "\033[{"},
        KeyCase{SCOANSI, TK_CSF1 + 10, 0, 0, 0, "\033[`"}, KeyCase{SCOANSI, TK_UP, 1, 0, 0, "\033[A"},
        KeyCase{SCOANSI, TK_KP0 + 1, 0, 1, 0, "1"}, KeyCase{SCOANSI, TK_C_LEFT, 0, 0, 0, "\x89"},
        KeyCase{SCOANSI, TK_C_ESC, 0, 0, 0, "\x80"}, KeyCase{SCOANSI, TK_S_TAB, 0, 0, 0, "\033[Z"},
        // AT386.
        KeyCase{AT386, TK_F1 + 11, 0, 0, 0, "\033OA"}, KeyCase{AT386, TK_SF1, 0, 0, 0, "\033Op"},
        KeyCase{AT386, TK_AF1 + 1, 0, 0, 0, "\033OQ"}, KeyCase{AT386, TK_CSF1 + 11, 0, 0, 0, "\033Oa"},
        KeyCase{AT386, TK_ALTA + 25, 0, 0, 0, "\033nz"}, KeyCase{AT386, TK_ALT1 + 8, 0, 0, 0, "\033n9"},
        KeyCase{AT386, TK_ALTEQUAL, 0, 0, 0, "\033n="}, KeyCase{AT386, TK_S_TAB, 0, 0, 0, "\035"},
        KeyCase{AT386, TK_INS, 0, 0, 0, "\033[@"}, KeyCase{AT386, TK_DOWN, 1, 0, 0, "\033[B"},
        // Keys with modifiers in xterm's forms (1 + Shift 1 + Alt 2 + Ctrl 4).
        KeyCase{MAC, TK_C_RIGHT, 0, 0, 0, "\033[1;5C"}, KeyCase{MAC, TK_C_LEFT, 1, 0, 0, "\033[1;5D"},
        KeyCase{VT220, TK_C_UP, 0, 0, 0, "\033[1;5A"},
        KeyCase{VT220, TK_C_UP, 0, 0, 1,
                "\x9b"
                "1;5A"},
        KeyCase{MAC, TK_MODKEY, 0, 0, 0, "\033[1;2A"}, KeyCase{MAC, TK_MODKEY + 13, 0, 0, 0, "\033[1;3D"},
        KeyCase{MAC, TK_MODKEY + 34, 0, 0, 0, "\033[1;6H"},
        KeyCase{VT220, TK_MODKEY + 34, 0, 0, 0, "\033[1;6~"}, KeyCase{VT220, TK_C_END, 0, 0, 0, "\033[4;5~"},
        KeyCase{MAC, TK_C_END, 0, 0, 0, "\033[1;5F"}, KeyCase{MAC, TK_C_DEL, 0, 0, 0, "\033[3;5~"},
        KeyCase{MAC, TK_MODKEY + 47, 0, 0, 0, "\033[6;7~"},
        KeyCase{MAC, TK_MODKEY + 58, 0, 0, 0, "\033[2;8~"}, KeyCase{MAC, TK_SF1, 0, 0, 0, "\033[1;2P"},
        KeyCase{MAC, TK_AF1 + 4, 0, 0, 0, "\033[15;3~"}, KeyCase{MAC, TK_CSF1 + 11, 0, 0, 0, "\033[24;6~"},
        KeyCase{MAC, TK_CAF1 + 11, 0, 0, 0, "\033[24;7~"}, KeyCase{VT220, TK_SF1 + 5, 0, 0, 0, "\033[17;2~"},
        KeyCase{LINUX, TK_SF1, 0, 0, 0, "\033[1;2P"}, KeyCase{VT100, TK_C_RIGHT, 0, 0, 0, "\033[1;5C"},
        KeyCase{VT420, TK_ASF1 + 1, 0, 0, 0, "\033[1;4Q"},
        KeyCase{VT320, TK_CASF1 + 6, 0, 0, 0, "\033[18;8~"}, KeyCase{VT52, TK_C_UP, 0, 0, 0, "<none>"},
        KeyCase{SCOANSI, TK_C_RIGHT, 0, 0, 0, "\x8A"},
        // Alt with a letter or digit sends ESC and the character; Shift+Tab,
        // Ctrl+Enter and Ctrl+Esc what xterm sends.
        KeyCase{MAC, TK_ALTA, 0, 0, 0, "\033a"}, KeyCase{VT220, TK_ALTA + 25, 0, 0, 1, "\033z"},
        KeyCase{MAC, TK_ALT1, 0, 0, 0, "\0331"}, KeyCase{VT100, TK_ALT0, 0, 0, 0, "\0330"},
        KeyCase{LINUX, TK_ALTMINUS, 0, 0, 0, "\033-"}, KeyCase{LINUX, TK_S_TAB, 0, 0, 0, "\033[Z"},
        KeyCase{VT220, TK_S_TAB, 0, 0, 1, "\x9bZ"}, KeyCase{MAC, TK_C_ENTER, 0, 0, 0, "\r"},
        KeyCase{VT320, TK_C_ESC, 0, 0, 0, "\033"}, KeyCase{ANSI, TK_ALTA, 0, 0, 0, "<none>"},
        // Characters and keys no member knows.
        KeyCase{MAC, 0x241, 0, 0, 0, "<none>"}, KeyCase{MAC, 13, 0, 0, 0, "<none>"},
        KeyCase{MAC, TK_MENU, 0, 0, 0, "<none>"}, KeyCase{MAC, -1, 0, 0, 0, "<none>"}));

// The host switches the controls the keys are sent with; until it asks for
// 8-bit ones, a VT220 sends 7-bit keys.
TEST(KeyMapControls, HostSelectsSevenOrEightBitKeys) {
  Term term(VT220);
  term.t->_appcur = 1;
  EXPECT_EQ(Key(term, TK_UP), "\033OA");
  EXPECT_EQ(Key(term, TK_F1 + 5), "\033[17~");
  term.feed("\033 G\033 F");
  EXPECT_EQ(Key(term, TK_UP), "\033OA");
  term.feed("\033 G");
  EXPECT_EQ(Key(term, TK_UP),
            "\x8F"
            "A");
  EXPECT_EQ(Key(term, TK_KP0 + 5), "5");
}

// Return (and keypad Enter in numeric mode) sends CR LF in new-line mode.
TEST(KeyMapReturn, NewLineModeSendsCarriageReturnAndLineFeed) {
  for (int emode : std::initializer_list<int>{VT220, VT100, MAC, ANSI}) {
    Term term(emode);
    EXPECT_EQ(Key(term, '\r'), "<none>");  // the character itself
    term.feed("\x1b[20h");
    EXPECT_EQ(Key(term, '\r'), "\r\n") << emode;
    EXPECT_EQ(Key(term, TK_KPENTER), "\r\n") << emode;
    term.feed("\x1b[20l");
    EXPECT_EQ(Key(term, '\r'), "<none>") << emode;
  }
}

TEST(KeyMapBackspace, FollowsTheBackspaceSetting) {
  for (int emode : std::initializer_list<int>{VT220, VT52, SCOANSI, MAC}) {
    Term term(emode);
    term.t->bsdel = 1;
    EXPECT_EQ(Key(term, TK_BACKSPACE), "\177");
    term.t->bsdel = 0;
    EXPECT_EQ(Key(term, TK_BACKSPACE), "\b");
    EXPECT_EQ(Key(term, TK_C_BACKSPACE), "\177");
  }
}

TEST(KeyMapProgrammed, SlotsComeFirstWhereTheMemberReadsThem) {
  Term vt(VT220);
  vt.t->_vtc18out = 1;
  setprgkey(vt.t, 5, "six");
  setprgkey(vt.t, 10, "ctrl-one");
  EXPECT_EQ(Key(vt, TK_F1 + 5), "six");  // as programmed, not converted
  EXPECT_EQ(Key(vt, TK_CF1), "ctrl-one");
  EXPECT_EQ(Key(vt, TK_F1 + 10), "ctrl-one");  // F11 shares Ctrl+F1's slot
  setprgkey(vt.t, 0, "one");
  EXPECT_EQ(Key(vt, TK_F1), "\x8FP");  // F1-F4 are never programmed
  setprgkey(vt.t, 5, "");
  EXPECT_EQ(Key(vt, TK_F1 + 5),
            "\x9B"
            "17~");
  clrprgkeys(vt.t);
  EXPECT_EQ(Key(vt, TK_CF1),
            "\x9B"
            "23~");

  Term lx(LINUX);
  setprgkey(lx.t, 2, "three");
  setprgkey(lx.t, 5, "six");
  EXPECT_EQ(Key(lx, TK_F1 + 2), "\033[[C");
  EXPECT_EQ(Key(lx, TK_F1 + 5), "\033[17~");

  Term sco(SCOANSI);
  setprgkey(sco.t, 47, "last");
  EXPECT_EQ(Key(sco, TK_CSF1 + 11), "last");
  Term at(AT386);
  setprgkey(at.t, 3, "four");
  EXPECT_EQ(Key(at, TK_AF1 + 3), "four");
  EXPECT_EQ(Key(at, TK_CF1 + 3), "four");
  Term an(ANSI);
  setprgkey(an.t, 9, "ten");
  EXPECT_EQ(Key(an, TK_F1 + 9), "ten");

  setprgkey(an.t, -1, "x");  // out of range: ignored
  setprgkey(an.t, TE_PRGKEYS, "x");
  EXPECT_EQ(prgkey(an.t, TE_PRGKEYS), nullptr);
}

TEST(KeyMapFallback, DefaultStrings) {
  Term term;
  struct {
    int code;
    const char* sent;
  } cases[] = {{TK_F1, "\033]M"},   {TK_F1 + 11, "\033]X"}, {TK_F1 + 12, nullptr}, {TK_UP, "\033]A"},
               {TK_LEFT, "\033]D"}, {TK_HOME, "\033]H"},    {TK_KP0 + 7, "7"},     {TK_KPENTER, "\r"},
               {TK_KPCOMMA, ","},   {TK_DEL, "\177"},       {TK_BACKSPACE, "\b"},  {TK_C_BACKSPACE, "\177"},
               {TK_END, nullptr},   {'a', nullptr}};
  for (const auto& c : cases) {
    const char* s = defkey(term.t, c.code);
    if (c.sent)
      EXPECT_STREQ(s, c.sent) << keyname(c.code);
    else
      EXPECT_EQ(s, nullptr) << keyname(c.code);
  }
}

TEST(KeyMapSend, LocalEchoShowsTheKeyStringBeforeSendingIt) {
  Term term(ANSI);
  term.feed("\033[H\033[2J");
  setprgkey(term.t, 0, "hello");
  term.t->dupmode = 0;
  EXPECT_EQ(fnkey(term.t, TK_F1), 1);
  EXPECT_EQ(term.sent, "hello");
  EXPECT_EQ(term.row(0), "");
  term.sent.clear();
  term.t->dupmode = 1;
  EXPECT_EQ(fnkey(term.t, TK_F1), 1);
  EXPECT_EQ(term.sent, "hello");
  EXPECT_EQ(term.row(0), "hello");
  term.sent.clear();
  EXPECT_EQ(fnkey(term.t, TK_MENU), 0);  // no string: nothing sent or shown
  EXPECT_EQ(term.sent, "");
}

// Every code of the key space, and beyond it, in every member and mode:
// either no string or a short non-empty one.
TEST(KeyMapSweep, EveryCodeInEveryMember) {
  for (int emode : std::initializer_list<int>{VT320, VT220, VT220_7, VT100, VT52, ANSI, AT386, SCOANSI, VT420,
                                              LINUX, MAC}) {
    Term term(emode);
    for (int mode = 0; mode < 8; mode++) {
      term.t->_appcur = mode & 1;
      term.t->_appkey = (mode >> 1) & 1;
      term.t->_vtc18out = (mode >> 2) & 1;
      for (int code = -300; code < 70000; code++) {
        const char* s = TEemkey(term.t, code);
        if (s) {
          ASSERT_GT(strlen(s), 0u) << emode << " " << code;
          ASSERT_LT(strlen(s), 8u) << emode << " " << code;
        }
      }
    }
  }
}

}  // namespace
