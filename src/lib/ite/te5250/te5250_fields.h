// The format table of a 5250 screen: the input fields that Start of Field
// orders define, in order of definition, with the resequence chain, the
// modified-data count, the error (message) row and the command-key mask of
// the last Start of Header.
#pragma once

#include <bitset>
#include <vector>

#include "te5250_defs.h"

// Results of AddField.
enum : int {
  FIELD_ADDED = 0,       // attribute cell before the field, ending attribute after it
  FIELD_AT_ORIGIN = 1,   // starts at address 0: no attribute cell
  FIELD_NO_TRAILER = 2,  // an existing field took the new FFW, or the field ends on the last cell
  FIELD_REJECTED = -1,   // the error bytes say why
};

class CFieldTable {
 public:
  static constexpr int kMaxFields = 256;
  static constexpr int kGrowBy = 32;
  static constexpr int kNoReseq = 0x81;  // resequence value of a field without FCW 0x80

  explicit CFieldTable(CSesStruct* session);

  // No fields, no MDTs, no resequencing; the error row becomes lastrow;
  // command-key mask and input-capable-only flag cleared.
  void ClearTable(int lastrow);
  // The error (message) row moves to row (1-based) of a screen `width` wide.
  void ChangeErrorLine(int row, int width);

  // Defines a field at the session's current address (see the data stream's
  // Start of Field).  hasFfw false: an output-only field, checked but not
  // kept.  *start receives the field's first data cell.
  int AddField(Error5250& error, bool hasFfw, uint16_t ffw, int length, int reseq, bool transparent,
               bool edgetriggered, bool cursorselect, int* start);
  // Appends a field as saved in a screen image; false when it does not fit
  // the screen, overlaps a field or the table is full.
  bool RestoreField(const FieldDescriptor& field, int maxAddress);

  // Index of the field holding the address, or -1.
  int GetField(int address) const;
  // The field starting after (before) the address in screen order, wrapping
  // once; optionally only non-bypass fields; optionally resetting the MDT of
  // the field found.  -1 when there is none.
  int GetNextField(int address, bool cleanMDT, bool nonbypassonly);
  int GetPreviousField(int address, bool nonbypassonly) const;
  // The next field after the address whose MDT is set, or -1.
  int GetNextMDTField(int address, bool cleanMDT);

  // Resequence order: table order without a resequence start, else the
  // chain from the start field along m_next.  Every field is visited at
  // most once; an index outside the table ends the walk.
  void InitReseqGetNext();
  int ReseqGetNextField(bool cleanMDT, bool nonbypassonly);
  int ReseqGetNextMDTField(bool cleanMDT, bool nonbypassonly);
  // The first non-bypass field in resequence order, or -1.
  int FirstInputField();
  // Where the cursor goes for a field: its first data cell, or address 0 for
  // no field (-1).
  int FieldStart(int index) const { return index >= 0 ? Field(index).m_StartAddress : 0; }
  // FieldStart of FirstInputField: the home position when the host set none.
  int FirstInputAddress() { return FieldStart(FirstInputField()); }

  void SetMDT(int index, bool set);

  int Count() const { return static_cast<int>(m_FieldArray.size()); }
  FieldDescriptor& Field(int index) { return m_FieldArray[static_cast<size_t>(index)]; }
  const FieldDescriptor& Field(int index) const { return m_FieldArray[static_cast<size_t>(index)]; }

  // True when command key PFn (1..24) returns no data.
  bool IgnoresKey(int n) const { return n >= 1 && n <= 24 && ((m_IgnoreKeys >> (n - 1)) & 1u) != 0; }

  std::vector<FieldDescriptor> m_FieldArray;
  int m_LastIndex = 0;       // fields in the table
  int m_MaxIndex = kGrowBy;  // capacity before the next growth
  int m_CurrentIndex = 0;
  int m_ReseqStart = 0;  // 1-based start field of the resequence chain; 0 = none
  int m_ReseqCurReadIndex = -1;
  int m_Dirty = 0;  // fields with the MDT set
  int m_ErrorRow = 24;
  FieldDescriptor m_ErrorField;
  uint32_t m_IgnoreKeys = 0;
  bool m_InputCapableOnly = false;
  CSesStruct* m_pSession;

 private:
  bool Overlaps(int first, int last) const;
  void Append(const FieldDescriptor& field);

  // The field of every cell (-1 for none), so that lookups and overlap
  // checks cost the field's length, not the table's.
  std::vector<int16_t> m_FieldAt;

  std::bitset<kMaxFields> m_Visited;
  bool m_ReseqStarted = false;
  int m_PrevStart = -1;  // the last field defined (kept or not): its start and length
  int m_PrevLength = 0;
};
