// The IBM 5250 display station: protocol constants, the record header, the
// field descriptor and the small value types shared by the station's
// classes (session, field table, data stream, keyboard, colours, control).
#pragma once

#include <cstddef>
#include <cstdint>

#include "te5250_errors.h"

class CTe5250Ctrl;
class CSesStruct;
class CDataStream;
class CInput;
class CFieldTable;
class CColor;

typedef uint32_t COLORREF;

// Record header: 10 bytes, big-endian, ahead of every record both ways.
struct headerStruct {
  uint16_t m_length;      // header + data
  uint16_t m_RecordType;  // 0x12A0: general data stream
  uint16_t m_res1;
  uint8_t m_varLength;  // 4: bytes 6..9
  uint8_t m_flags;      // DataFlags
  uint8_t m_flags2;
  uint8_t m_Opcode;  // Opcodes
};
constexpr size_t k5250HeaderSize = 10;
constexpr uint16_t k5250RecordType = 0x12A0;

// The largest record the 16-bit length field describes, header included.
// Records (and the bytes collected towards one) and replies are held up to
// this size and no further.
constexpr size_t k5250MaxRecord = 0xFFFF;

enum DataFlags : uint8_t {
  FLAG_ERR = 0x80,
  FLAG_ATN = 0x40,
  FLAG_SRQ = 0x04,
  FLAG_TRQ = 0x02,
  FLAG_HLP = 0x01,
};

enum Opcodes : uint8_t {
  OPCODE_NOOP = 0,
  OPCODE_INVITE = 1,
  OPCODE_OUTPUT = 2,
  OPCODE_PUTGET = 3,
  OPCODE_SAVE = 4,
  OPCODE_RESTORE = 5,
  OPCODE_READIMMEDIATE = 6,
  OPCODE_READSCREEN = 8,
  OPCODE_CANCELINVITE = 10,
  OPCODE_MSGON = 11,
  OPCODE_MSGOFF = 12,
};

enum Commands : uint8_t {
  COMMAND_SAVESCREEN = 0x02,
  COMMAND_WTD = 0x11,
  COMMAND_RESTORESCREEN = 0x12,
  COMMAND_CU_ALT = 0x20,
  COMMAND_WRITEERROR = 0x21,
  COMMAND_ROLL = 0x23,
  COMMAND_CU = 0x40,
  COMMAND_READINPUT = 0x42,
  COMMAND_CFT = 0x50,
  COMMAND_READMDT = 0x52,
  COMMAND_READSCREEN = 0x62,
  COMMAND_READSCREENPRINT = 0x66,
  COMMAND_READIMMEDIATE = 0x72,
  COMMAND_READMDT_ALT = 0x82,
  COMMAND_READMDT_IMMEDIATE_ALT = 0x83,
  COMMAND_WSF = 0xF3,
};

enum Orders : uint8_t {
  ORDER_NOTHING = 0x00,
  ORDER_SOH = 0x01,
  ORDER_RA = 0x02,
  ORDER_EA = 0x03,
  ORDER_COMMAND = 0x04,
  ORDER_TD = 0x10,
  ORDER_SBA = 0x11,
  ORDER_IC = 0x13,
  ORDER_MC = 0x14,
  ORDER_SF = 0x1D,
};

// Field format word.
enum FFW : uint16_t {
  FFW_BYPASS = 0x2000,
  FFW_DUP = 0x1000,
  FFW_MDT = 0x0800,
  FFW_SH1 = 0x0400,
  FFW_SH2 = 0x0200,
  FFW_SH3 = 0x0100,
  FFW_AUTO = 0x0080,
  FFW_FER = 0x0040,
  FFW_UPPER = 0x0020,
  FFW_MANDATORY = 0x0008,
  FFW_MF1 = 0x0004,
  FFW_MF2 = 0x0002,
  FFW_MF3 = 0x0001,
};
// Shift/edit types (ffw & FFW_SHIFT_MASK).
enum : uint16_t {
  FFW_SHIFT_MASK = 0x0700,
  FFW_SHIFT_ALPHA = 0x0000,
  FFW_SHIFT_ALPHA_ONLY = 0x0100,
  FFW_SHIFT_NUMERIC_SHIFT = 0x0200,
  FFW_SHIFT_NUMERIC_ONLY = 0x0300,
  FFW_SHIFT_KATAKANA = 0x0400,
  FFW_SHIFT_DIGITS_ONLY = 0x0500,
  FFW_SHIFT_IO = 0x0600,
  FFW_SHIFT_SIGNED = 0x0700,
};
// Adjust/fill types (ffw & FFW_FILL_MASK).
enum : uint16_t {
  FFW_FILL_MASK = 0x0007,
  FFW_FILL_RIGHT_ZERO = 0x0005,
  FFW_FILL_RIGHT_BLANK = 0x0006,
  FFW_FILL_MANDATORY = 0x0007,
};

// Keyboard states.
enum States : int {
  STATE_LOCKED = 0,
  STATE_UNLOCKED = 1,
  STATE_ERROR = 2,
  STATE_ERROR_WAITING_FOR_HELP = 3,
  STATE_SYSREQ = 4,
};

// Station models.
enum Emu_Emulation : int {
  EMU_3179 = 0,
  EMU_3477 = 1,
  EMU_5555 = 2,
};

// Display flags of a screen attribute.
enum Emu_Attributes : unsigned {
  ATTR_REVERSE = 1,
  ATTR_UNDERSCORE = 2,
  ATTR_BLINK = 4,
  ATTR_COLUMN_SEP = 8,
  ATTR_BACKGROUND = 16,
};

// Key codes the keyboard handler reads besides characters (the shared key
// space of keyname.h; repeated here so the engine needs only its own header).
enum : int {
  K5250_TAB = 9,
  K5250_UP = 276,
  K5250_DOWN = 277,
  K5250_RIGHT = 278,
  K5250_LEFT = 279,
  K5250_HOME = 280,
  K5250_KPMINUS = 291,
  K5250_INSERT = 300,
  K5250_DELETE = 301,
  K5250_KPSTAR = 314,
  K5250_KPPLUS = 315,
  K5250_KPSLASH = 316,
  K5250_BACKSPACE = 319,
  K5250_HELP = 257,
  K5250_PF1 = 1120,
  K5250_PF24 = 1143,
  K5250_PA1 = 1144,
  K5250_PA3 = 1146,
  K5250_BACKTAB = 1147,
  K5250_CLEAR = 1148,
  K5250_ERASEINPUT = 1149,
  K5250_ERASEEOF = 1150,
  K5250_ATTN = 1151,
  K5250_TESTREQ = 1156,
  K5250_SYSREQ = 1157,
  K5250_CURSORSELECT = 1158,
  K5250_FIELDEXIT = 1159,
  K5250_FIELDMINUS = 1160,
  K5250_FIELDPLUS = 1161,
  K5250_FIELDMARK = 1162,
  K5250_DUP = 1163,
  K5250_ENTER = 1169,
  K5250_AUTOENTER_SELECT = 1170,
  K5250_AUTOENTER_EDGE = 1171,
  K5250_ROLLUP = 1172,
  K5250_ROLLDOWN = 1173,
  K5250_RESET = 1175,
  K5250_RECORDBACKSPACE = 1176,
  K5250_END = 1177,
  K5250_PRINT = 1178,
};

// AID bytes.
enum : uint8_t {
  AID5250_ENTER = 0xF1,
  AID5250_HELP = 0xF3,
  AID5250_ROLLUP = 0xF5,
  AID5250_ROLLDOWN = 0xF4,
  AID5250_PRINT = 0xF6,
  AID5250_RECORDBACKSPACE = 0xF8,
  AID5250_CLEAR = 0xBD,
  AID5250_PF1 = 0x31,   // PF1..PF12: 0x31..0x3C
  AID5250_PF13 = 0xB1,  // PF13..PF24: 0xB1..0xBC
  AID5250_PA1 = 0x6C,
  AID5250_PA2 = 0x6E,
  AID5250_PA3 = 0x6B,
  AID5250_AUTOENTER_SELECT = 0x3F,
  AID5250_AUTOENTER_EDGE = 0x50,
  AID5250_INBOUND_WSF = 0x88,
};

// EBCDIC bytes the station itself writes or tests.
enum : uint8_t {
  EB_NULL = 0x00,
  EB_SO = 0x0E,
  EB_SI = 0x0F,
  EB_DUP = 0x1C,
  EB_FIELDMARK = 0x1E,
  EB_BLANK = 0x40,
  EB_PERIOD = 0x4B,
  EB_PLUS = 0x4E,
  EB_MINUS = 0x60,
  EB_COMMA = 0x6B,
  EB_QUESTION = 0x6F,
  EB_GREATER = 0x6E,
  EB_ZERO = 0xF0,
  EB_NINE = 0xF9,
};

// Screen attributes: bytes 0x20..0x3F of the buffer.
constexpr bool is5250Attribute(uint8_t b) {
  return b >= 0x20 && b <= 0x3F;
}
constexpr uint8_t k5250NormalAttr = 0x20;
// The message row's attributes: an operator error (red), the error shown
// for Help (white), and the system request line (cyan, underscored).
constexpr uint8_t k5250ErrorAttr = 0x28;
constexpr uint8_t k5250HelpAttr = 0x22;
constexpr uint8_t k5250SysReqAttr = 0x34;

// One input field.
struct FieldDescriptor {
  int m_StartAddress = 0;  // first data cell
  int m_length = 0;        // data cells
  uint16_t m_ffw = 0;      // field format word; FFW_MDT is the modified tag
  int m_next = 0;          // next field in resequence order
  bool m_Transparent = false;
  bool m_EdgeTriggered = false;
  bool m_Selectable = false;
  int rowNumber = 0;  // row of the error-line field

  int End() const { return m_StartAddress + m_length - 1; }  // last data cell
  // Last cell the operator's data goes into: a signed-numeric field keeps
  // its last cell for the sign.
  int DataEnd() const { return Signed() ? End() - 1 : End(); }
  bool Contains(int address) const { return address >= m_StartAddress && address <= End(); }
  bool ContainsData(int address) const { return address >= m_StartAddress && address <= DataEnd(); }
  uint16_t ShiftType() const { return m_ffw & FFW_SHIFT_MASK; }
  uint16_t FillType() const { return m_ffw & FFW_FILL_MASK; }
  bool Bypass() const { return (m_ffw & FFW_BYPASS) != 0; }
  bool Modified() const { return (m_ffw & FFW_MDT) != 0; }
  bool Signed() const { return ShiftType() == FFW_SHIFT_SIGNED; }
  bool RightAdjust() const { return FillType() == FFW_FILL_RIGHT_ZERO || FillType() == FFW_FILL_RIGHT_BLANK; }
  bool MandatoryFill() const { return FillType() == FFW_FILL_MANDATORY; }
};

// Columns (cx) and rows (cy) of a buffer.
struct CSize5250 {
  int cx = 80;
  int cy = 24;
};

struct ATTRIBDATA {
  COLORREF m_Foreground = 0;
  COLORREF m_Background = 0;
  unsigned m_Attributes = 0;  // Emu_Attributes
};

// What a run's cells are (the window keeps these beside each cell).
enum : uint8_t {
  CELL_PROTECTED = 0x01,  // outside every input field
  CELL_NONDISPLAY = 0x02,
  CELL_FIELDATTR = 0x04,  // a screen attribute's own cell
  CELL_MODIFIED = 0x08,   // inside a field whose MDT is set
};

// One run of display output: 1-based column and row of its first cell.
struct EVENTDATA {
  int m_StartCol = 1;
  int m_StartRow = 1;
  ATTRIBDATA m_DisplayData;
  int m_DataLength = 0;  // characters
  const uint16_t* m_Data = nullptr;
  uint8_t m_CellFlags = 0;
};
