// Inbound records: Read Buffer, Read Modified (All) and AID replies, the
// query reply, and the bounded queue they wait in until the owner sends
// them.  A reply is always built whole; nothing here blocks or halts.
#include <algorithm>
#include <iterator>

#include "tcs.h"
#include "te3270_internal.h"
#include "tetrace.h"

namespace {

class Reply {
 public:
  explicit Reply(te3270* t) : t_(t) { b_.reserve(256); }

  void byte(uint8_t v) { b_.push_back(v); }
  void bytes(std::initializer_list<uint8_t> v) { b_.insert(b_.end(), v); }
  void word(int v) {
    byte((uint8_t)(v >> 8));
    byte((uint8_t)v);
  }
  void address(int a) {
    uint8_t e[2] = {0x40, 0x40};
    te3270_encode_address(t_, a, e);
    byte(e[0]);
    byte(e[1]);
  }

  // A character cell (GE characters with their escape), with the SA
  // orders character reply mode asks for where its attributes change.
  void character(int a) {
    te3270* t = t_;
    if (t->replyMode == REPLY_CHARACTER) {
      for (int k = 0; k < t->replyAttrCount; k++) {
        uint8_t type = t->replyAttrTypes[k];
        uint8_t want = attr_value(t->HostAttrs[a], type);
        uint8_t& have = current(type);
        if (want != have) {
          bytes({0x28, type, want});
          have = want;
        }
      }
    }
    if (t->FA[a] & FA_IS_GE) byte(0x08);
    byte(t->Host[a]);
  }

  // A field attribute as SF, or SFE with its extended attributes in the
  // extended reply modes.
  void attribute(int a) {
    te3270* t = t_;
    uint8_t code = te3270_code6(t->Host[a] & 0x3F);
    if (t->replyMode == REPLY_FIELD) {
      bytes({0x1D, code});
      return;
    }
    uint32_t x = t->HostAttrs[a];
    uint8_t pairs[4][2];
    int n = 0;
    for (uint8_t type : {(uint8_t)0x41, (uint8_t)0x42, (uint8_t)0x45, (uint8_t)0x43}) {
      uint8_t v = attr_value(x, type);
      if (v) pairs[n][0] = type, pairs[n][1] = v, n++;
    }
    bytes({0x29, (uint8_t)(n + 1), 0xC0, code});
    for (int k = 0; k < n; k++) bytes({pairs[k][0], pairs[k][1]});
  }

  std::vector<uint8_t>& data() { return b_; }

 private:
  static uint8_t attr_value(uint32_t x, uint8_t type) {
    switch (type) {
      case 0x41:
        return (uint8_t)(x & XA_HILITE);
      case 0x42:
        return (uint8_t)((x & XA_FG) >> XA_FG_SHIFT);
      case 0x45:
        return (uint8_t)((x & XA_BG) >> XA_BG_SHIFT);
      case 0x43:
        return (uint8_t)((x & XA_CHARSET) >> XA_CHARSET_SHIFT);
    }
    return 0;
  }
  uint8_t& current(uint8_t type) {
    switch (type) {
      case 0x41:
        return cur_[0];
      case 0x42:
        return cur_[1];
      case 0x45:
        return cur_[2];
    }
    return cur_[3];
  }

  te3270* t_;
  std::vector<uint8_t> b_;
  uint8_t cur_[4] = {0, 0, 0, 0};
};

bool short_read(int aid) {
  return aid == AID_PA1 || aid == AID_PA2 || aid == AID_PA3 || aid == AID_CLEAR;
}

}  // namespace

bool te3270_queue_reply(te3270* t, std::vector<uint8_t>&& reply) {
  if (!t->online || t->screenStopped) {
    TE_Trace(TRACE_3270_DS, "3270: reply of %zu bytes dropped (no host takes it)\n", reply.size());
    return false;
  }
  if ((int)t->replies.size() >= TE3270_REPLY_QUEUE || t->replyBytes + reply.size() > TE3270_REPLY_BYTES) {
    TE_Trace(TRACE_3270_DS | TRACE_FAIL, "3270: reply queue full, reply of %zu bytes dropped\n", reply.size());
    return false;
  }
  t->replyBytes += reply.size();
  t->replies.push_back({t->sscpMode ? TN3270E_SSCP_LU_DATA : TN3270E_3270_DATA, std::move(reply)});
  if (t->tx_send) t->tx_send(t->owner);
  return true;
}

bool te3270_reply_pending(const te3270* t) {
  return !t->replies.empty();
}

bool te3270_take_reply(te3270* t, std::vector<uint8_t>& out, uint8_t* type) {
  if (t->replies.empty()) return false;
  out = std::move(t->replies.front().bytes);
  if (type) *type = t->replies.front().type;
  t->replies.pop_front();
  t->replyBytes -= std::min(t->replyBytes, out.size());
  return true;
}

void te3270_drop_replies(te3270* t) {
  t->replies.clear();
  t->replyBytes = 0;
}

// The session state a new connection, or its end, starts from: no bind,
// the terminal's own sizes, plain framing.
static void session_reset(te3270* t) {
  te3270_drop_replies(t);
  t->bTN3270E = false;
  t->sscpMode = false;
  t->bound = false;
  t->bidLocked = false;
  set_emulation_screen_sizes(t);
}

void te3270_connected(te3270* t) {
  session_reset(t);
  // Keys typed before the connection wait for the host's first unlock.
  te3270::Keystroke waiting[TE3270_TYPEAHEAD];
  int head = t->typeHead, count = t->typeCount;
  std::copy(std::begin(t->typeahead), std::end(t->typeahead), waiting);
  te3270_reset_keyboard(t);
  std::copy(std::begin(waiting), std::end(waiting), t->typeahead);
  t->typeHead = head;
  t->typeCount = count;
  t->online = true;
  t->lockedUntilWrite = 1;
}

void te3270_disconnected(te3270* t) {
  session_reset(t);
  te3270_reset_keyboard(t);  // the typeahead ring is dropped too
  t->online = false;
}

void DoReadBuffer(te3270* t) {
  Reply r(t);
  r.byte(t->AidByte ? (uint8_t)t->AidByte : (uint8_t)AID_NONE);
  r.address(t->CursorAddress);
  for (int a = 0; a < t->ScreenSize; a++) {
    if (t->FA[a] & FA_IS_ATTR)
      r.attribute(a);
    else
      r.character(a);
  }
  te3270_queue_reply(t, std::move(r.data()));
}

void DoReadModified(te3270* t, int command) {
  Reply r(t);
  bool all = command == 0x6E;
  int aid = t->AidByte ? t->AidByte : AID_NONE;
  if (t->sscpMode) {
    // SSCP-LU input: the text typed since the host's last output, no AID.
    if (aid == AID_ENTER) {
      for (int a = t->sscpStart; a < t->ScreenSize; a++)
        if (t->Host[a] && !(t->FA[a] & FA_IS_ATTR)) r.byte(t->Host[a]);
      te3270_queue_reply(t, std::move(r.data()));
    }
    return;
  }
  const bool testRequest = aid == AID_SYSREQ;
  if (testRequest) {
    // A Test Request read: its header instead of the AID, no cursor address.
    r.bytes({0x01, 0x6C, 0x61, 0x02});
  } else {
    r.byte((uint8_t)aid);
    if (short_read(aid) && !all) {
      te3270_queue_reply(t, std::move(r.data()));
      return;
    }
  }
  if (!testRequest || all) r.address(t->CursorAddress);
  if (te3270_formatted(t)) {
    int first = t->FA[0] & FA_IS_ATTR ? 0 : FieldInc(t, 0);
    int f = first;
    do {
      if (t->Host[f] & FA_MDT) {
        int a = te3270_inc(t, f);
        r.byte(0x11);
        r.address(a);
        if (aid != AID_CURSOR_SELECT || all) {
          for (; !(t->FA[a] & FA_IS_ATTR); a = te3270_inc(t, a))
            if (t->Host[a]) r.character(a);
        }
      }
      f = FieldInc(t, f);
    } while (f != first);
  } else {
    for (int a = 0; a < t->ScreenSize; a++)
      if (t->Host[a]) r.character(a);
  }
  te3270_queue_reply(t, std::move(r.data()));
}

void DoWSFQueryList(te3270* t, int flags) {
  Reply r(t);
  int cols = t->MaxNumberColumns, rows = t->MaxNumberLines;
  r.byte(AID_STRUCTURED);
  if (flags & 0x20) r.bytes({0x00, 0x0C, 0x81, 0x80, 0x80, 0x81, 0x84, 0x85, 0x86, 0x87, 0x88, 0xA6});
  if (flags & 0x10) {
    r.bytes({0x00, 0x17, 0x81, 0x81, 0x03, 0x00});
    r.word(cols);
    r.word(rows);
    r.bytes({0x00, 0x00, 0x01, 0x00, 0x60, 0x00, 0x01, 0x00, 0x60, 0x0C, 0x1A});
    r.word(cols * rows);
  }
  if (flags & 0x80) {
    r.bytes({0x00, 0x08, 0x81, 0x84, 0x00});
    r.word(cols * rows);
    r.byte(0x00);
  }
  if (flags & 0x40) {
    // The CGCSGID: the graphic character set and code page in use.
    const TCSEbcdicLocale& page = TCSEbcdicLocaleOf(t->locale);
    r.bytes({0x00, 0x1B, 0x81, 0x85, 0x82, 0x00, 0x09, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x10, 0x00});
    r.word(page.charSet);
    r.word(page.codePage);
    r.bytes({0x01, 0x10, 0xF1, 0x03, 0xC3, 0x01, 0x36});
  }
  if (flags & 0x02) {
    r.bytes({0x00, 0x26, 0x81, 0x86, 0x00, 0x10, 0x00, 0xF4});
    for (int c = 0xF1; c <= 0xFF; c++) r.bytes({(uint8_t)c, (uint8_t)c});
  }
  if (flags & 0x04) r.bytes({0x00, 0x0D, 0x81, 0x87, 0x04, 0x00, 0xF0, 0xF1, 0xF1, 0xF2, 0xF2, 0xF4, 0xF4});
  if (flags & 0x08) r.bytes({0x00, 0x07, 0x81, 0x88, 0x00, 0x01, 0x02});
  if (flags & 0x01) {
    r.bytes({0x00, 0x11, 0x81, 0xA6, 0x00, 0x00, 0x0B, 0x01, 0x00, 0x00, 0x50, 0x00, 0x18});
    r.word(cols);
    r.word(rows);
  }
  if (r.data().size() == 1) r.bytes({0x00, 0x04, 0x81, 0xFF});  // nothing asked for that we have
  // Input waits for the host to write after it has its answer.
  if (te3270_queue_reply(t, std::move(r.data()))) t->StatTermWait = 1;
}
