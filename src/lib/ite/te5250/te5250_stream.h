// The 5250 data stream: interpreting one host record (opcode, commands,
// Write To Display orders, control characters) and building the records the
// station sends back (read replies, the query reply, the saved screen image,
// parameter errors, attention and system-request records).
#pragma once

#include <cstdint>
#include <vector>

#include "te5250_defs.h"

class CDataStream {
 public:
  CDataStream(CSesStruct* session, CTe5250Ctrl* parent);

  // After bytes were appended to the read buffer: at the end of record the
  // whole record is interpreted and the read buffer emptied.
  void DoReadMessage(bool gotEOR);
  // Builds a record (header and data) and hands it to the control's send
  // routine.  Nothing goes out in screen-only mode or while not invited.
  bool WriteTelapi(uint8_t dataflags, uint8_t opcode, size_t datalength, const uint8_t* data);
  // The reply to the pending read (an AID key was pressed, or a read arrived
  // while an AID was pending).
  void DoRead();
  void ProcessCC1(uint8_t cc1);
  void ProcessCC2(uint8_t cc2);
  // Sends the parameter error record (te5250_errors.h) and ends the record.
  void ParamError(const Error5250& e);

  // The screen image of Save Screen (from the 0x04 0x12 on) and its
  // restoration; compression helpers of the image.
  std::vector<uint8_t> BuildSaveImage() const;
  // Restores from the bytes after 0x04 0x12 (length included); false with
  // the error bytes set when the image is malformed (nothing is changed).
  bool RestoreImage(const uint8_t* data, size_t length, Error5250& error);
  static void Compress(const uint8_t* in, size_t n, std::vector<uint8_t>& out);
  // Appends at most `cap` bytes; false on a malformed run or overflow.
  static bool Decompress(const uint8_t* in, size_t n, std::vector<uint8_t>& out, size_t cap);

  // The query reply's data (61 bytes) for the current model and cursor.
  std::vector<uint8_t> QueryReply() const;

  CSesStruct* m_Session;
  CTe5250Ctrl* m_pParent;

 private:
  // Walks orders and characters from m_p; stops at the end, at an escape
  // when stopAtEscape, or on an error (false, error record sent).
  bool ProcessData(bool stopAtEscape);
  bool DoCommand();
  bool DoOrder(uint8_t order);
  bool DoSOH();
  bool DoRA();
  bool DoEA();
  bool DoTD();
  bool DoSBA();
  bool DoICMC(bool insertCursor);
  bool DoSF();
  bool DoWriteError();
  bool DoRoll();
  bool DoWSF();
  void DoClearUnit(int cols, int rows);
  void DoClearFormatTable();
  void DoReadCommand(uint8_t command, uint8_t cc1, uint8_t cc2);
  void ReadScreenReply();
  // Row and column of the next two bytes as an address; false when either
  // is out of range (error sent).
  bool ReadAddress(int* address);
  // RA and EA: the current address must lie on the screen and not after
  // the stop address; false with the error sent.
  bool CheckStopAddress(int stop);
  bool Need(size_t n);  // n more bytes exist, else error 10 05 01 21
  void StoreChar(uint8_t ch);
  void NullFields(bool onlyModified);
  void AppendField(std::vector<uint8_t>& out, int index, bool mdtRead, bool alternate);

  const uint8_t* m_p = nullptr;
  const uint8_t* m_end = nullptr;
  bool m_Stopped = false;  // an error ended the record
};
