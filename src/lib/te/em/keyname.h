// Key names and key codes shared by every emulation: code to name and back.
#pragma once

// Name of a key code ("F1", "UP", "C-UP", "^A", "NONE", ...); the text stays
// valid until the next call.
const char* keyname(int code);

// Key code of a name (case-insensitive); -1 for "none", -2 when unknown.
int keyid(const char* name);
