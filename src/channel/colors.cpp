// The colour and style form of the screen (host action COLORS): the exact
// colours and text styles of the cells of an update frame, for browsers
// that named "truecolor".  The entries the cells use are listed once, then
// each row as runs of cells of one entry (channel_actions.h, action 40).
#include <cstdio>
#include <vector>

#include "channel.h"
#include "te/te.h"
#include "vid/xattr.h"

namespace {

void put_color(std::vector<uint8_t>& out, uint32_t c) {
  if ((c & XC_KIND) == XC_INDEXED) {
    out.push_back(1);
    out.push_back(static_cast<uint8_t>(c & 0xFF));
  } else {
    out.push_back(2);
    out.push_back(static_cast<uint8_t>(c >> 16 & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8 & 0xFF));
    out.push_back(static_cast<uint8_t>(c & 0xFF));
  }
}

bool named(uint32_t c) {
  return (c & XC_KIND) == XC_INDEXED || (c & XC_KIND) == XC_RGB;
}

void put_varint(std::vector<uint8_t>& out, unsigned v) {
  while (v >= 0x80) {
    out.push_back(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<uint8_t>(v));
}

}  // namespace

bool kvx_build_colors(te* t, const uint64_t* const* rows, int top, int left, int bottom, int right,
                      evbuffer* out) {
  if (!t || !t->_xa) return false;
  // The frame's number (1-based) of each engine entry met so far.
  std::vector<uint16_t> number;
  std::vector<uint8_t> entries, runs;
  unsigned count = 0;
  bool any = false;
  auto entry_of = [&](const CHATTR cell) -> unsigned {
    const int i = ca_xattr(cell);
    const XATTR* x = xa_get(t, i);
    if (!x) return 0;
    if (number.empty()) number.assign(static_cast<size_t>(CA_XATTR_MAX) + 1, 0);
    if (!number[i]) {
      number[i] = static_cast<uint16_t>(++count);
      entries.push_back(static_cast<uint8_t>((named(x->fg) ? 1 : 0) | (named(x->bg) ? 2 : 0) |
                                             (named(x->ul) ? 4 : 0)));
      entries.push_back(static_cast<uint8_t>(x->style & 0xFF));
      if (named(x->fg)) put_color(entries, x->fg);
      if (named(x->bg)) put_color(entries, x->bg);
      if (named(x->ul)) put_color(entries, x->ul);
    }
    return number[i];
  };
  for (int y = top; y <= bottom; y++) {
    const CHATTR* row = rows[y];
    int x = left;
    while (x <= right) {
      // A right half (0) goes with its left: it carries no attribute.
      const unsigned e = row ? entry_of(vid_shown_cell(t, row[x])) : 0;
      int end = x + 1;
      while (end <= right && end - x < 255) {
        const CHATTR c = row ? row[end] : 0;
        if (c != 0 && (row ? entry_of(vid_shown_cell(t, c)) : 0) != e) break;
        end++;
      }
      if (e) any = true;
      runs.push_back(static_cast<uint8_t>(end - x));
      put_varint(runs, e);
      x = end;
    }
  }
  if (!any) return false;
  char header[64];
  snprintf(header, sizeof header, "%d:%d:%d:%d", left, bottom, right, top);
  const char* fields[] = {header, nullptr};
  std::vector<uint8_t> data;
  data.reserve(2 + entries.size() + runs.size());
  data.push_back(static_cast<uint8_t>(count & 0xFF));
  data.push_back(static_cast<uint8_t>(count >> 8));
  data.insert(data.end(), entries.begin(), entries.end());
  data.insert(data.end(), runs.begin(), runs.end());
  kvx_build_frame(nullptr, out, KVX_HOST_ACTION_COLORS, fields, data.data(), data.size());
  return true;
}

void kvx_send_colors(kvx_client_t* client, te* t, const uint64_t* const* rows, int top, int left, int bottom,
                     int right) {
  if (!kvx_client_has(client, KVX_CAPABILITY_TRUECOLOR)) return;
  evbuffer* frame = evbuffer_new();
  if (!frame) return;
  if (kvx_build_colors(t, rows, top, left, bottom, right, frame)) kvx_send_buffer(client, frame);
  evbuffer_free(frame);
}
