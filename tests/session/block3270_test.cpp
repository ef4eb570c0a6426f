// The 3270 keyboard mapping of the session: browser and macro keys to 3270
// keyboard functions (characters through the host code page, function keys
// to PF keys, the key-definition map's control keys and ESC / ^P
// sequences), and the session's 3270 settings.
#include "block3270.h"

#include <gtest/gtest.h>

#include "app.h"
#include "blockmode.h"
#include "emulation.h"
#include "emulation_ids.h"
#include "keyname.h"
#include "lumdict.h"
#include "settings.h"
#include "tcs.h"
#include "te3270/te3270.h"

namespace {

int Key(int k) {
  return TCS_KEY_UNICODE_BASE + (k - TCS_TK_FIRST);
}

struct Want {
  blk3270_key::Kind kind;
  int fcn, code;
};

Want Map(int key, int locale = 0, bool destructive = false) {
  blk3270_keyseq seq;
  blk3270_key k = blk3270_map_key(key, locale, destructive, seq);
  return {k.kind, k.fcn, k.code};
}

bool operator==(const Want& a, const Want& b) {
  return a.kind == b.kind && a.fcn == b.fcn && a.code == b.code;
}

std::ostream& operator<<(std::ostream& o, const Want& w) {
  return o << "{kind " << w.kind << ", fcn " << w.fcn << ", code 0x" << std::hex << w.code << std::dec << "}";
}

constexpr blk3270_key::Kind F = blk3270_key::FUNCTION, N = blk3270_key::NONE, I = blk3270_key::IGNORED;

TEST(Block3270Keys, KeysMapToKeyboardFunctions) {
  struct Case {
    const char* name;
    int key;
    Want want;
    int locale = 0;
    bool destructive = false;
  } cases[] = {
      {"letter", 'a', {F, FCN_CHARACTER, 0x81}},
      {"e acute as itself, not a comma", 0xE9, {F, FCN_CHARACTER, 0x51}},
      {"pound sign in the UK code page", 0xA3, {F, FCN_CHARACTER, 0x5B}, 7},
      {"dollar in the US code page", '$', {F, FCN_CHARACTER, 0x5B}},
      {"a character the code page lacks", 0x4E00, {N, 0, 0}},
      {"a code above 255 without a character", 0x0152, {N, 0, 0}},
      {"Enter", 13, {F, FCN_AID, AID_ENTER}},
      {"keypad Enter", Key(TK_KPENTER), {F, FCN_AID, AID_ENTER}},
      {"F1 is PF1", Key(TK_F1), {F, FCN_AID, 0xF1}},
      {"F12 is PF12", Key(TK_F1 + 11), {F, FCN_AID, 0x7C}},
      {"Shift+F1 is PF13", Key(TK_SF1), {F, FCN_AID, 0xC1}},
      {"Shift+F12 is PF24", Key(TK_SF1 + 11), {F, FCN_AID, 0x4C}},
      {"PF22 key", Key(TK_PF1 + 21), {F, FCN_AID, 0x4A}},
      {"PA2", Key(TK_PA1 + 1), {F, FCN_AID, AID_PA2}},
      {"Clear", Key(TK_CLEAR), {F, FCN_AID, AID_CLEAR}},
      {"keypad 5 is a digit", Key(TK_KP0 + 5), {F, FCN_CHARACTER, 0xF5}},
      {"keypad minus", Key(TK_KPMINUS), {F, FCN_CHARACTER, 0x60}},
      {"Tab", 9, {F, FCN_TAB, 0}},
      {"Shift+Tab", Key(TK_S_TAB), {F, FCN_BTAB, 0}},
      {"Home", Key(TK_HOME), {F, FCN_HOME, 0}},
      {"Insert", Key(TK_INS), {F, FCN_INSRT, 0}},
      {"Delete", Key(TK_DEL), {F, FCN_DELETE, 0}},
      {"Backspace moves left", Key(TK_BACKSPACE), {F, FCN_LEFT, 0}},
      {"Backspace erases when destructive", Key(TK_BACKSPACE), {F, FCN_ERASE, 0}, 0, true},
      {"Erase EOF", Key(TK_ERASEEOF), {F, FCN_EEOF, 0}},
      {"Erase Input", Key(TK_ERASEINPUT), {F, FCN_EINP, 0}},
      {"New line", Key(TK_NEWLINE), {F, FCN_NL, 0}},
      {"Dup", Key(TK_DUP), {F, FCN_DP, 0}},
      {"Field Mark", Key(TK_FIELDMARK), {F, FCN_FM, 0}},
      {"Reset", Key(TK_RESET), {F, FCN_RESET, 0}},
      {"cent sign key", Key(TK_CENTSIGN), {F, FCN_CHARACTER, 0x4A}},
      {"Attn", Key(TK_ATTN), {blk3270_key::ATTN, 0, 0}},
      {"^Z is Clear", 0x1A, {F, FCN_AID, AID_CLEAR}},
      {"^E is Erase EOF", 0x05, {F, FCN_EEOF, 0}},
      {"^R has no function", 0x12, {I, 0, 0}},
      {"^G has none either", 0x07, {N, 0, 0}},
      {"Erase key ignored", Key(TK_ERASE), {I, 0, 0}},
      {"a session key", Key(TK_COPY), {N, 0, 0}},
      {"private use beyond the keys", 0xF000, {N, 0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(Map(c.key, c.locale, c.destructive), c.want) << c.name;
}

// Sequences of the key-definition map: every key continues one that was
// begun; one without a match is dropped whole.
TEST(Block3270Keys, SequencesTakeTheirNextKey) {
  struct Case {
    const char* name;
    std::vector<int> keys;
    Want want;  // of the last key
  } cases[] = {
      {"ESC 1 is PF1", {0x1B, '1'}, {F, FCN_AID, 0xF1}},
      {"ESC = is PF12", {0x1B, '='}, {F, FCN_AID, 0x7C}},
      {"ESC + is PF24", {0x1B, '+'}, {F, FCN_AID, 0x4C}},
      {"ESC blank is insert", {0x1B, ' '}, {F, FCN_INSRT, 0}},
      {"^P 3 is PA3", {0x10, '3'}, {F, FCN_AID, AID_PA3}},
      {"ESC x matches nothing", {0x1B, 'x'}, {N, 0, 0}},
      {"a named key breaks a sequence", {0x1B, Key(TK_F1)}, {N, 0, 0}},
      {"after a sequence, keys are keys again", {0x1B, '1', '1'}, {F, FCN_CHARACTER, 0xF1}},
  };
  for (const Case& c : cases) {
    blk3270_keyseq seq;
    blk3270_key k;
    for (size_t i = 0; i < c.keys.size(); i++) {
      k = blk3270_map_key(c.keys[i], 0, false, seq);
      if (i + 1 < c.keys.size() && c.keys[i] == 0x1B) {
        EXPECT_EQ(k.kind, blk3270_key::PENDING) << c.name;
      }
    }
    EXPECT_EQ((Want{k.kind, k.fcn, k.code}), c.want) << c.name;
  }
}

// Settings 24-27 make the 3270 engine active with the configured model;
// out-of-range indexes fall back to model 2; the terminal type follows the
// model and the extended-attribute setting.
TEST(Block3270Settings, ModelTerminalTypeAndColours) {
  app_s* app = app_main_initialize();
  set_app(app);
  struct Case {
    const char* idx;
    const char* extattr;
    int emode;
    const char* ttype;
  } cases[] = {{"2", "1", 3, "IBM-3278-4-E"}, {"3", "0", 4, "IBM-3278-5"}, {"9", "1", 1, "IBM-3278-2-E"},
               {"-4", "0", 1, "IBM-3278-2"}, {"0", "1", 1, "IBM-3278-2-E"}};
  for (const Case& c : cases) {
    LumDict* dict = new LumDict();
    dict->setIntForKey("emulate", KVX_EM_IBM3270_MODEL3);
    dict->setStringForKey("em3270idx", c.idx);
    dict->setStringForKey("TE3270EnExAtt", c.extattr);
    dict->setStringForKey("3270colfg1", "13");  // protected fields: table entry 12
    dict->setStringForKey("colorbg0", "99");    // no entry: the background stays
    app_set_te_using_dictionary(app, dict);
    ASSERT_EQ(app->emlib, EM_TN3270) << c.idx;
    EXPECT_EQ(app->lptn3270->emode, c.emode) << c.idx;
    EXPECT_EQ(dict->stringValueForKey("ibmterminalname"), c.ttype) << c.idx;
    EXPECT_EQ(app->lptn3270->fgcolor[TNF_PROTUNHIGH], app->lptn3270->TNRGBMap[12]);
    EXPECT_EQ(app->lptn3270->bgcolor[TNF_DEFAULT], 0xFF000000u);
  }
  LumDict* dict = new LumDict();
  dict->setIntForKey("emulate", KVX_EM_XTERM);
  app_set_te_using_dictionary(app, dict);
  EXPECT_EQ(app->emlib, EM_UNIX);
}

// Text painted into the screen as if the host had sent it: row 23, column
// 1 of a 24 x 80 screen is buffer address 1760; type 1 is a protected field.
TEST(Block3270Settings, WriteToEmulatorPaintsAField) {
  app_s* app = app_main_initialize();
  set_app(app);
  LumDict* dict = new LumDict();
  dict->setIntForKey("emulate", KVX_EM_IBM3270_MODEL2);
  app_set_te_using_dictionary(app, dict);
  ASSERT_EQ(app->emlib, EM_TN3270);
  te3270* t = app->lptn3270;
  ASSERT_EQ(t->ScreenSize, 1920);
  TN3270_WriteToEmulator(app, 1, 23, 1, "X");
  EXPECT_EQ(t->FA[1760] & FA_IS_ATTR, FA_IS_ATTR);
  EXPECT_EQ(t->Host[1760], 0x20 | 0xC0);
  EXPECT_EQ(t->Host[1761], 0xE7);
  TN3270_WriteToEmulator(app, 6, 1, 1, "R");  // a red field: extended attributes
  EXPECT_EQ((t->HostAttrs[0] & XA_FG) >> XA_FG_SHIFT, 0xF2u);
  TN3270_WriteToEmulator(app, 1, 25, 1, "off the screen");
  EXPECT_EQ(t->faCount, 2);
}


// A click from a browser places the cursor only inside the screen; rows and
// columns outside it leave the cursor where it was.
TEST(Block3270Settings, ClickPlacesTheCursorInsideTheScreenOnly) {
  app_s* app = app_main_initialize();
  set_app(app);
  LumDict* dict = new LumDict();
  dict->setIntForKey("emulate", KVX_EM_IBM3270_MODEL2);
  app_set_te_using_dictionary(app, dict);
  ASSERT_EQ(app->emlib, EM_TN3270);
  te3270* t = app->lptn3270;
  app_mouse_press(app, -1, 5, 3);  // column 5, row 3
  EXPECT_EQ(t->CursorAddress, 3 * 80 + 5);
  const int outside[][2] = {{-1, 0}, {0, -1}, {24, 0}, {0, 80}, {43, 132}, {1 << 30, 1 << 30}};
  for (const auto& rc : outside) {
    app_mouse_press(app, -1, rc[1], rc[0]);
    EXPECT_EQ(t->CursorAddress, 3 * 80 + 5) << rc[0] << "," << rc[1];
  }
  app_mouse_press(app, -1, 79, 23);
  EXPECT_EQ(t->CursorAddress, 1919);
}

}  // namespace
