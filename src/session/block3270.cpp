// The IBM 3270 engine in the session: the 3270 settings (model, extended
// attributes, terminal type, underlined fields, colours, code page), the
// keyboard mapping from browser and macro keys to 3270 keyboard functions,
// TN3270E headers on what is sent and responses to the host's requests,
// the status line, click-to-position, capture replay and the banner text.
#include "block3270.h"

#include <algorithm>
#include <cstdio>
#include <deque>

#include "keyname.h"
#include "lumdict.h"
#include "settings.h"
#include "tcs.h"
#include "te3270/te3270.h"
#include "tetrace.h"

namespace {

// TN3270E functions (bits of the connection's Tn3270eFunctions).
constexpr int kFnResponses = 1 << 2;
constexpr int kFnSysreq = 1 << 4;
constexpr int kFnContention = 1 << 5;

// ---- keyboard mapping ----

blk3270_key fn(int f, int code = 0) {
  return {blk3270_key::FUNCTION, f, code};
}
blk3270_key aid(uint8_t a) {
  return fn(FCN_AID, a);
}
blk3270_key none() {
  return {};
}

// A character key: the EBCDIC code of the locale, or nothing.
blk3270_key character(int cp, int locale) {
  int e = te3270_unicode_to_ebcdic(locale, static_cast<uint32_t>(cp));
  return e < 0 ? none() : fn(FCN_CHARACTER, e);
}

// The second key of ESC and ^P sequences: ESC 1..9 0 - = are PF1-PF12,
// ESC ! @ # $ % ^ & * ( ) _ + PF13-PF24, ESC blank insert; ^P 1..3 PA1-PA3.
blk3270_key sequence(int prefix, int key) {
  static const char kPF[] = "1234567890-=!@#$%^&*()_+";
  if (prefix == 0x1B) {
    if (key == ' ') return fn(FCN_INSRT);
    for (int i = 0; i < 24; i++)
      if (key == kPF[i]) return aid(te3270_pf_aid(i + 1));
    return none();
  }
  if (key >= '1' && key <= '3') return aid(key == '1' ? AID_PA1 : key == '2' ? AID_PA2 : AID_PA3);
  return none();
}

// Control characters, as the key-definition map names them.
blk3270_key control(int key, bool destructiveBackspace) {
  switch (key) {
    case 0x1A: return aid(AID_CLEAR);                                // ^Z
    case 0x0D: return aid(AID_ENTER);                                // ^M
    case 0x04: case 0x7F: return fn(FCN_DELETE);                     // ^D, DEL
    case 0x05: return fn(FCN_EEOF);                                  // ^E
    case 0x09: return fn(FCN_TAB);                                   // ^I
    case 0x02: return fn(FCN_BTAB);                                  // ^B
    case 0x0E: return fn(FCN_NL);                                    // ^N
    case 0x08: return fn(destructiveBackspace ? FCN_ERASE : FCN_LEFT);  // ^H, backspace
    case 0x0C: return fn(FCN_RIGHT);                                 // ^L
    case 0x0B: return fn(FCN_UP);                                    // ^K
    case 0x0A: return fn(FCN_DOWN);                                  // ^J
    case 0x17: return fn(FCN_EINP);                                  // ^W
    case 0x14: return fn(FCN_RESET);                                 // ^T
    case 0x15: return fn(FCN_ERASE);                                 // ^U
    case 0x19: case 0x1E: return fn(FCN_FM);                         // ^Y, field mark
    case 0x1C: return fn(FCN_DP);                                    // dup
    case 0x16: return fn(FCN_RESHOW);                                // ^V
    case 0x18: case 0x12: case 0x13: case 0x11: case 0x03: case 0x01:
      return {blk3270_key::IGNORED};  // ^X ^R ^S ^Q ^C ^A: named, no function
  }
  return none();
}

// Keys of the private-use block (terminal and 3270 keys).
blk3270_key terminal_key(int k, bool destructiveBackspace) {
  if (k >= TK_F1 && k <= TK_F20) return aid(te3270_pf_aid(k - TK_F1 + 1));
  if (k >= TK_SF1 && k < TK_SF1 + 12) return aid(te3270_pf_aid(k - TK_SF1 + 13));
  if (k >= TK_PF1 && k <= TK_PF24) return aid(te3270_pf_aid(k - TK_PF1 + 1));
  if (k >= TK_KP0 && k <= TK_KP9) return fn(FCN_CHARACTER, 0xF0 + (k - TK_KP0));
  switch (k) {
    case TK_UP: return fn(FCN_UP);
    case TK_DOWN: return fn(FCN_DOWN);
    case TK_RIGHT: return fn(FCN_RIGHT);
    case TK_LEFT: return fn(FCN_LEFT);
    case TK_HOME: return fn(FCN_HOME);
    case TK_KPMINUS: return fn(FCN_CHARACTER, 0x60);
    case TK_KPCOMMA: return fn(FCN_CHARACTER, 0x6B);
    case TK_KPDOT: return fn(FCN_CHARACTER, 0x4B);
    case TK_KPSTAR: return fn(FCN_CHARACTER, 0x5C);
    case TK_KPPLUS: return fn(FCN_CHARACTER, 0x4E);
    case TK_KPSLASH: return fn(FCN_CHARACTER, 0x61);
    case TK_KPENTER: return aid(AID_ENTER);
    case TK_C_ENTER: return fn(FCN_NL);
    case TK_INS: return fn(FCN_INSRT);
    case TK_DEL: return fn(FCN_DELETE);
    case TK_BACKSPACE: return fn(destructiveBackspace ? FCN_ERASE : FCN_LEFT);
    case TK_S_TAB: case TK_BACKTAB: return fn(FCN_BTAB);
    case TK_PA1: return aid(AID_PA1);
    case TK_PA1 + 1: return aid(AID_PA2);
    case TK_PA3: return aid(AID_PA3);
    case TK_CLEAR: return aid(AID_CLEAR);
    case TK_ERASEINPUT: return fn(FCN_EINP);
    case TK_ERASEEOF: return fn(FCN_EEOF);
    case TK_ATTN: return {blk3270_key::ATTN};
    case TK_SYSREQ: return {blk3270_key::SYSREQ};
    case TK_TSTREQ: return fn(FCN_TESTREQ);
    case TK_CURSEL: return fn(FCN_CURSEL);
    case TK_REDISPLAY: return fn(FCN_RESHOW);
    case TK_NEWLINE: return fn(FCN_NL);
    case TK_FIELDMARK: return fn(FCN_FM);
    case TK_DUP: return fn(FCN_DP);
    case TK_MASTERRESET: return fn(FCN_MASTER_RESET);
    case TK_RESET: case TK_ERRORRESET: return fn(FCN_RESET);
    case TK_CENTSIGN: return fn(FCN_CHARACTER, 0x4A);
    case TK_ERASE: case TK_ERASEFIELD: return {blk3270_key::IGNORED};
  }
  return none();
}

// Colour of a 1-based index into the emulation colour table; false for an
// index that selects no entry.
bool table_color(const te3270* t, int index, COLORREF* out) {
  if (index < 1 || index > FWS_RGBMAP_SIZE) return false;
  *out = t->TNRGBMap[index - 1];
  return true;
}

int locale_of(const std::string& name) {
  return TCSEbcdicLocaleNamed(name.c_str()).locale;
}

class Blk3270 : public BlockEngine {
 public:
  explicit Blk3270(app_s* app) : app_(app) {}
  ~Blk3270() override { TE3270Destroy(t_); }

  bool init() {
    t_ = TE3270Init(nullptr, nullptr, 1);
    return t_ != nullptr;
  }
  te3270* record() { return t_; }

  fws_window* window() override { return t_; }

  bool select(int emulation) override {
    if (!kvx_em_is_3270(emulation)) return false;
    // The model is the configured one; an engine that runs already keeps
    // its screen.
    if (!active_ || t_->emode != model_) emu_changeto(t_, model_);
    active_ = true;
    return true;
  }

  void applySettings(LumDict* dict) override {
    int idx = dict->intValueForKey("em3270idx");
    model_ = (idx >= 0 && idx <= 3 ? idx : 0) + 1;
    extattr_ = dict->boolValueForKey("TE3270EnExAtt");
    // A custom size larger than the model (rows x columns): the terminal
    // announces IBM-DYNAMIC and that size as its maximum.
    int rows = dict->intValueForKey("em3270rows"), cols = dict->intValueForKey("em3270cols");
    if ((rows || cols) && (rows < 24 || cols < 80 || rows > TE3270_MAXROWS || cols > TE3270_MAXCOLS)) {
      TE_Trace(TRACE_3270 | TRACE_FAIL, "3270: custom size %dx%d outside 24x80..%dx%d; the model's size stays\n",
               rows, cols, TE3270_MAXROWS, TE3270_MAXCOLS);
      rows = cols = 0;
    }
    const bool resize = rows != t_->customLines || cols != t_->customColumns;
    if (resize) te3270_set_custom_size(t_, rows, cols);  // (the sizes of a bind in force stay otherwise)
    dict->setStringForKey("ibmterminalname", rows ? "IBM-DYNAMIC" : get_ttype(model_, extattr_));
    t_->underlineFields = dict->boolValueForKey("underlineFields");
    std::string blank = dict->stringValueForKey("IBMBlankChar");
    t_->passwordBlank = blank.empty() ? 0 : static_cast<unsigned char>(blank[0]);
    destructiveBackspace_ = dict->boolValueForKey("bsdel");
    te3270_set_locale(t_, locale_of(dict->stringValueForKey("cptrxin")));
    if (t_->emode != model_ || resize) emu_changeto(t_, model_);
    applyColors(dict);
    InvalidateScreen(t_);
    DoTerminalOutput(t_);
  }

  void connecting() override {}
  void connected() override {
    te3270_connected(t_);
    framing_ = -1;
    seq_ = {};
    DoTerminalOutput(t_);
  }
  void disconnected() override {
    te3270_disconnected(t_);
    framing_ = -1;
    seq_ = {};
    out_.clear();
  }

  void hostRecord(const uint8_t* b, size_t n, int tn3270e) override {
    framing_ = tn3270e;
    t_->contention = tn3270e >= 0 && (tn3270e & kFnContention);
    if (tn3270e < 0) {
      DataFromNetwork(t_, b, static_cast<int>(n), 1);
      queueReplies();
      return;
    }
    tn3270e_header h;
    if (!tn3270e_parse(b, static_cast<int>(n), &h)) return;
    te3270_tn3270e_record(t_, b, static_cast<int>(n));
    queueReplies();
    respond(h, tn3270e);
  }

  void hostText(const uint8_t* b, size_t n) override {
    te3270_line_text(t_, b, static_cast<int>(n), true);
    DoTerminalOutput(t_);
  }

  bool takeRecord(std::vector<uint8_t>& out) override {
    queueReplies();
    if (out_.empty()) return false;
    out = std::move(out_.front());
    out_.pop_front();
    return true;
  }

  // The TN3270E header, then, in 3270 data, the AID and the cursor address
  // (an SSCP-LU line is all typed text).
  size_t recordHead(const std::vector<uint8_t>& record) const override {
    if (framing_ < 0) return 3;
    return record.empty() || record[0] != 0x00 ? 5 : 8;
  }

  bool key(int code, bool) override {
    blk3270_key k = blk3270_map_key(code, t_->locale, destructiveBackspace_, seq_);
    switch (k.kind) {
      case blk3270_key::FUNCTION:
        te3270_key(t_, k.fcn, k.code);
        return true;
      case blk3270_key::ATTN: {
        // IAC IP in a bound TN3270E session, IAC BREAK otherwise.
        const char cmd[2] = {static_cast<char>(0xFF), static_cast<char>(framing_ >= 0 && t_->bound ? 0xF4 : 0xF3)};
        if (app_is_connected(app_)) app_bcomout_raw(app_, cmd, 2);
        return true;
      }
      case blk3270_key::SYSREQ: {
        if (!app_is_connected(app_)) return false;
        if (framing_ >= 0 && (framing_ & kFnSysreq)) {
          static const char ao[2] = {static_cast<char>(0xFF), static_cast<char>(0xF5)};
          app_bcomout_raw(app_, ao, 2);
        } else {
          // Plain TN3270: a Test Request read, ahead of any waiting keys.
          AcceptKeystroke(t_, FCN_TESTREQ, 0);
          DoTerminalOutput(t_);
        }
        return true;
      }
      case blk3270_key::PENDING:
      case blk3270_key::IGNORED:
        return true;
      case blk3270_key::NONE:
        break;
    }
    return false;
  }

  void cursor(int& row, int& col) const override {
    int cols = std::max(t_->NumberColumns, 1);
    row = t_->CursorAddress / cols;
    col = t_->CursorAddress % cols;
  }

  bool moveCursor(int row, int col) override {
    if (row < 0 || col < 0 || row >= t_->NumberLines || col >= t_->NumberColumns) return false;
    t_->CursorAddress = row * t_->NumberColumns + col;
    DoTerminalOutput(t_);
    return true;
  }

  kvx_status_line statusLine() const override {
    kvx_status_line s;
    s.family = KVX_EM_FAMILY_3270;
    s.terminalType = te3270_terminal_type(t_, extattr_);
    s.rows = t_->NumberLines;
    s.cols = t_->NumberColumns;
    const bool online = t_->online && !replaying_;
    if (online) {
      switch (t_->OperatorError) {
        case OERR_PROTECTED: s.keyboard = "X PROT"; break;
        case OERR_NUMERIC: s.keyboard = "X NUM"; break;
        case OERR_OVERFLOW: s.keyboard = "X OVERFLOW"; break;
        default:
          if (t_->StatTermWait)
            s.keyboard = "X WAIT";
          else if (te3270_input_inhibited(t_))
            s.keyboard = "X SYSTEM";
      }
    }
    s.insert = t_->InsertMode;
    cursor(s.cursorRow, s.cursorCol);
    s.session = t_->status_msg;
    if (online) s.link = t_->sscpMode ? "SSCP-LU" : framing_ >= 0 ? "TN3270E" : "TN3270";
    s.typeahead = te3270_typeahead(t_);
    return s;
  }

  std::string screenHash() const override { return ScreenHash(t_); }

  void replayBegin() override {
    replaying_ = true;
    savedFraming_ = framing_;
    t_->screenStopped = true;
  }
  void replayEnd() override {
    t_->screenStopped = false;
    replaying_ = false;
    framing_ = savedFraming_;
    te3270_drop_replies(t_);
    InvalidateScreen(t_);
    DoTerminalOutput(t_);
  }

  // A stream as if the host had sent it: the position, then a field of the
  // type's attribute (and colour) holding the text.  (One write: a write
  // starts at the cursor, so the position must be in the same one.)
  void writeText(int type, int row, int col, const char* text) override {
    int addr = (row - 1) * t_->NumberColumns + (col - 1);
    uint8_t code[2];
    if (!text || !te3270_encode_address(t_, addr, code)) return;
    std::vector<uint8_t> field = {0x01, 0x02, 0x11, code[0], code[1]};
    uint8_t attr = type == 0 ? 0x28 : type == 1 ? 0x20 : type == 2 ? 0x08 : 0x00;
    if (type > 3) {
      uint8_t color = type >= 5 && type <= 10 ? static_cast<uint8_t>(0xF1 + (type - 5))
                      : type == 11           ? 0xF8
                      : type == 12           ? 0xFF
                                             : 0x00;
      field.insert(field.end(), {0x29, 0x03, 0xC0, attr, 0x42, color, 0x45, color});
    } else {
      field.insert(field.end(), {0x1D, attr});
    }
    for (const char* p = text; *p; p++) {
      int e = te3270_unicode_to_ebcdic(t_->locale, static_cast<unsigned char>(*p));
      field.push_back(static_cast<uint8_t>(e < 0 ? 0x40 : e));
    }
    DataFromNetwork(t_, field.data(), static_cast<int>(field.size()), 1);
    te3270_drop_replies(t_);
  }

 private:
  void applyColors(LumDict* dict) {
    for (int n = 0; n < FWS_RGBMAP_SIZE; n++) {
      char key[16];
      std::snprintf(key, sizeof key, "RGBMap%d", n);
      if (const char* v = dict->charValueForKey(key)) t_->TNRGBMap[n] = app_colorref_from_string(v);
    }
    // The four field colours: "3270colfg%d" when any is set, else colorfg6,
    // 5, 8, 7 (protected intensified, protected, unprotected intensified,
    // unprotected).
    bool own = false;
    for (int k = 0; k < 4; k++) {
      char key[16];
      std::snprintf(key, sizeof key, "3270colfg%d", k);
      if (!dict->stringValueForKey(key).empty()) own = true;
    }
    static const char* const kFallback[4] = {"colorfg6", "colorfg5", "colorfg8", "colorfg7"};
    for (int k = 0; k < 4; k++) {
      char key[16];
      std::snprintf(key, sizeof key, "3270colfg%d", k);
      COLORREF c;
      if (table_color(t_, dict->intValueForKey(own ? key : kFallback[k]), &c)) t_->fgcolor[k] = c;
    }
    COLORREF bg;
    if (table_color(t_, dict->intValueForKey("colorbg0"), &bg)) {
      for (COLORREF& b : t_->bgcolor) b = bg;
      SetBGColor(t_, TNF_DEFAULT, bg);
    }
  }

  // Replies the engine queued, with the TN3270E header their data type
  // needs when the session uses TN3270E.
  void queueReplies() {
    std::vector<uint8_t> r;
    uint8_t type;
    while (te3270_take_reply(t_, r, &type)) {
      if (framing_ >= 0) r.insert(r.begin(), {type, 0x00, 0x00, 0x00, 0x00});
      out_.push_back(std::move(r));
    }
  }

  // A response to every record that asked for one (RESPONSES agreed; 3270
  // and SCS data, SSCP-LU data, a BID): positive (device end) when asked
  // always and all went well, negative with the sense (COMMAND-REJECT,
  // OPERATION-CHECK) when asked always or on error and the record was
  // stopped.
  void respond(const tn3270e_header& h, int functions) {
    if (!(functions & kFnResponses)) return;
    if (h.type != TN3270E_3270_DATA && h.type != TN3270E_SCS_DATA && h.type != TN3270E_SSCP_LU_DATA &&
        h.type != TN3270E_BID)
      return;
    bool failed = h.type == TN3270E_3270_DATA && t_->dsError != DS_OK;
    if (h.response == TN3270E_RSF_ALWAYS_RESPONSE || (h.response == TN3270E_RSF_ERROR_RESPONSE && failed)) {
      uint8_t seqHi = static_cast<uint8_t>(h.seq >> 8), seqLo = static_cast<uint8_t>(h.seq);
      out_.push_back({TN3270E_RESPONSE, 0x00,
                      static_cast<uint8_t>(failed ? TN3270E_NEGATIVE_RESPONSE : TN3270E_POSITIVE_RESPONSE), seqHi,
                      seqLo, static_cast<uint8_t>(failed ? t_->dsError : TN3270E_DEVICE_END)});
    }
  }

  app_s* app_;
  te3270* t_ = nullptr;
  int model_ = 1;
  bool extattr_ = false;
  bool active_ = false;
  bool destructiveBackspace_ = false;
  bool replaying_ = false;
  int framing_ = -1;  // TN3270E functions of the last record, -1 plain
  int savedFraming_ = -1;
  blk3270_keyseq seq_;
  std::deque<std::vector<uint8_t>> out_;
};

}  // namespace

blk3270_key blk3270_map_key(int key, int locale, bool destructiveBackspace, blk3270_keyseq& seq) {
  // Keys of the private-use block stand for key codes 256 and up.
  const int keyLast = TCS_KEY_UNICODE_BASE + (static_cast<int>(TK_BLOCK_LAST) - static_cast<int>(TCS_TK_FIRST));
  const bool terminal = key >= TCS_KEY_UNICODE_BASE && key <= keyLast;
  if (seq.prefix) {
    // Every key continues a sequence that was begun: ESC 1 is PF1.
    int prefix = seq.prefix;
    seq.prefix = 0;
    return terminal ? none() : sequence(prefix, key);
  }
  if (terminal) return terminal_key(key - TCS_KEY_UNICODE_BASE + static_cast<int>(TCS_TK_FIRST), destructiveBackspace);
  if (key == 0x1B || key == 0x10) {
    seq.prefix = key;
    return {blk3270_key::PENDING};
  }
  if (key < 0x20 || key == 0x7F) return control(key, destructiveBackspace);
  if (key > 0xFFFF || (key >= 0xD800 && key <= 0xF8FF)) return none();
  return character(key, locale);
}

BlockEngine* blk3270_new(app_s* app) {
  auto* e = new Blk3270(app);
  if (!e->init()) {
    delete e;
    return nullptr;
  }
  return e;
}

te3270* blk3270_record(BlockEngine* engine) {
  return static_cast<Blk3270*>(engine)->record();
}
