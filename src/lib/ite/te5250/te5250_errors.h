// The errors a 5250 station reports: the parameter errors (negative
// responses) it sends the host for a malformed record, and the operator
// errors it shows on the message row for a refused key.
#pragma once

#include <cstdint>

// Parameter errors: the four data bytes of the record sent with FLAG_ERR and
// opcode No-op, written here as one big-endian number.
enum ParamErrorCode : uint32_t {
  PERR_UNSUPPORTED_COMMAND = 0x10030101,   // an order or command byte the station does not handle
  PERR_CLEAR_UNIT_ALT_PARAM = 0x10030105,  // Clear Unit Alternate with a parameter other than 0x00
  PERR_STRUCTURED_FIELD = 0x10050111,      // a Write Structured Field other than the 5250 query
  PERR_PREMATURE_END = 0x10050121,         // the record ends inside an order or command, or a length
                                           // byte is out of range (also a malformed screen image)
  PERR_ADDRESS = 0x10050122,               // a row or column outside the screen, data for the cell
                                           // before the first, or a screen image with a size, an
                                           // address or a value no station writes
  PERR_STOP_BEFORE_START = 0x10050123,     // RA or EA stop address before the current address
  PERR_FIELD_LENGTH = 0x10050125,          // a field of length 0, signed numeric of length 1, or an
                                           // output-only field past the last cell
  PERR_FIELD_OVERLAP = 0x10050126,         // a field (or its attribute cell) inside another field
  PERR_DATA_PAST_END = 0x10050128,         // a character or an input field past the last cell
  PERR_TOO_MANY_FIELDS = 0x10050129,       // a field beyond the format table's capacity
  PERR_WRITE_PAST_END = 0x1005012A,        // RA, EA or TD writing past the last cell
  PERR_SOH_LENGTH = 0x1005012B,            // Start of Header length 0 or above 7
  PERR_ROLL = 0x1005012C,                  // Roll parameters out of range
  PERR_SF_ATTRIBUTE = 0x10050130,          // a Start of Field attribute byte without bit 0x20
};

// The four bytes of a parameter error (or of a field-table error).
struct Error5250 {
  uint8_t b[4] = {0, 0, 0, 0};

  constexpr Error5250() = default;
  constexpr Error5250(ParamErrorCode code)
      : b{static_cast<uint8_t>(code >> 24), static_cast<uint8_t>(code >> 16), static_cast<uint8_t>(code >> 8),
          static_cast<uint8_t>(code)} {}
};

// Operator error codes: shown on the message row as four digits after a red
// attribute; the keyboard stays in the error state until Reset.
enum OperatorErrorCode : int {
  OPERR_IO_FIELD = 4,                  // a data key in an I/O field
  OPERR_NOT_IN_INPUT_FIELD = 5,        // a key that needs an input field, with the cursor outside one
  OPERR_SYSREQ_KEY = 6,                // during a system request: an AID key other than Enter (Attention,
                                       // Test Request and System Request too) or a field exit key
  OPERR_ALPHA_ONLY = 8,                // alphabetic-only field: not a letter, blank, ',', '.' or '-'
  OPERR_NUMERIC_ONLY = 9,              // numeric-only field: not a digit, blank, '+', ',', '.' or '-'
  OPERR_DIGITS_ONLY = 10,              // digits-only or signed-numeric field: not a digit
  OPERR_SIGN_POSITION = 11,            // signed-numeric field: a data key on the sign position
  OPERR_NO_ROOM_TO_INSERT = 12,        // insert mode (or a double-byte character) with no room left
  OPERR_MANDATORY_FILL = 14,           // leaving a mandatory-fill field that is not full
  OPERR_FIELD_MINUS = 16,              // Field- in a field that is not numeric
  OPERR_FIELD_EXIT_NOT_AT_START = 17,  // Field Exit inside a mandatory-fill field, not at its start
  OPERR_FIELD_EXIT_REQUIRED = 18,      // a data key past the end of a field that needs Field Exit
  OPERR_DUP_NOT_ALLOWED = 19,          // Dup or Field Mark in a field without FFW_DUP
  OPERR_MANDATORY_ENTRY = 21,          // a mandatory-entry field has no data
  OPERR_FIELD_MINUS_LAST_CHAR = 26,    // Field- when the field's last character is not a digit
  OPERR_SELECT_EXIT_REQUIRED = 36,     // Cursor Select in a field exit required field
  OPERR_NOT_SELECTABLE = 37,           // Cursor Select in a field that is not selectable
};
