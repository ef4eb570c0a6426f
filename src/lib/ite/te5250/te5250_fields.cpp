// The 5250 format table: field definition, lookup, screen-order and
// resequence-order walks, modified data tags.
#include "te5250_fields.h"

#include <algorithm>

#include "te5250_session.h"

CFieldTable::CFieldTable(CSesStruct* session) : m_pSession(session) {
  m_FieldArray.reserve(kGrowBy);
  ClearTable(session ? session->m_CurSize.cy : 24);
}

void CFieldTable::ClearTable(int lastrow) {
  m_FieldArray.clear();
  m_FieldAt.assign(m_pSession ? m_pSession->m_CharBuffer.size() : 0, -1);
  m_LastIndex = 0;
  m_CurrentIndex = 0;
  m_ReseqStart = 0;
  m_ReseqCurReadIndex = -1;
  m_ReseqStarted = false;
  m_Dirty = 0;
  m_IgnoreKeys = 0;
  m_InputCapableOnly = false;
  m_PrevStart = -1;
  m_PrevLength = 0;
  ChangeErrorLine(lastrow, m_pSession ? m_pSession->m_CurSize.cx : 80);
}

void CFieldTable::ChangeErrorLine(int row, int width) {
  if (row < 1) row = 1;
  m_ErrorRow = row;
  m_ErrorField = FieldDescriptor();
  m_ErrorField.m_StartAddress = (row - 1) * width + 1;
  m_ErrorField.m_length = width - 1;
  m_ErrorField.rowNumber = row;
}

bool CFieldTable::Overlaps(int first, int last) const {
  const int n = static_cast<int>(m_FieldAt.size());
  for (int a = std::max(first, 0); a <= last && a < n; a++)
    if (m_FieldAt[static_cast<size_t>(a)] >= 0) return true;
  return false;
}

void CFieldTable::Append(const FieldDescriptor& field) {
  if (static_cast<int>(m_FieldArray.size()) == m_MaxIndex) {
    m_MaxIndex += kGrowBy;
    m_FieldArray.reserve(static_cast<size_t>(m_MaxIndex));
  }
  const int index = static_cast<int>(m_FieldArray.size());
  m_FieldArray.push_back(field);
  m_LastIndex = index + 1;
  if (m_FieldAt.size() < static_cast<size_t>(field.End() + 1))
    m_FieldAt.resize(static_cast<size_t>(field.End() + 1), -1);
  std::fill_n(m_FieldAt.begin() + field.m_StartAddress, field.m_length, static_cast<int16_t>(index));
  if (field.Modified()) m_Dirty++;
}

int CFieldTable::AddField(Error5250& error, bool hasFfw, uint16_t ffw, int length, int reseq,
                          bool transparent, bool edgetriggered, bool cursorselect, int* start) {
  CSesStruct* s = m_pSession;
  const bool isSigned = hasFfw && (ffw & FFW_SHIFT_MASK) == FFW_SHIFT_SIGNED;
  if (length <= 0 || (isSigned && length == 1)) {
    error = PERR_FIELD_LENGTH;
    return FIELD_REJECTED;
  }
  int first;
  if (s->m_LastOrder == ORDER_SBA) {
    first = s->m_CurrentAddress < 0 ? 0 : s->m_CurrentAddress + 1;
  } else {
    first = m_PrevStart < 0 ? 1 : m_PrevStart + m_PrevLength + 1;
    s->m_CurrentAddress = first - 1;
  }
  *start = first;
  const int last = first + length - 1;
  const bool pastEnd = !s->ValidAddress(first) || !s->ValidAddress(last);
  if (!hasFfw) {
    if (pastEnd) {
      error = PERR_FIELD_LENGTH;
      return FIELD_REJECTED;
    }
    m_PrevStart = first;
    m_PrevLength = length;
    if (first == 0) return FIELD_AT_ORIGIN;
    return last == s->m_MaxAddress ? FIELD_NO_TRAILER : FIELD_ADDED;
  }
  const int existing = GetField(first);
  if (existing >= 0 && Field(existing).m_StartAddress == first) {
    FieldDescriptor& f = Field(existing);
    const bool was = f.Modified();
    f.m_ffw = ffw;
    if (was != f.Modified()) m_Dirty += f.Modified() ? 1 : -1;
    m_PrevStart = first;
    m_PrevLength = f.m_length;
    return FIELD_NO_TRAILER;
  }
  // The data cells, and the attribute cell in front of them, must not lie
  // inside another field.
  if (Overlaps(first > 0 ? first - 1 : 0, first)) {
    error = PERR_FIELD_OVERLAP;
    return FIELD_REJECTED;
  }
  if (Count() >= kMaxFields) {
    error = PERR_TOO_MANY_FIELDS;
    return FIELD_REJECTED;
  }
  if (pastEnd) {
    error = PERR_DATA_PAST_END;
    return FIELD_REJECTED;
  }
  if (Overlaps(first, last)) {
    error = PERR_FIELD_OVERLAP;
    return FIELD_REJECTED;
  }
  FieldDescriptor f;
  f.m_StartAddress = first;
  f.m_length = length;
  f.m_ffw = ffw;
  f.m_Transparent = transparent;
  f.m_EdgeTriggered = edgetriggered;
  f.m_Selectable = cursorselect;
  f.m_next = (m_ReseqStart == 0 || reseq == kNoReseq) ? Count() + 1 : reseq - 1;
  Append(f);
  m_PrevStart = first;
  m_PrevLength = length;
  if (first == 0) return FIELD_AT_ORIGIN;
  return last == s->m_MaxAddress ? FIELD_NO_TRAILER : FIELD_ADDED;
}

bool CFieldTable::RestoreField(const FieldDescriptor& field, int maxAddress) {
  if (field.m_length <= 0 || field.m_StartAddress < 0 || field.End() > maxAddress) return false;
  if (Count() >= kMaxFields || Overlaps(field.m_StartAddress, field.End())) return false;
  Append(field);
  m_PrevStart = field.m_StartAddress;
  m_PrevLength = field.m_length;
  return true;
}

int CFieldTable::GetField(int address) const {
  if (address < 0 || static_cast<size_t>(address) >= m_FieldAt.size()) return -1;
  return m_FieldAt[static_cast<size_t>(address)];
}

int CFieldTable::GetNextField(int address, bool cleanMDT, bool nonbypassonly) {
  int best = -1, lowest = -1;
  for (int i = 0; i < Count(); i++) {
    const FieldDescriptor& f = Field(i);
    if (nonbypassonly && f.Bypass()) continue;
    if (f.m_StartAddress > address && (best < 0 || f.m_StartAddress < Field(best).m_StartAddress)) best = i;
    if (lowest < 0 || f.m_StartAddress < Field(lowest).m_StartAddress) lowest = i;
  }
  if (best < 0) best = lowest;
  if (best >= 0) {
    m_CurrentIndex = best;
    if (cleanMDT) SetMDT(best, false);
  }
  return best;
}

int CFieldTable::GetPreviousField(int address, bool nonbypassonly) const {
  int best = -1, highest = -1;
  for (int i = 0; i < Count(); i++) {
    const FieldDescriptor& f = Field(i);
    if (nonbypassonly && f.Bypass()) continue;
    if (f.m_StartAddress < address && (best < 0 || f.m_StartAddress > Field(best).m_StartAddress)) best = i;
    if (highest < 0 || f.m_StartAddress > Field(highest).m_StartAddress) highest = i;
  }
  return best >= 0 ? best : highest;
}

int CFieldTable::GetNextMDTField(int address, bool cleanMDT) {
  int best = -1;
  for (int i = 0; i < Count(); i++) {
    const FieldDescriptor& f = Field(i);
    if (!f.Modified() || f.m_StartAddress <= address) continue;
    if (best < 0 || f.m_StartAddress < Field(best).m_StartAddress) best = i;
  }
  if (best >= 0 && cleanMDT) SetMDT(best, false);
  return best;
}

void CFieldTable::InitReseqGetNext() {
  m_Visited.reset();
  m_ReseqStarted = false;
  m_ReseqCurReadIndex = -1;
}

int CFieldTable::ReseqGetNextField(bool cleanMDT, bool nonbypassonly) {
  for (;;) {
    int next;
    if (!m_ReseqStarted) {
      m_ReseqStarted = true;
      next = m_ReseqStart == 0 ? 0 : m_ReseqStart - 1;
    } else if (m_ReseqCurReadIndex < 0) {
      return -1;
    } else if (m_ReseqStart == 0) {
      next = m_ReseqCurReadIndex + 1;
    } else {
      next = Field(m_ReseqCurReadIndex).m_next;
    }
    if (next < 0 || next >= Count() || m_Visited.test(static_cast<size_t>(next))) {
      m_ReseqCurReadIndex = -1;
      return -1;
    }
    m_Visited.set(static_cast<size_t>(next));
    m_ReseqCurReadIndex = next;
    if (nonbypassonly && Field(next).Bypass()) continue;
    if (cleanMDT) SetMDT(next, false);
    return next;
  }
}

int CFieldTable::ReseqGetNextMDTField(bool cleanMDT, bool nonbypassonly) {
  for (;;) {
    int i = ReseqGetNextField(false, nonbypassonly);
    if (i < 0) return -1;
    if (!Field(i).Modified()) continue;
    if (cleanMDT) SetMDT(i, false);
    return i;
  }
}

int CFieldTable::FirstInputField() {
  InitReseqGetNext();
  int i = ReseqGetNextField(false, true);
  InitReseqGetNext();
  return i;
}

void CFieldTable::SetMDT(int index, bool set) {
  if (index < 0 || index >= Count()) return;
  FieldDescriptor& f = Field(index);
  if (f.Modified() == set) return;
  if (set) {
    f.m_ffw |= FFW_MDT;
    m_Dirty++;
  } else {
    f.m_ffw &= static_cast<uint16_t>(~FFW_MDT);
    m_Dirty--;
  }
}
