// The state of one 5250 session: the screen buffer (one byte per cell, the
// message row included), addresses, the pending read and AID, the keyboard
// state with its indicators, the error line, the record being collected and
// the code-page conversion.  Display runs are built here and handed to the
// control's view.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "te5250_defs.h"
#include "te5250_fields.h"

class CSesStruct {
 public:
  explicit CSesStruct(CTe5250Ctrl* host);

  // New buffers for a screen of cols x rows (rows include the message row
  // when the host has sized it) and a fresh state; the read buffer is kept.
  void InitSession(int cols, int rows);
  // The screen of the model (80 x 24 or 132 x 27) and a fresh state.
  void ChangeEmulation(int model);
  // All nulls with the normal attribute at address 0.
  void InitCharBuffer();

  // Keyboard lock: from unlocked to locked, "X SYSTEM" (system) or "X II".
  void Lock(bool system);
  // From locked to unlocked, indicator cleared.
  void Unlock();
  // The state changed otherwise (errors, system request): tell the view.
  void StatusChanged();

  // Error (message) row: keep a copy the first time and blank it; put the
  // copy back; write up to one row of bytes there.  Each redisplays the row.
  void SaveErrorLine();
  void RestoreErrorLine();
  void WriteErrorLine(const uint8_t* bytes, int length);
  int ErrorRowStart() const;  // address of the message row's first cell

  // Display runs of the cells first..last to the view.
  void ProcessCharBuffer(int first, int last);

  // Host code page <-> Unicode: the loaded table, else US EBCDIC (037).
  uint16_t cp_uni(uint8_t code) const;  // 0 becomes a blank
  uint16_t uni_cp(uint16_t ch) const;   // unmapped becomes 0x40 (above 0xFF: a double-byte code)

  // Cursor helpers (1-based row and column of an address).
  int Row(int address) const { return address / m_CurSize.cx + 1; }
  int Col(int address) const { return address % m_CurSize.cx + 1; }
  int Address(int row, int col) const { return (row - 1) * m_CurSize.cx + (col - 1); }
  bool ValidAddress(int address) const { return address >= 0 && address <= m_MaxAddress; }
  // The field under the cursor follows m_CurrentAddress.
  void UpdateCurrentField();
  // Moves the cursor (and the current address) and tells the view.
  void SetCursor(int address);
  // The home address for the Home key, Erase Input and the end of a system
  // request: the host's, else the first input field's start (0 without one).
  int Home() { return m_HomeAddress >= 0 ? m_HomeAddress : m_Fields->FirstInputAddress(); }

  CSize5250 m_CurSize;
  uint8_t m_LastOrder = ORDER_NOTHING;
  int m_CurrentAddress = 0;
  int m_CursorAddress = 0;  // where the cursor is shown
  int m_HomeAddress = -1;
  int m_TmpCursorAddress = -1;
  int m_AID = 0;   // pending AID key code
  int m_Read = 0;  // pending read command
  uint8_t m_CC1 = 0, m_CC2 = 0;
  bool m_Invited = true;
  int m_State = STATE_LOCKED;
  int m_PrevState = STATE_LOCKED;
  bool m_SystemLock = true;  // the lock shows "X SYSTEM" rather than "X II"
  bool m_Insert = false;
  bool m_MessageWaiting = false;
  bool m_DataModified = false;
  int m_ErrorCode = 0;  // operator error code on show (0 = none)
  std::vector<uint8_t> m_CharBuffer;
  int m_MaxAddress = 0;
  // The record being collected: bytes after m_CurBufLoc are free.  It grows
  // up to the largest record; beyond that the record is dropped.
  std::vector<uint8_t> m_ReadBuffer;
  size_t m_CurBufLoc = 0;
  bool m_ReadOverflow = false;
  bool m_ReadReady = false;  // OnConnect has happened: host bytes are taken
  const uint8_t* m_endptr = nullptr;
  std::vector<uint8_t> m_ErrorLine;  // saved message row
  bool m_HaveErrorLine = false;
  std::unique_ptr<CFieldTable> m_Fields;
  int m_CurField = -1;
  int m_nNetport = 23;
  const uint16_t* _CP2Unicode = nullptr;    // host byte -> Unicode (256), or null
  const uint16_t* _Unicode2CP = nullptr;    // Unicode -> host code (65536), or null
  const uint16_t* _DBCS2Unicode = nullptr;  // double-byte host code -> Unicode (65536), or null
  CTe5250Ctrl* m_Host;
};
