// The IBM 5250 station in the session: the 5250 settings (model, terminal
// type, field dots, colours, code page), the keys of browsers and macros,
// the records the station sends, the status line, click-to-position and
// capture replay.
#include "block5250.h"

#include <cstdio>
#include <deque>
#include <string>

#include "keyname.h"
#include "lumdict.h"
#include "platform.h"
#include "settings.h"
#include "tcs.h"
#include "te3270/te3270.h"
#include "te5250/te5250.h"
#include "te5250/te5250_session.h"
#include "te5250/te5250_window.h"
#include "tetrace.h"

namespace {

// Colour slots of the 5250 colour keys: the default foreground each
// replaces.
struct ColorKey {
  const char* key;
  int slot;
};
constexpr ColorKey kColorKeys[] = {
    {"5250colfg0", 10},  {"5250colfg16", 11}, {"5250colfg8", 12}, {"5250colfg24", 13},
    {"5250colfg18", 14}, {"5250colfg2", 15},  {"5250colfg26", 9},
};

class Blk5250 : public BlockEngine {
 public:
  explicit Blk5250(app_s* app) : app_(app), view_(&t_) {
    t_.is5250 = true;
    ctrl_.SetView(&view_);
    ctrl_.SetSendHook(&Blk5250::Sent, this);
    // The window shows the default model until the settings name another.
    ctrl_.SetModel(EMU_3179);
  }

  te3270* record() { return &t_; }
  CTe5250Ctrl* control() { return &ctrl_; }

  fws_window* window() override { return &t_; }

  bool select(int emulation) override { return kvx_em_is_5250(emulation); }

  void applySettings(LumDict* dict) override {
    // The model is taken before a connection; one that runs keeps its screen.
    const int idx = dict->intValueForKey("em5250idx");
    const int model = idx >= EMU_3179 && idx <= EMU_5555 ? idx : EMU_3179;
    dict->setStringForKey("ibmterminalname", CTe5250Ctrl::GetNameByIndex(model));
    if (!app_is_connected(app_) && model != ctrl_.Model()) ctrl_.SetModel(model);
    const bool dots = dict->boolValueForKey("FieldDots");
    view_.SetFieldDots(dots);
    ctrl_.SetFieldDots(dots);
    for (int n = 0; n < FWS_RGBMAP_SIZE; n++) {
      char key[16];
      std::snprintf(key, sizeof key, "RGBMap%d", n);
      if (const char* v = dict->charValueForKey(key)) ctrl_.SetRGBEntry(n, app_colorref_from_string(v));
    }
    // Colour indexes count from 1; 0 or a missing key leaves the default.
    for (const ColorKey& c : kColorKeys) ctrl_.SetFGColorWithColor(c.slot, dict->intValueForKey(c.key) - 1);
    ctrl_.SetBGColorWithColor(dict->intValueForKey("colorbg0") - 1);
    const std::string cp = dict->stringValueForKey("cptrxin");
    if (cp != codepage_) {
      codepage_ = cp;
      if (!cp.empty() && ctrl_.SetEmInCP(app_codepage_file_path(1), (cp + ".unicode").c_str()) != 0)
        TE_Trace(TRACE_5250, "5250: no code page \"%s\"; US EBCDIC stays\n", cp.c_str());
    }
  }

  void connecting() override {}
  void connected() override {
    out_.clear();
    device_.clear();
    ctrl_.OnConnect();
  }
  void disconnected() override {
    ctrl_.OnDisconnect();
    out_.clear();
  }

  void hostRecord(const uint8_t* bytes, size_t n, int) override {
    // The startup response record confirms the device; it is no screen.
    if (blk5250_startup_device(bytes, n, &device_)) return;
    ctrl_.GotData(bytes, n, true);
  }

  std::string confirmedDevice() const override { return device_; }

  bool takeRecord(std::vector<uint8_t>& out) override {
    if (out_.empty()) return false;
    out = std::move(out_.front());
    out_.pop_front();
    return true;
  }

  // The record header (10 bytes), the cursor's row and column and the AID.
  size_t recordHead(const std::vector<uint8_t>&) const override { return 13; }

  bool key(int code, bool) override {
    const int k = blk5250_map_key(code);
    if (k == 0) return false;
    if (k < 0)
      ctrl_.ProcessChar(static_cast<uint16_t>(-1 - k));
    else
      ctrl_.ProcessKey(k);
    return true;
  }

  void cursor(int& row, int& col) const override {
    const CSesStruct* s = ctrl_.m_pSession;
    row = s->Row(s->m_CursorAddress) - 1;
    col = s->Col(s->m_CursorAddress) - 1;
  }

  bool moveCursor(int row, int col) override {
    const CSesStruct* s = ctrl_.m_pSession;
    if (row < 0 || col < 0 || row >= s->m_CurSize.cy || col >= s->m_CurSize.cx) return false;
    ctrl_.MoveCursor(col, s->m_CurSize.cy - 1 - row);
    return true;
  }

  // The screen's hash for macros: its attribute positions (CTe5250Ctrl).
  std::string screenHash() const override { return ctrl_.ScreenHash(); }

  kvx_status_line statusLine() const override {
    const C5250Status st = ctrl_.Status();
    const CSesStruct* ses = ctrl_.m_pSession;
    const bool online = app_is_connected(app_) && !replaying_;
    kvx_status_line s;
    s.family = KVX_EM_FAMILY_5250;
    s.terminalType = CTe5250Ctrl::GetNameByIndex(ctrl_.Model());
    s.rows = ses->m_CurSize.cy;
    s.cols = ses->m_CurSize.cx;
    if (online) s.keyboard = st.Indicator();
    s.insert = st.insert;
    cursor(s.cursorRow, s.cursorCol);
    s.session = t_.status_msg;
    if (online) s.link = "TN5250";
    if (online) s.operatorError = st.errorCode;
    s.messageWaiting = online && st.messageWaiting;
    s.typeahead = st.typeahead;
    return s;
  }

  void replayBegin() override {
    replaying_ = true;
    // A capture plays into a station that no host has made ready.
    if (!app_is_connected(app_)) ctrl_.OnConnect();
  }
  void replayEnd() override {
    replaying_ = false;
    out_.clear();
    if (!app_is_connected(app_)) ctrl_.OnDisconnect();
  }

 private:
  static int Sent(void* owner, const uint8_t* bytes, int length) {
    Blk5250* e = static_cast<Blk5250*>(owner);
    if (!e->replaying_) e->out_.emplace_back(bytes, bytes + length);
    return length;
  }

  app_s* app_;
  te3270 t_;
  CFwsCtrl view_;
  CTe5250Ctrl ctrl_;
  std::deque<std::vector<uint8_t>> out_;
  std::string codepage_;
  std::string device_;  // the device name of the startup response record
  bool replaying_ = false;
};

}  // namespace

bool blk5250_startup_device(const uint8_t* rec, size_t n, std::string* device) {
  // Record type 12A0 with 9000 where other records hold 0000.
  if (n < 10 || rec[2] != 0x12 || rec[3] != 0xA0 || rec[4] != 0x90 || rec[5] != 0x00) return false;
  // The response code (bytes 16-19) begins with 'I' when the device was
  // given; the device name is bytes 28-37, EBCDIC, padded with blanks.
  device->clear();
  if (n < 38 || rec[16] != 0xC9) return true;
  const uint16_t* us = TCSEbcdicToUnicode(37);
  std::string name;
  for (size_t k = 28; k < 38; k++) {
    const uint16_t u = us[rec[k]];
    if (u <= 0x20 || u >= 0x7F) break;
    name += static_cast<char>(u);
  }
  *device = name;
  return true;
}

int blk5250_map_key(int key) {
  const int keyLast =
      TCS_KEY_UNICODE_BASE + (static_cast<int>(TK_BLOCK_LAST) - static_cast<int>(TCS_TK_FIRST));
  if (key >= TCS_KEY_UNICODE_BASE && key <= keyLast) {
    const int k = key - TCS_KEY_UNICODE_BASE + static_cast<int>(TCS_TK_FIRST);
    if (k >= TK_F1 && k < TK_F1 + 12) return K5250_PF1 + (k - TK_F1);
    if (k >= TK_F1 + 12 && k <= TK_F20) return K5250_PF1 + 12 + (k - TK_F1 - 12);
    if (k >= TK_SF1 && k < TK_SF1 + 12) return K5250_PF1 + 12 + (k - TK_SF1);
    if (k >= TK_KP0 && k <= TK_KP9) return -1 - ('0' + (k - TK_KP0));
    switch (k) {
      case TK_KPDOT:
        return -1 - '.';
      case TK_KPCOMMA:
        return -1 - ',';
      case TK_KPENTER:
      case TK_C_ENTER:
        return K5250_ENTER;
      case TK_S_TAB:
        return K5250_BACKTAB;
      case TK_END:
        return K5250_END;
      case TK_HELP:
        return K5250_HELP;
      case TK_PGDN:
        return K5250_ROLLUP;
      case TK_PGUP:
        return K5250_ROLLDOWN;
      case TK_RESET:
        return K5250_RESET;
      case TK_PRINT:
        return K5250_PRINT;
      default:
        break;
    }
    // The 5250 keys and the cursor and editing keys the station knows.
    if ((k >= TK_BLOCK_FIRST && k <= TK_BLOCK_LAST) || k == TK_UP || k == TK_DOWN || k == TK_LEFT ||
        k == TK_RIGHT || k == TK_HOME || k == TK_INS || k == TK_DEL || k == TK_BACKSPACE || k == TK_KPMINUS ||
        k == TK_KPPLUS || k == TK_KPSTAR || k == TK_KPSLASH)
      return k;
    return 0;
  }
  switch (key) {
    case 0x0D:
    case 0x0A:
      return K5250_ENTER;
    case 0x09:
      return K5250_TAB;
    case 0x08:
      return K5250_BACKSPACE;
    case 0x1B:
      return K5250_RESET;
    case 0x7F:
      return K5250_DELETE;
    default:
      break;
  }
  if (key < 0x20 || key > 0xFFFF || (key >= 0xD800 && key <= 0xF8FF)) return 0;
  return -1 - key;
}

BlockEngine* blk5250_new(app_s* app) {
  return new Blk5250(app);
}

te3270* blk5250_record(BlockEngine* engine) {
  return static_cast<Blk5250*>(engine)->record();
}

CTe5250Ctrl* blk5250_control(BlockEngine* engine) {
  return static_cast<Blk5250*>(engine)->control();
}
