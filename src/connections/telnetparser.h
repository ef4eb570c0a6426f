// LumTelnetParser: the telnet byte machine of a telnet connection, free of
// sockets.  It takes host bytes, releases the data bytes in order (an end of
// record is reported beside them, as the place in the data where it fell,
// never as bytes that data could also hold), keeps the option negotiation
// state, TN3270E included, and collects the answers the host must receive.
// The fuzz target and the unit tests feed it directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Telnet codes (RFC 854 and the option RFCs).
enum : unsigned char {
  TN_IAC = 255,
  TN_DONT = 254,
  TN_DO = 253,
  TN_WONT = 252,
  TN_WILL = 251,
  TN_SB = 250,
  TN_GA = 249,
  TN_NOP = 241,
  TN_SE = 240,
  TN_EOR = 239,
};

enum : unsigned char {
  TNO_BINARY = 0,
  TNO_ECHO = 1,
  TNO_SGA = 3,
  TNO_STATUS = 5,
  TNO_TIMING_MARK = 6,
  TNO_TTYPE = 24,
  TNO_EOR = 25,
  TNO_NAWS = 31,
  TNO_NEW_ENVIRON = 39,
  TNO_TN3270E = 40,
  TNO_START_TLS = 46,
};

// Option flags are kept for option codes 0 to 46.
constexpr int kTelnetOptions = 47;
// Parameter bytes kept of one subnegotiation; the rest is dropped.
constexpr int kTelnetSubMax = 128;

// TN3270E functions (RFC 2355, and CONTENTION-RESOLUTION of its functional
// extensions).  The terminal asks for BIND-IMAGE (BIND and UNBIND records)
// and RESPONSES (positive and negative responses to the host's requests);
// it also takes SYSREQ (the SysReq key as IAC AO) and CONTENTION-RESOLUTION
// (BID, SEND-DATA and KEYBOARD-RESTORE) when the host offers them.  Others
// are refused in the FUNCTIONS exchange.
enum : unsigned char {
  TN3E_FN_BIND_IMAGE = 0,
  TN3E_FN_DATA_STREAM_CTL = 1,
  TN3E_FN_RESPONSES = 2,
  TN3E_FN_SCS_CTL_CODES = 3,
  TN3E_FN_SYSREQ = 4,
  TN3E_FN_CONTENTION_RESOLUTION = 5,
};
constexpr unsigned kTn3270eRequested = 1u << TN3E_FN_BIND_IMAGE | 1u << TN3E_FN_RESPONSES;
constexpr unsigned kTn3270eSupported =
    kTn3270eRequested | 1u << TN3E_FN_SYSREQ | 1u << TN3E_FN_CONTENTION_RESOLUTION;

// What the negotiation needs to know about the connection.
struct LumTelnetSettings {
  std::string emName;   // the terminal-type name (GetEmName)
  std::string devName;  // `teltermtype`: the device name in 3270/5250 mode
  // 5250: what the station tells the host in NEW-ENVIRON (station_identity.h).
  std::string kbdType = "USB";  // IBM keyboard type
  int codePage = 37;    // IBM code page of the host's EBCDIC
  int charSet = 697;    // graphic character set
  bool tn3270Mode = false;
  bool tn5250Mode = false;
  bool useSSL = false;  // TLS is wanted; START_TLS may be agreed
};

// Negotiation state: parser state and the options each side performs.
struct telnet {
  int tnstate = 0;
  bool local[kTelnetOptions] = {};   // options this side has agreed to perform
  bool remote[kTelnetOptions] = {};  // options the host performs
};

class LumTelnetParser {
 public:
  LumTelnetParser();

  void Configure(const LumTelnetSettings& settings) { _settings = settings; }
  const LumTelnetSettings& settings() const { return _settings; }
  // Clears the negotiation state (a new connection).
  void Reset();

  // Parses n host bytes.  The released data bytes go to out, which needs
  // room for n bytes; returns their count.  out may overlap the input when
  // it starts at or before it: the output never overtakes the bytes still
  // to be read.  *consumed tells how many input bytes were taken: all of
  // them, unless the host's START_TLS FOLLOWS arrived, after which the rest
  // belongs to TLS and parsing stops (startTlsRequested() turns true).
  int Feed(const unsigned char* in, int n, unsigned char* out, int* consumed);

  // The ends of record (IAC EOR) of the last Feed: for each, the number of
  // data bytes it released before the mark, in ascending order.
  const std::vector<int>& recordEnds() const { return _recordEnds; }
  // Forgets them (a read that parsed nothing has none).
  void clearRecordEnds() { _recordEnds.clear(); }

  // Answers for the host collected so far, to be sent as they are.
  const std::string& replies() const { return _replies; }
  void clearReplies() { _replies.clear(); }

  // An end-of-record mark was parsed since the last call.
  bool takeEOR() {
    bool eor = _sawEOR;
    _sawEOR = false;
    return eor;
  }

  // START_TLS handshake requested by the host's FOLLOWS; the owner clears it
  // by calling setTlsActive once TLS runs (or has failed).
  bool startTlsRequested() const { return _startTls; }
  void setTlsActive(bool active) {
    _tlsActive = active;
    _startTls = false;
  }
  bool tlsActive() const { return _tlsActive; }

  // TN3270E: the functions agreed (bits 1 << TN3E_FN_*), or -1 while the
  // session does not use TN3270E framing (negotiation not finished, refused
  // or never offered).
  int tn3270eFunctions() const { return _tn3270e ? static_cast<int>(_tn3270eFunctions) : -1; }

  // TN3270E: the device (LU) name the host assigned or confirmed in
  // DEVICE-TYPE IS ... CONNECT; empty when it named none.
  const std::string& assignedDevice() const { return _assignedDevice; }

  bool local(int option) const { return option >= 0 && option < kTelnetOptions && _tn.local[option]; }
  bool remote(int option) const { return option >= 0 && option < kTelnetOptions && _tn.remote[option]; }
  int subopt() const { return _subopt; }

 private:
  void HandleVerb(unsigned char verb, unsigned char option);
  void HandleSubnegotiation();
  void Answer(unsigned char verb, unsigned char option);
  void BeginSb(unsigned char option);
  void SbData(const unsigned char* bytes, size_t n);
  void SbData(const std::string& text) {
    SbData(reinterpret_cast<const unsigned char*>(text.data()), text.size());
  }
  void EndSb();
  void UserVar(const char* name, const std::string& value);
  void Tn3270eSubnegotiation(const unsigned char* p, int n);
  void SendFunctions(unsigned char verb, unsigned functions);

  LumTelnetSettings _settings;
  telnet _tn;
  unsigned char _verb = 0;
  int _subopt = 0;
  unsigned char _subparams[kTelnetSubMax];
  int _sublen = 0;  // bytes in _subparams (the next free byte)
  bool _sawEOR = false;
  std::vector<int> _recordEnds;
  bool _tn3270e = false;
  unsigned _tn3270eFunctions = 0;
  std::string _assignedDevice;
  bool _startTls = false;
  bool _tlsActive = false;
  std::string _replies;
};

// Name of an option code in the negotiation trace ("" for most).
const char* LumTelnetOptionName(unsigned option);
