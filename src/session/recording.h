// Session recordings for audit: every session written, with its timing, as
// an asciicast v2 file that standard players (asciinema, asciinema-player)
// replay.  Emulations of the ANSI/VT family are recorded as the host's own
// output, made valid UTF-8; every other emulation and block mode as ANSI
// redraws of the cells that changed on the screen the browsers see.  Only
// output is recorded, never what is typed.  Off unless a directory is set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct app_s;

// Turns recording on (a directory that exists) for this session process;
// `label` names the session in the file name and the title (not its secret
// identifier).  The file is created with the first output.
void kvx_record_start(const std::string& dir, const std::string& label);
// Host bytes as read (the VT family's record).
void kvx_record_host(app_s* app, const unsigned char* bytes, size_t n);
// An update frame's region header ("left:bottom:right:top") and its
// little-endian 64-bit cells (the redraw record).
void kvx_record_update(app_s* app, const char* header, const void* cells, size_t bytes);
// A cursor frame's position ("x:y") and visibility.
void kvx_record_cursor(app_s* app, const char* position, bool visible);
// Writes out what is buffered and closes the file (process end).
void kvx_record_stop();

// For tests: the JSON string of an output text, and what UTF-8 text a run
// of host bytes gives (`pending` carries an incomplete sequence over).
std::string kvx_record_json_string(const std::string& text);
std::string kvx_record_utf8(const unsigned char* bytes, size_t n, bool utf8, std::string& pending);
// The ANSI text that draws one cell (attributes and character).
std::string kvx_record_cell_text(uint64_t cell, uint64_t* sgrState);
