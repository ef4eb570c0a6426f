// The block-mode status line (host action STATUS, channel_actions.h): what
// each block-mode station fills in, and the one serialiser that turns it
// into the frame's fields.  The page reads the fields in one place too
// (parseStatusLine, html/shared/kvx-protocol.js).
//
// To add a field: append it to the struct and at the end of the field list
// of its family in kvx_status_line_fields (browsers read fields by
// position), describe it at action 7 in channel_actions.h and teach the
// page's parser.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "emulation_ids.h"

struct kvx_status_line {
  KVX_EM_FAMILY family = KVX_EM_FAMILY_3270;  // KVX_EM_FAMILY_3270 or KVX_EM_FAMILY_5250
  std::string terminalType;                   // the model's terminal type ("IBM-3278-4-E")
  int rows = 0, cols = 0;                     // the size of the screen the updates fill
  // "" (input allowed), "X SYSTEM", "X WAIT", "X PROT", "X NUM",
  // "X OVERFLOW", "X II": the texts of action 7.
  std::string keyboard;
  bool insert = false;
  int cursorRow = 0, cursorCol = 0;  // from 0, top left
  std::string session;               // "CONNECTING", "DISCONNECTED" or ""
  std::string link;                  // "TN3270E", "TN3270", "SSCP-LU", "TN5250" or ""
  // 5250 only.
  int operatorError = 0;  // shown as its last four digits; 0: none
  bool messageWaiting = false;
  // Keys waiting in the typeahead ring (typed while input is inhibited or
  // no host is connected).
  int typeahead = 0;
  // Who the station is on which host.
  std::string device;  // the device (LU) name the host assigned or confirmed; "" none
  std::string host;    // the host name the session is connected to; "" none
};

// The fields of the STATUS frame, in the order of action 7.
inline std::vector<std::string> kvx_status_line_fields(const kvx_status_line& s) {
  const bool is5250 = s.family == KVX_EM_FAMILY_5250;
  std::vector<std::string> f;
  f.reserve(13);
  f.push_back(is5250 ? "5250" : "3270");
  f.push_back(s.terminalType);
  f.push_back(std::to_string(s.rows));
  f.push_back(std::to_string(s.cols));
  f.push_back(s.keyboard);
  f.push_back(s.insert ? "1" : "0");
  f.push_back(std::to_string(s.cursorRow));
  f.push_back(std::to_string(s.cursorCol));
  f.push_back(s.session);
  f.push_back(s.link);
  if (is5250) {
    char code[8] = "";
    if (s.operatorError > 0) std::snprintf(code, sizeof code, "%04d", s.operatorError % 10000);
    f.push_back(code);
    f.push_back(s.messageWaiting ? "1" : "0");
  } else {
    f.push_back("");
    f.push_back("0");
  }
  f.push_back(std::to_string(s.typeahead));
  f.push_back(s.device);
  f.push_back(s.host);
  return f;
}
