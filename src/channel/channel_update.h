// Screen and cursor updates: the changed cells of the active emulator to
// the browsers of a session, the whole screen, the status and label lines,
// the cursor, the flow control that keeps a browser that stops reading from
// growing the process, and the seam through which the session core sends
// all of these.
#pragma once

#include <event2/buffer.h>

#include <cstddef>
#include <cstdint>

struct app_s;
struct kvx_client_t;
struct te;

// Pending output above which a browser gets no more updates until it has
// caught up below the low-water mark; it then gets the cursor and the whole
// screen.
constexpr size_t kKvxOutputHighWater = 4u << 20;
constexpr size_t kKvxOutputLowWater = 1u << 20;

// The changed cells to one browser, or to all when `client` is null; clears
// the change record.
void kvx_send_region(app_s* app, kvx_client_t* client);
// The whole screen to one browser (the change record is left for the
// others), or to all when `client` is null.
void kvx_send_screen(app_s* app, kvx_client_t* client);
// The status and label lines (KVX_HOST_ACTION_LABELS) to one browser or,
// with a null client, every browser that is not behind; `onlyChanged`:
// only when they changed since they were last sent to all.
void kvx_send_labels(app_s* app, kvx_client_t* client, bool onlyChanged);
// The cursor of the active emulator to one browser, or to all.
void kvx_send_cursor_state(app_s* app, kvx_client_t* client);
void _kvx_send_cursor_state(kvx_client_t* client, int x, int y, int visible);
// Appends one update frame for the rectangle (inclusive) of `rows`, the
// row pointers by screen row, to `out`; false when the memory for it
// cannot be had.
bool kvx_build_update(app_s* app, te* t, const uint64_t* const* rows, int top, int left, int bottom,
                      int right, evbuffer* out);
// Appends the COLORS frame (KVX_HOST_ACTION_COLORS) of the same rectangle
// as kvx_build_update: the exact colours and text styles of its cells.
// False, with nothing appended, when none of the cells has any.
bool kvx_build_colors(te* t, const uint64_t* const* rows, int top, int left, int bottom, int right,
                      evbuffer* out);
// The COLORS frame of a rectangle to one browser, when it named
// "truecolor" and the cells have any (sent after the rectangle's update).
void kvx_send_colors(kvx_client_t* client, te* t, const uint64_t* const* rows, int top, int left, int bottom,
                     int right);
// A cell as the browser draws it: the Unicode value in bits 32-62 and bit 63
// set (unchanged, bit 63 clear, without a TCS-to-Unicode table, which is
// reported once per session).
uint64_t get_unicode_chattr(app_s* app, te* t, uint64_t cell);
// printf into newly allocated text (free()).
char* fstr_create(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A browser's output has drained: owed screens go out, host reads resume.
void kvx_update_client_writable(kvx_client_t* client);
// Whether every browser is behind (and there is at least one).
bool kvx_all_clients_behind(app_s* app);
// Whether this browser is behind (now marked so when its output passed the
// high-water mark): it gets nothing more until it has caught up.
bool kvx_client_behind(kvx_client_t* client);
// Fills the session's channel seam with the operations above.
void kvx_update_attach(app_s* app);
