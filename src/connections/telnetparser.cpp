// The telnet byte machine: data, commands, option verbs and
// subnegotiations (capped), the negotiation table and the subnegotiation
// answers for terminal type, NEW-ENVIRON, TN3270E and START_TLS.
#include "telnetparser.h"

#include <cstring>
#include <string>

#include "tetrace.h"

enum : int {
  TS_DATA = 0,
  TS_IAC,     // after IAC
  TS_VERB,    // after WILL/WONT/DO/DONT, waiting for the option
  TS_SB,      // after IAC SB, waiting for the option
  TS_SBDATA,  // collecting parameters
  TS_SBIAC,   // IAC inside a subnegotiation: only SE ends it
};

// Subnegotiation codes.
enum : unsigned char {
  TNQ_IS = 0,
  TNQ_SEND = 1,
  TNQ_FOLLOWS = 1,
  TNE_VAR_VALUE = 1,
  TNE_USERVAR = 3,
  TN3E_CONNECT = 1,
  TN3E_DEVICE_TYPE = 2,
  TN3E_FUNCTIONS = 3,
  TN3E_IS = 4,
  TN3E_REJECT = 6,
  TN3E_REQUEST = 7,
  TN3E_SEND = 8,
};

const char* LumTelnetOptionName(unsigned option) {
  switch (option) {
    case TNO_BINARY:
      return "Transmit Binary";
    case TNO_ECHO:
      return "Echo";
    case TNO_SGA:
      return "Suppress Go Ahead";
    case TNO_STATUS:
      return "Status";
    case TNO_TIMING_MARK:
      return "Timing Mark";
    case TNO_TTYPE:
      return "Terminal Type";
    case TNO_EOR:
      return "TN EOR";
    case TNO_TN3270E:
      return "TN3270/E";
    case TNO_START_TLS:
      return "Start TLS";
    default:
      return "";
  }
}

static const char* tn_verb_name(unsigned char verb) {
  switch (verb) {
    case TN_WILL:
      return "will";
    case TN_WONT:
      return "wont";
    case TN_DO:
      return "do";
    case TN_DONT:
      return "dont";
    default:
      return "sb";
  }
}

static void tn_trace(const char* dir, unsigned char verb, unsigned char option) {
  if (!TE_Trace_Enabled(TRACE_CONNECT)) return;
  TE_Trace(TRACE_CONNECT, "%s: %s %s (%u)\r\n", dir, tn_verb_name(verb), LumTelnetOptionName(option),
           static_cast<unsigned>(option));
}

LumTelnetParser::LumTelnetParser() {
  _replies.reserve(256);
  memset(_subparams, 0, sizeof _subparams);
}

void LumTelnetParser::Reset() {
  _tn = telnet{};
  _verb = 0;
  _subopt = 0;
  _sublen = 0;
  _sawEOR = false;
  _recordEnds.clear();
  _tn3270e = false;
  _tn3270eFunctions = 0;
  _assignedDevice.clear();
  _startTls = false;
  _tlsActive = false;
  _replies.clear();
}

int LumTelnetParser::Feed(const unsigned char* in, int n, unsigned char* out, int* consumed) {
  int o = 0;
  int i = 0;
  int state = _tn.tnstate;
  _recordEnds.clear();
  while (i < n && !_startTls) {
    unsigned char c = in[i++];
    switch (state) {
      case TS_DATA:
        if (c == TN_IAC) {
          state = TS_IAC;
        } else {
          out[o++] = c;
          // Plain data runs are copied without going round the switch.
          while (i < n && in[i] != TN_IAC) out[o++] = in[i++];
        }
        break;
      case TS_IAC:
        state = TS_DATA;
        switch (c) {
          case TN_IAC:
            out[o++] = TN_IAC;
            break;
          case TN_EOR:
            _sawEOR = true;
            _recordEnds.push_back(o);
            break;
          case TN_SB:
            state = TS_SB;
            break;
          case TN_WILL:
          case TN_WONT:
          case TN_DO:
          case TN_DONT:
            _verb = c;
            state = TS_VERB;
            break;
          default:  // NOP, GA and the other commands carry nothing
            break;
        }
        break;
      case TS_VERB:
        state = TS_DATA;
        HandleVerb(_verb, c);
        break;
      case TS_SB:
        _subopt = c;
        _sublen = 0;
        state = TS_SBDATA;
        break;
      case TS_SBDATA:
        if (c == TN_IAC) {
          state = TS_SBIAC;
        } else if (_sublen < kTelnetSubMax) {
          _subparams[_sublen++] = c;
        }
        break;
      case TS_SBIAC:
        if (c == TN_SE) {
          state = TS_DATA;
          HandleSubnegotiation();
        } else if (c == TN_IAC) {  // an escaped 255 among the parameters
          if (_sublen < kTelnetSubMax) _subparams[_sublen++] = c;
          state = TS_SBDATA;
        }
        // any other byte is dropped; SE is still awaited
        break;
      default:
        state = TS_DATA;
        break;
    }
    _tn.tnstate = state;
  }
  _tn.tnstate = state;
  if (consumed) *consumed = i;
  return o;
}

void LumTelnetParser::Answer(unsigned char verb, unsigned char option) {
  unsigned char msg[3] = {TN_IAC, verb, option};
  _replies.append(reinterpret_cast<const char*>(msg), 3);
  tn_trace("SENT", verb, option);
}

void LumTelnetParser::HandleVerb(unsigned char verb, unsigned char option) {
  tn_trace("RECV", verb, option);
  const bool known = option < kTelnetOptions;
  switch (verb) {
    case TN_WILL: {
      bool accepted = option == TNO_BINARY || option == TNO_ECHO || option == TNO_SGA ||
                      option == TNO_TTYPE || option == TNO_EOR;
      if (!accepted) {
        Answer(TN_DONT, option);
      } else if (!_tn.remote[option]) {
        _tn.remote[option] = true;
        Answer(TN_DO, option);
      }
      break;
    }
    case TN_DO: {
      bool accepted = option == TNO_BINARY || option == TNO_SGA || option == TNO_TTYPE || option == TNO_EOR ||
                      (option == TNO_TN3270E && _settings.tn3270Mode) ||
                      (option == TNO_NEW_ENVIRON && _settings.tn5250Mode) ||
                      (option == TNO_START_TLS && _settings.useSSL && (!_tlsActive || _tn.local[option]));
      if (!accepted) {
        Answer(TN_WONT, option);
      } else if (!_tn.local[option]) {
        _tn.local[option] = true;
        // Over TN3270E, offer TLS before anything else is said.
        if (option == TNO_TN3270E && _settings.useSSL && !_tlsActive) Answer(TN_WILL, TNO_START_TLS);
        Answer(TN_WILL, option);
        if (option == TNO_START_TLS) {
          static const unsigned char follows[] = {TN_IAC, TN_SB, TNO_START_TLS, TNQ_FOLLOWS, TN_IAC, TN_SE};
          _replies.append(reinterpret_cast<const char*>(follows), sizeof follows);
          tn_trace("SENT", TN_SB, TNO_START_TLS);
        }
      }
      break;
    }
    case TN_WONT:
      // Refusing what is already off needs no answer; answering it anyway
      // could make two peers echo each other forever.
      if (known && _tn.remote[option]) {
        _tn.remote[option] = false;
        Answer(TN_DONT, option);
      }
      break;
    case TN_DONT:
      if (known && _tn.local[option]) {
        _tn.local[option] = false;
        Answer(TN_WONT, option);
      }
      if (option == TNO_TN3270E) _tn3270e = false;
      break;
    default:
      break;
  }
}

void LumTelnetParser::BeginSb(unsigned char option) {
  const unsigned char head[3] = {TN_IAC, TN_SB, option};
  _replies.append(reinterpret_cast<const char*>(head), 3);
  tn_trace("SENT", TN_SB, option);
}

void LumTelnetParser::SbData(const unsigned char* bytes, size_t n) {
  for (size_t k = 0; k < n; ++k) {
    _replies += static_cast<char>(bytes[k]);
    if (bytes[k] == TN_IAC) _replies += static_cast<char>(TN_IAC);
  }
}

void LumTelnetParser::EndSb() {
  const unsigned char tail[2] = {TN_IAC, TN_SE};
  _replies.append(reinterpret_cast<const char*>(tail), 2);
}

static void tn_put(std::string& s, unsigned char byte) {
  s += static_cast<char>(byte);
}

void LumTelnetParser::HandleSubnegotiation() {
  const int opt = _subopt;
  tn_trace("RECV", TN_SB, static_cast<unsigned char>(opt));
  if (!local(opt)) return;
  const unsigned char* p = _subparams;
  const int n = _sublen;
  switch (opt) {
    case TNO_TTYPE:
      BeginSb(TNO_TTYPE);
      tn_put(_replies, TNQ_IS);
      SbData(_settings.emName);
      if (_settings.tn3270Mode && !_settings.devName.empty()) {
        tn_put(_replies, '@');
        SbData(_settings.devName);
      }
      EndSb();
      break;
    case TNO_NEW_ENVIRON:
      if (!_settings.tn5250Mode) break;
      BeginSb(TNO_NEW_ENVIRON);
      tn_put(_replies, TNQ_IS);
      // A modern station names its device, keyboard, code page and character
      // set, and asks for the startup response record that confirms the
      // device.  Without a configured device name the host chooses one: an
      // empty DEVNAME would ask for a device with no name.
      if (!_settings.devName.empty()) UserVar("DEVNAME", _settings.devName);
      UserVar("KBDTYPE", _settings.kbdType);
      UserVar("CODEPAGE", std::to_string(_settings.codePage));
      UserVar("CHARSET", std::to_string(_settings.charSet));
      UserVar("IBMSENDCONFREC", "YES");
      EndSb();
      break;
    case TNO_START_TLS:
      if (n == 1 && p[0] == TNQ_FOLLOWS && _settings.useSSL && !_tlsActive) _startTls = true;
      break;
    case TNO_TN3270E:
      Tn3270eSubnegotiation(p, n);
      break;
    default:
      break;
  }
}

// One NEW-ENVIRON user variable with its value.
void LumTelnetParser::UserVar(const char* name, const std::string& value) {
  tn_put(_replies, TNE_USERVAR);
  SbData(std::string(name));
  tn_put(_replies, TNE_VAR_VALUE);
  SbData(value);
}

// FUNCTIONS REQUEST or IS with the functions of a bit set, in code order.
void LumTelnetParser::SendFunctions(unsigned char verb, unsigned functions) {
  BeginSb(TNO_TN3270E);
  tn_put(_replies, TN3E_FUNCTIONS);
  tn_put(_replies, verb);
  for (unsigned f = 0; f < 32; f++)
    if (functions & (1u << f)) tn_put(_replies, static_cast<unsigned char>(f));
  EndSb();
}

// The device-type and functions exchange of TN3270E.  The session uses
// TN3270E framing once both sides have named the same functions.
void LumTelnetParser::Tn3270eSubnegotiation(const unsigned char* p, int n) {
  if (n == 2 && p[0] == TN3E_SEND && p[1] == TN3E_DEVICE_TYPE) {
    BeginSb(TNO_TN3270E);
    tn_put(_replies, TN3E_DEVICE_TYPE);
    tn_put(_replies, TN3E_REQUEST);
    SbData(_settings.emName);
    if (!_settings.devName.empty()) {
      tn_put(_replies, TN3E_CONNECT);
      SbData(_settings.devName);
    }
    EndSb();
  } else if (n >= 2 && p[0] == TN3E_DEVICE_TYPE && p[1] == TN3E_IS) {
    // DEVICE-TYPE IS <type> [CONNECT <device name>]
    _assignedDevice.clear();
    for (int k = 2; k < n; k++)
      if (p[k] == TN3E_CONNECT) {
        _assignedDevice.assign(reinterpret_cast<const char*>(p + k + 1), static_cast<size_t>(n - k - 1));
        break;
      }
    SendFunctions(TN3E_REQUEST, kTn3270eRequested);
  } else if (n >= 2 && p[0] == TN3E_DEVICE_TYPE && p[1] == TN3E_REJECT) {
    // The host will not have this device: plain TN3270 instead of a stall.
    _tn.local[TNO_TN3270E] = false;
    _tn3270e = false;
    Answer(TN_WONT, TNO_TN3270E);
  } else if (n >= 2 && p[0] == TN3E_FUNCTIONS && (p[1] == TN3E_REQUEST || p[1] == TN3E_IS)) {
    unsigned asked = 0;
    for (int k = 2; k < n; k++)
      if (p[k] < 32) asked |= 1u << p[k];
    unsigned agreed = asked & kTn3270eSupported;
    if (p[1] == TN3E_IS || agreed == asked) {
      // The host's list (without what it should not have named) is in force.
      if (p[1] == TN3E_REQUEST) SendFunctions(TN3E_IS, agreed);
      _tn3270eFunctions = agreed;
      _tn3270e = true;
    } else {
      // Only what is implemented: the host is asked for that instead.
      SendFunctions(TN3E_REQUEST, agreed);
    }
  }
}
