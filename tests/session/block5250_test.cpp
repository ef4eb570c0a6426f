// The 5250 station in the session: browser and macro keys to 5250 keys,
// the 5250 settings (model, terminal type, colours, code page), and the
// status line fields.
#include "block5250.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app.h"
#include "blockmode.h"
#include "emulation.h"
#include "emulation_ids.h"
#include "keyname.h"
#include "lumdict.h"
#include "settings.h"
#include "status_line.h"
#include "tcs.h"
#include "te3270/te3270.h"
#include "te5250/te5250.h"
#include "te5250/te5250_session.h"

namespace {

int Key(int k) {
  return TCS_KEY_UNICODE_BASE + (k - TCS_TK_FIRST);
}
int Char(int c) {
  return -1 - c;
}

TEST(Block5250Keys, KeysMapToTheStation) {
  const struct {
    int key, want;
  } cases[] = {
      {'a', Char('a')},
      {0xE9, Char(0xE9)},
      {13, K5250_ENTER},
      {9, K5250_TAB},
      {8, K5250_BACKSPACE},
      {27, K5250_RESET},
      {0x7F, K5250_DELETE},
      {1, 0},  // other control characters have no 5250 function
      {0xD800, 0},
      {Key(TK_F1), K5250_PF1},
      {Key(TK_F1 + 11), K5250_PF1 + 11},
      {Key(TK_F1 + 12), K5250_PF1 + 12},
      {Key(TK_SF1), K5250_PF1 + 12},
      {Key(TK_SF1 + 11), K5250_PF24},
      {Key(TK_PF1 + 4), K5250_PF1 + 4},
      {Key(TK_KP0 + 7), Char('7')},
      {Key(TK_KPENTER), K5250_ENTER},
      {Key(TK_S_TAB), K5250_BACKTAB},
      {Key(TK_PGDN), K5250_ROLLUP},
      {Key(TK_PGUP), K5250_ROLLDOWN},
      {Key(TK_END), K5250_END},
      {Key(TK_HELP), K5250_HELP},
      {Key(TK_RESET), K5250_RESET},
      {Key(TK_ERRORRESET), K5250_RESET},
      {Key(TK_FIELDEXIT), TK_FIELDEXIT},
      {Key(TK_FIELDMINUS), K5250_FIELDMINUS},
      {Key(TK_DUP), K5250_DUP},
      {Key(TK_SYSREQ), K5250_SYSREQ},
      {Key(TK_ATTN), K5250_ATTN},
      {Key(TK_UP), K5250_UP},
      {Key(TK_INS), K5250_INSERT},
      {Key(TK_KPMINUS), K5250_KPMINUS},
      {Key(TK_ALTA), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(blk5250_map_key(c.key), c.want) << std::hex << c.key;
}

// Settings 22 and 23 make the station active with the model of em5250idx;
// an index out of range is the default model; the terminal type follows
// the model; colour keys of 0 change nothing.
TEST(Block5250Settings, ModelTerminalTypeAndColours) {
  app_s* app = app_main_initialize();
  set_app(app);
  // A session is made without the station: it comes with the first 5250 setting.
  EXPECT_EQ(app->_te5250, nullptr);
  EXPECT_EQ(app->lptn3270, nullptr);
  struct Case {
    int emulate;
    const char* idx;
    int cols;
    const char* ttype;
  } cases[] = {{KVX_EM_IBM5250, "2", 80, "IBM-3179-2"},
               {KVX_EM_IBM5250_3477, "1", 132, "IBM-3477-FC"},
               {KVX_EM_IBM5250, "0", 80, "IBM-5555-C01"},
               {KVX_EM_IBM5250, "9", 80, "IBM-5555-C01"},
               {KVX_EM_IBM5250_3477, "-1", 80, "IBM-5555-C01"}};
  for (const Case& c : cases) {
    LumDict* dict = new LumDict();
    dict->setIntForKey("emulate", c.emulate);
    dict->setStringForKey("em5250idx", c.idx);
    dict->setStringForKey("5250colfg0", "0");  // green: no colour given
    dict->setStringForKey("5250colfg2", "13");  // white becomes table entry 12 (red)
    app_set_te_using_dictionary(app, dict);
    ASSERT_EQ(app->emlib, EM_TN5250) << c.idx;
    ASSERT_NE(app->_te5250, nullptr);
    ASSERT_NE(app->lptn5250, nullptr);
    EXPECT_EQ(app->lptn, app->lptn5250);
    EXPECT_EQ(app->_te5250->m_pSession->m_CurSize.cx, c.cols) << c.idx;
    EXPECT_EQ(dict->stringValueForKey("ibmterminalname"), c.ttype) << c.idx;
    EXPECT_EQ(app->_te5250->GetFGColor(0x20), 10) << "green stays";
    EXPECT_EQ(app->_te5250->GetFGColor(0x22), 12);
    std::vector<std::string> status = app_block_engine(app)->status();
    ASSERT_EQ(status.size(), 15u);
    EXPECT_EQ(status[12], "0") << "no key waits";
    EXPECT_EQ(status[0], "5250");
    EXPECT_EQ(status[1], c.ttype);
    EXPECT_EQ(status[3], std::to_string(c.cols));
    EXPECT_EQ(status[9], "") << "no host";
  }
  LumDict* dict = new LumDict();
  dict->setIntForKey("emulate", KVX_EM_XTERM);
  app_set_te_using_dictionary(app, dict);
  EXPECT_EQ(app->emlib, EM_UNIX);
}

// Macros wait for the station's screen hash: the engine gives the
// control's, and a screen with a field changes it.
TEST(Block5250Macros, ScreenHashIsTheStationsHash) {
  app_s* app = app_main_initialize();
  set_app(app);
  LumDict* dict = new LumDict();
  dict->setIntForKey("emulate", KVX_EM_IBM5250);
  app_set_te_using_dictionary(app, dict);
  BlockEngine* e = app_block_engine(app);
  ASSERT_NE(e, nullptr);
  const std::string before = e->screenHash();
  EXPECT_EQ(before, app->_te5250->ScreenHash());
  ASSERT_EQ(before.size(), 32u);
  EXPECT_EQ(before.find_first_not_of("0123456789abcdef"), std::string::npos) << before;
  // Clear Unit, then Write To Display with one input field.
  std::vector<uint8_t> rec = {0,    0,    0x12, 0xA0, 0,    0,    4,    0,    0,    OPCODE_PUTGET,
                              0x04, 0x40, 0x04, 0x11, 0x00, 0x08, 0x11, 0x02, 0x01, 0x1D,
                              0x40, 0x00, 0x24, 0x00, 0x05};
  rec[1] = static_cast<uint8_t>(rec.size());
  e->replayBegin();
  e->hostRecord(rec.data(), rec.size(), -1);
  e->replayEnd();
  const std::string after = e->screenHash();
  EXPECT_NE(after, before);
  EXPECT_EQ(after, app->_te5250->ScreenHash());
  LumDict* back = new LumDict();
  back->setIntForKey("emulate", KVX_EM_XTERM);
  app_set_te_using_dictionary(app, back);
}

// The status line of either station serialises to the fields of the STATUS
// frame, in their order; the 5250 station adds its operator error code (its
// last four digits) and the message-waiting flag.
TEST(BlockStatusLine, FieldsInTheOrderOfTheStatusFrame) {
  kvx_status_line s3270;
  s3270.family = KVX_EM_FAMILY_3270;
  s3270.terminalType = "IBM-3278-4-E";
  s3270.rows = 43;
  s3270.cols = 80;
  s3270.keyboard = "X WAIT";
  s3270.insert = true;
  s3270.cursorRow = 2;
  s3270.cursorCol = 79;
  s3270.link = "TN3270E";
  s3270.operatorError = 10;  // not a 3270 field
  EXPECT_EQ(kvx_status_line_fields(s3270),
            (std::vector<std::string>{"3270", "IBM-3278-4-E", "43", "80", "X WAIT", "1", "2", "79", "",
                                      "TN3270E", "", "0", "0", "", ""}));
  s3270.typeahead = 7;
  EXPECT_EQ(kvx_status_line_fields(s3270).at(12), "7") << "keys waiting in the typeahead ring";
  struct Case {
    int operatorError;
    bool messageWaiting;
    const char* code;
    const char* waiting;
  } cases[] = {
      {0, false, "", "0"}, {10, true, "0010", "1"}, {12345, false, "2345", "0"}, {-3, false, "", "0"}};
  for (const Case& c : cases) {
    kvx_status_line s;
    s.family = KVX_EM_FAMILY_5250;
    s.terminalType = "IBM-3179-2";
    s.rows = 24;
    s.cols = 80;
    s.session = "DISCONNECTED";
    s.operatorError = c.operatorError;
    s.messageWaiting = c.messageWaiting;
    EXPECT_EQ(kvx_status_line_fields(s),
              (std::vector<std::string>{"5250", "IBM-3179-2", "24", "80", "", "0", "0", "0", "DISCONNECTED",
                                        "", c.code, c.waiting, "0", "", ""}))
        << c.operatorError;
  }
}

// The device (LU) name and the host name follow the typeahead count as
// fields 13 and 14, for either station.
TEST(BlockStatusLine, DeviceAndHostFollowTheTypeaheadCount) {
  kvx_status_line s;
  s.family = KVX_EM_FAMILY_3270;
  s.terminalType = "IBM-3278-2-E";
  s.rows = 24;
  s.cols = 80;
  s.link = "TN3270E";
  s.device = "TCP00042";
  s.host = "mainframe.example";
  EXPECT_EQ(kvx_status_line_fields(s),
            (std::vector<std::string>{"3270", "IBM-3278-2-E", "24", "80", "", "0", "0", "0", "", "TN3270E", "",
                                      "0", "0", "TCP00042", "mainframe.example"}));
  s.family = KVX_EM_FAMILY_5250;
  s.link = "TN5250";
  s.device = "";
  s.messageWaiting = true;
  EXPECT_EQ(kvx_status_line_fields(s),
            (std::vector<std::string>{"5250", "IBM-3278-2-E", "24", "80", "", "0", "0", "0", "", "TN5250", "",
                                      "1", "0", "", "mainframe.example"}));
}

// The startup response record the host sends when asked for it: the
// device it confirms (EBCDIC, blank padded), none when the response code
// is an error; other records are not taken for it.
TEST(Block5250Startup, ResponseRecordGivesTheDeviceName) {
  auto record = [](const char* code, const char* device) {
    std::vector<uint8_t> r = {0, 0, 0x12, 0xA0, 0x90, 0x00, 0x05, 0x60, 0x06, 0x00, 0x20, 0xC0, 0x00, 0x3D, 0, 0};
    auto ebcdic = [&](const char* text, size_t width) {
      for (size_t i = 0; i < width; i++) {
        const int c = i < strlen(text) ? text[i] : ' ';
        r.push_back(static_cast<uint8_t>(te3270_unicode_to_ebcdic(0, static_cast<uint32_t>(c))));
      }
    };
    ebcdic(code, 4);
    ebcdic("SYSTEM1", 8);
    ebcdic(device, 10);
    r.resize(0x49, 0);
    r[1] = static_cast<uint8_t>(r.size());
    return r;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> rec;
    bool startup;
    const char* device;
  } cases[] = {
      {"device given", record("I902", "QPADEV0003"), true, "QPADEV0003"},
      {"named device", record("I901", "DSP01"), true, "DSP01"},
      {"device not available", record("8902", "DSP01"), true, ""},
      {"an ordinary record", {0, 10, 0x12, 0xA0, 0, 0, 4, 0, 0, 3}, false, ""},
      {"too short for a header", {0, 4, 0x12, 0xA0}, false, ""},
  };
  for (const Case& c : cases) {
    std::string device = "before";
    EXPECT_EQ(blk5250_startup_device(c.rec.data(), c.rec.size(), &device), c.startup) << c.name;
    EXPECT_EQ(device, c.startup ? c.device : "before") << c.name;
  }
}

}  // namespace
