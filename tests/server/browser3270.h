// A browser of 3270 sessions for the end-to-end tests: the settings a page
// posts for a 3270 host, the screen as text, the status line, the bells,
// keys and clicks through the channel.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "../ite/fixture3270.h"
#include "emulation_ids.h"
#include "fws/fws_cell.h"
#include "keyname.h"
#include "kvx_browser.h"
#include "kvx_test.h"
#include "tcs.h"

namespace {

using kvxtest::ChannelFrame;
using kvxtest::TestBrowser;

// The settings of a 3270 host, as the page posts them.
std::string Config3270(int port, int model, bool connect = true, const std::string& extra = "") {
  return "{\"kcf\":{\"commtype\":0,\"node\":\"127.0.0.1\",\"port\":" + std::to_string(port) +
         ",\"emulate\":" + std::to_string(KVX_EM_IBM3270_MODEL2) +
         ",\"em3270idx\":" + std::to_string(model - 2) + ",\"TE3270EnExAtt\":1" + extra +
         "},\"connectToHost\":" + (connect ? "true" : "false") + "}";
}

// A browser of 3270 sessions: the screen as large as any model, the status
// line and the bells it was sent.
struct Browser3270 : TestBrowser {
  Browser3270() : TestBrowser(43, 132) {
    onFrame = [this](const ChannelFrame& f) {
      if (f.action == KVX_HOST_ACTION_STATUS) status = f.fields;
      if (f.action == KVX_HOST_ACTION_BELL) bells++;
    };
  }
  std::vector<std::string> status;
  int bells = 0;

  // A status field; an empty one travels as one blank.
  std::string Status(size_t i) const { return i < status.size() && status[i] != " " ? status[i] : ""; }
  int rows() const { return status.size() > 3 ? std::stoi(status[2]) : 0; }
  int cols() const { return status.size() > 3 ? std::stoi(status[3]) : 0; }
  std::vector<std::string> Lines() const {
    std::string text;
    for (int r = 0; r < rows(); r++) {
      std::string row;
      for (int c = 0; c < cols(); c++) {
        uint64_t v = screen.Cell(c, r);
        uint32_t cp = (v & BLK_CELL_HASUNI) ? static_cast<uint32_t>((v & BLK_CELL_UNI) >> BLK_CELL_UNI_SHIFT) : 0;
        if (cp < 0x80)
          row += cp ? static_cast<char>(cp) : ' ';
        else if (cp < 0x800)
          row += {static_cast<char>(0xC0 | cp >> 6), static_cast<char>(0x80 | (cp & 0x3F))};
        else
          row += {static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                  static_cast<char>(0x80 | (cp & 0x3F))};
      }
      text += row + "\n";
    }
    return ref3270_lines(text);
  }
  bool Key(int code) {
    std::string data(4, '\0');
    for (int i = 0; i < 4; i++) data[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
    return ws.Send(2, kvxtest::ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, data));
  }
  bool TerminalKey(int k) { return Key(TCS_KEY_UNICODE_BASE + (k - TCS_TK_FIRST)); }
  bool Click(int row, int col) {
    return ws.Send(
        2, kvxtest::ChannelEncode(KVX_CLIENT_ACTION_MOUSE, {std::to_string(row), std::to_string(col)}));
  }
  // The cursor a browser has not been told about is at the top left.
  int cursorRow() const { return std::max(screen.cursorY, 0); }
  int cursorCol() const { return std::max(screen.cursorX, 0); }
  bool WaitScreen(const ref3270_screen& want, double seconds = 10) {
    return Pump(
        [&] {
          return rows() == want.rows && cols() == want.cols && Lines() == want.text &&
                 cursorRow() == want.cursorRow && cursorCol() == want.cursorCol;
        },
        seconds);
  }
  std::string Show() const {
    std::string s = "status:";
    for (const std::string& f : status) s += " [" + f + "]";
    s += "\ncursor " + std::to_string(cursorRow()) + "," + std::to_string(cursorCol()) + "\n";
    for (const std::string& l : Lines()) s += l + "\n";
    return s + error;
  }
};

std::string Hex(const std::vector<uint8_t>& b) {
  std::string s;
  char h[4];
  for (uint8_t c : b) {
    snprintf(h, sizeof h, "%02x", c);
    s += h;
  }
  return s;
}

}  // namespace
