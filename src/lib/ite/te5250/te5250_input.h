// The operator's keys on a 5250 screen: data entry with the field rules,
// cursor and field movement, field exit, erase, Dup and Field Mark, insert
// mode, the system request line, the AID keys and the operator errors.
#pragma once

#include <cstdint>
#include <deque>

#include "te5250_defs.h"

// Keys typed while the keyboard is locked wait for the host to unlock it.
constexpr size_t k5250Typeahead = 200;

class CInput {
 public:
  CInput(CSesStruct* session, CDataStream* dataStream, CTe5250Ctrl* parent);

  // One key code (te5250_defs.h), or one typed character as Unicode.
  // Both return 0 when there is no screen yet, else 1.  While the keyboard
  // is locked (X SYSTEM, or no host yet) keys wait in the typeahead ring;
  // Attention, System Request, Test Request and Reset do not wait, Reset
  // empties the ring and Clear drops the keys waiting ahead of it.
  int ProcessKey(int key);
  int ProcessChar(uint16_t ch);
  // Carries out the waiting keys while the keyboard is unlocked.
  void RunTypeahead();
  void DropTypeahead() { m_Typeahead.clear(); }
  int Typeahead() const { return static_cast<int>(m_Typeahead.size()); }
  // Raises an operator error with its four digits (0..9 each).
  void OperatorError(int d1, int d2, int d3, int d4);
  void OperatorError(OperatorErrorCode code) {
    OperatorError(code / 1000 % 10, code / 100 % 10, code / 10 % 10, code % 10);
  }

  // AID byte of an AID key code, 0 for a key that is not one.
  static uint8_t AidByte(int key);
  static bool IsAidKey(int key);

  CSesStruct* m_Session;
  CDataStream* m_DataStr;
  CTe5250Ctrl* m_pParent;

 private:
  void KeySysReq(int key);
  void KeyUnlocked(int key);
  void EnterSysReq();
  void LeaveSysReq();
  void DoAid(int key);
  bool DoTextKey(int ch);
  bool DoFieldExit(int key);
  void DoTab(bool back);
  void DoHome();
  void DoArrow(int key);
  void DoBackspace();
  bool DoDelete();
  void DoEraseInput();
  void DoEraseEOF();
  void DoDupMark(uint8_t fill);
  void DoCursorSelect();
  void DoEnd();
  void ToggleInsert();
  void LeaveInsert();
  // The cursor's field must be a non-bypass input field; else error 0005.
  FieldDescriptor* InputField();
  // The field the editing keys work on: the message row's field during a
  // system request, else InputField().
  FieldDescriptor* EditField();
  // Cells first..last of the edited field changed: its MDT is set (not that
  // of the message row's field) and the cells are shown again.
  void FieldChanged(int first, int last);
  // Fills the field's data cells from the cursor on with `byte`, as an edit.
  void FillToFieldEnd(const FieldDescriptor& f, uint8_t byte);
  // Leaving a mandatory-fill field that is not full raises 0014.
  bool LeavesUnfilled(int target);
  bool FieldFull(const FieldDescriptor& f) const;
  void MoveTo(int address);
  void NextField(int from);
  void Redisplay(int first, int last);
  void Beep();

  // Queues a key (isChar: a character) typed while locked; false when the
  // keyboard takes it now.
  bool TypeAhead(int code, bool isChar);

  bool m_AtFieldEnd = false;  // the last data key filled the last cell and the cursor stayed
  struct Typed {
    int code;
    bool isChar;
  };
  std::deque<Typed> m_Typeahead;
  bool m_Draining = false;
};
