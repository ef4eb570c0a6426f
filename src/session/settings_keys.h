// The settings keys: one table of every key of the settings object ("kcf")
// the session knows, and of the preferences the page keeps for itself, with
// each key's type, bound, area and home.
//
// Two homes: a session key belongs to the session (the host profile, shared
// by every browser that views it) and is posted in "kcf"; a browser
// preference belongs to one browser (kept in its local storage) and is
// never sent to the session.
//
// "/load_config" and "/get_config_values" look keys up here; a key that is
// not a session key is still accepted and kept, and counted
// (kvx_settings_count_unknown).  README.md lists the table ("Settings"); a
// test keeps the two equal and prints the rows to paste when they differ.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct js_value_s;

enum KVX_SETTING_TYPE : unsigned char {
  KVX_SETTING_INT,      // decimal integer
  KVX_SETTING_FLAG,     // integer tested for non-zero ("1", "0"); the page's booleans
  KVX_SETTING_TEXT,     // text
  KVX_SETTING_SECRETS,  // object of secret values by name ("secureKeys"), never stored as it is
};

enum KVX_SETTING_HOME : unsigned char {
  KVX_SETTING_SESSION,  // posted in "kcf", shared by every browser of the session
  KVX_SETTING_BROWSER,  // a preference of one browser, kept by the page
};

// Flags of a key.
enum : unsigned {
  KVX_SETTING_SECRET = 0x1,   // its value is a secret or a token for one: never shown in a log
  KVX_SETTING_WRITTEN = 0x2,  // the session writes it itself (at connect, or when a model is set)
};

// One key, or one numbered family of keys.
struct kvx_setting_key {
  const char* name;  // the key; for a family its stem
  // A family: "<stem><first>" to "<stem><last>" (decimal, no leading zero);
  // with `bare` the stem alone is a member too.  first = last = -1: one key.
  int first, last;
  bool bare;
  KVX_SETTING_TYPE type;
  // Integers and flags: the values taken as they are (the meaning says what
  // becomes of others); `min` > `max` for no bound.  Texts: `max` is the
  // most bytes the session uses.
  long min, max;
  const char* area;  // the feature it belongs to
  KVX_SETTING_HOME home;
  unsigned flags;
  const char* meaning;
};

// The table, in the order README.md lists it.
std::span<const kvx_setting_key> kvx_settings_keys();

// The entry of a key (a member of a family included), found without regard
// to case as the settings dictionary does; null for a key not in the table.
const kvx_setting_key* kvx_setting_find(std::string_view name);
// Whether `name` is a key of the session (not a browser preference).
bool kvx_setting_is_session_key(std::string_view name);

// Members of a settings object that are not session keys (the page's
// preferences never belong in it either); their names go to `names` when
// given.  0 for anything but an object.
size_t kvx_settings_count_unknown(const js_value_s* kcf, std::vector<std::string>* names = nullptr);

// How README.md shows an entry: its key cell ("`RGBMap0`-`RGBMap18`",
// "`prnopt`, `prnopt2`-`prnopt6`") and its whole table row.
std::string kvx_setting_display_name(const kvx_setting_key& key);
std::string kvx_setting_readme_row(const kvx_setting_key& key);
