// Operations the 3270 modules share among themselves.
#pragma once

#include "te3270.h"

// The six-bit code of a value 0..63.
uint8_t te3270_code6(int v);
// Resizes the presentation space and the window (no-op when unchanged).
void te3270_set_size(te3270* t, int rows, int cols);
// Erase/Write: the default size; Erase/Write Alternate: the model's.
void te3270_erase(te3270* t, bool alternate);
// Queues a finished reply; false when it was dropped.
bool te3270_queue_reply(te3270* t, std::vector<uint8_t>&& reply);
// The last position of the field holding p (the cell before the next field
// attribute), or the last buffer address on an unformatted screen.
int te3270_field_end(const te3270* t, int p);
// First character position of the next unprotected field after p, -1 when
// there is none.
int te3270_next_unprotected(const te3270* t, int p);
// Erase All Unprotected.
void te3270_erase_unprotected(te3270* t);
