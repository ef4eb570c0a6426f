// The IBM 5250 station in the session: the BlockEngine of the 5250 control
// (blockmode.h) with its settings (model, terminal type, field dots,
// colours, code page), the keys of browsers and macros, the records it
// sends, its status line and click-to-position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "blockmode.h"

class CTe5250Ctrl;
struct te3270;

// A new 5250 engine for the session (null when memory runs out).
BlockEngine* blk5250_new(app_s* app);
// The engine's record (its window) and control.
te3270* blk5250_record(BlockEngine* engine);
CTe5250Ctrl* blk5250_control(BlockEngine* engine);

// The 5250 key code (te5250_defs.h) of a key as browsers and macros send
// it: a character's Unicode value (returned as -1 - value) or a key code
// of the private-use block; 0 for a key without a 5250 function.
int blk5250_map_key(int key);

// The startup response record a host sends when asked (NEW-ENVIRON
// IBMSENDCONFREC): true for such a record, with the device name it confirms
// in *device (empty when the host gave none); false for any other record.
bool blk5250_startup_device(const uint8_t* rec, size_t n, std::string* device);
