// Fuzz target of the 3270 engine: any host records, cut anywhere, with
// keyboard functions and reply draining between them, on any model, with
// and without TN3270E headers.  After every step: nothing stored outside
// the screen, cursor and buffer address inside it, the changed ranges inside
// it, the window the size of the screen, the field count right, the queues
// bounded.
//
// Input: byte 0 the model (low two bits) and TN3270E framing (0x10); then
// items: 0xFF fcn code (a key), 0xFE (take the replies), 0xFD hi lo (a
// record of that length), any other byte n (a record of n bytes).
// Built as a libFuzzer target with KVX_FUZZ; the unit tests run its seeds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "te3270/te3270.h"

namespace {

void check(const te3270* t) {
  int size = t->ScreenSize;
  bool ok = size == t->NumberLines * t->NumberColumns && size > 0 && size <= TE3270_MAXSCREEN &&
            t->CursorAddress >= 0 && t->CursorAddress < size && t->BufferAddress >= 0 &&
            t->BufferAddress < size && t->wndsize.x == t->NumberColumns && t->wndsize.y == t->NumberLines &&
            t->caret.x >= 0 && t->caret.x < t->wndsize.x && t->caret.y >= 0 && t->caret.y < t->wndsize.y;
  // Painted: nothing left pending; the browser range inside the screen.
  ok = ok && t->Lowest == size && t->Highest == -1;
  ok = ok && ((t->lowestUpdate == -1 && t->highestUpdate == -1) ||
              (t->lowestUpdate >= 0 && t->lowestUpdate <= t->highestUpdate && t->highestUpdate < size));
  int fields = 0;
  for (int a = 0; a < TE3270_MAXSCREEN && ok; a++) {
    if (a >= size)
      ok = !t->Host[a] && !t->FA[a] && !t->HostAttrs[a];
    else if (t->FA[a] & FA_IS_ATTR)
      fields++;
  }
  ok = ok && fields == t->faCount && t->typeCount >= 0 && t->typeCount <= TE3270_TYPEAHEAD &&
       (int)t->replies.size() <= TE3270_REPLY_QUEUE && t->replyBytes <= TE3270_REPLY_BYTES;
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  te3270* t = TE3270Init(nullptr, nullptr, 1 + (data[0] & 3));
  if (!t) return 0;
  bool tn3270e = data[0] & 0x10;
  te3270_connected(t);
  t->underlineFields = data[0] & 0x20;
  t->showattr = data[0] & 0x40;
  size_t i = 1;
  std::vector<uint8_t> reply;
  while (i < size) {
    uint8_t c = data[i++];
    if (c == 0xFF) {
      if (size - i < 2) break;
      te3270_key(t, data[i] % FCN_COUNT, data[i + 1]);
      i += 2;
    } else if (c == 0xFE) {
      while (te3270_take_reply(t, reply)) {
      }
      t->lowestUpdate = t->highestUpdate = -1;
    } else {
      size_t n = c;
      if (c == 0xFD) {
        if (size - i < 2) break;
        n = (size_t)data[i] << 8 | data[i + 1];
        i += 2;
      }
      if (n > size - i) n = size - i;
      if (tn3270e)
        te3270_tn3270e_record(t, data + i, (int)n);
      else
        DataFromNetwork(t, data + i, (int)n, 1);
      i += n;
    }
    check(t);
  }
  TE3270Destroy(t);
  return 0;
}
