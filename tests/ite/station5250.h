// A 5250 station for tests: the control with a view that remembers what it
// was shown and a send hook that keeps every record the station sends.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "emulation_ids.h"
#include "te5250.h"
#include "te5250_input.h"
#include "te5250_session.h"
#include "te5250_stream.h"

// Bytes from hex text; blanks between bytes are allowed.
inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> out;
  int hi = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else
      continue;
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi << 4 | v));
      hi = -1;
    }
  }
  return out;
}

inline std::string HexOf(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[4];
  for (uint8_t x : bytes) {
    snprintf(b, sizeof b, "%02X ", x);
    s += b;
  }
  if (!s.empty()) s.pop_back();
  return s;
}

// A host record: header with the opcode, then the data.
inline std::vector<uint8_t> HostRecord(uint8_t opcode, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> r = {0, 0, 0x12, 0xA0, 0, 0, 4, 0, 0, opcode};
  r.insert(r.end(), data.begin(), data.end());
  r[0] = static_cast<uint8_t>(r.size() >> 8);
  r[1] = static_cast<uint8_t>(r.size());
  return r;
}

// EBCDIC of printable ASCII text (code page 037).
inline std::vector<uint8_t> Ebcdic(const std::string& text, const CSesStruct& s) {
  std::vector<uint8_t> out;
  for (unsigned char c : text) out.push_back(static_cast<uint8_t>(s.uni_cp(c)));
  return out;
}

struct ViewRun {
  int row, col;
  std::u16string text;
  ATTRIBDATA data;
};

class RecordingView : public C5250View {
 public:
  void OnData(const EVENTDATA& run) override {
    runs.push_back({run.m_StartRow, run.m_StartCol, std::u16string(run.m_Data, run.m_Data + run.m_DataLength),
                    run.m_DisplayData});
  }
  void OnRefresh() override { refreshes++; }
  void OnEraseScreen() override { erases++; }
  void OnResizeTE(int c, int r) override {
    cols = c;
    rows = r;
  }
  void OnMoveCursor(int row, int col) override {
    cursorRow = row;
    cursorCol = col;
  }
  void OnBeep() override { beeps++; }
  void OnStatus(const C5250Status& s) override { status = s; }
  void OnWindowColors(COLORREF f, COLORREF b) override {
    fg = f;
    bg = b;
  }
  std::vector<ViewRun> runs;
  int refreshes = 0, erases = 0, beeps = 0;
  int cols = 0, rows = 0, cursorRow = 0, cursorCol = 0;
  C5250Status status;
  COLORREF fg = 0, bg = 0;
};

class Station {
 public:
  explicit Station(int emulation = KVX_EM_IBM5250) {
    ctrl.SetView(&view);
    ctrl.SetSendHook(&Station::Send, this);
    ctrl.SetEmulation(emulation);
    ctrl.OnConnect();
  }
  static int Send(void* owner, const uint8_t* bytes, int length) {
    static_cast<Station*>(owner)->sent.emplace_back(bytes, bytes + length);
    return length;
  }
  // One whole host record.
  void Host(uint8_t opcode, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> r = HostRecord(opcode, data);
    ctrl.GotData(r.data(), r.size(), true);
  }
  void Host(uint8_t opcode, const std::string& hex) { Host(opcode, Hex(hex)); }
  // Put/Get with Clear Unit and a Write To Display (CC1 00, CC2 08) of the
  // given orders and data.
  void Screen(const std::string& orders) { Host(OPCODE_PUTGET, "04 40 04 11 00 08 " + orders); }
  void Key(int key) { ctrl.ProcessKey(key); }
  void Type(const std::string& text) {
    for (unsigned char c : text) ctrl.ProcessChar(c);
  }
  CSesStruct& s() { return *ctrl.m_pSession; }
  CFieldTable& fields() { return *ctrl.m_pSession->m_Fields; }
  uint8_t Cell(int row, int col) { return s().m_CharBuffer[static_cast<size_t>(s().Address(row, col))]; }
  std::vector<uint8_t> Cells(int row, int col, int n) {
    auto b = s().m_CharBuffer.begin() + s().Address(row, col);
    return std::vector<uint8_t>(b, b + n);
  }
  std::string Row(int row) { return ctrl.RowText(row); }
  int CursorRow() { return s().Row(s().m_CursorAddress); }
  int CursorCol() { return s().Col(s().m_CursorAddress); }
  // The last record sent: its flags, opcode and data.
  uint8_t LastFlags() { return sent.back()[7]; }
  uint8_t LastOpcode() { return sent.back()[9]; }
  std::vector<uint8_t> LastData() {
    return std::vector<uint8_t>(sent.back().begin() + 10, sent.back().end());
  }
  int ErrorCode() { return s().m_ErrorCode; }

  CTe5250Ctrl ctrl;
  RecordingView view;
  std::vector<std::vector<uint8_t>> sent;
};
