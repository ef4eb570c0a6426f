// The connection base: default operations, the prompt helpers over the
// prompt hooks, the terminal-name table and the broken-pipe guard.
#include "lumconnection.h"

#include <signal.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>

#include "emulation_ids.h"
#include "hostname.h"
#include "lumdict.h"
#include "tetrace.h"

static int prompt_default_entry(void*, const char*, bool, const char*, const char*, std::string* text) {
  text->clear();
  return 0;
}
static int prompt_default_yesno(void*, const char*, const char*) {
  return 0;
}
static void prompt_default_fatal(void*, bool, const char*) {}

static LumPromptHooks g_promptHooks;

void LumSetPromptHooks(const LumPromptHooks* hooks) {
  g_promptHooks = hooks ? *hooks : LumPromptHooks{};
}

static volatile sig_atomic_t g_connSkipSigpipe = 0;

// Writing to a closed socket or pipe must never end the session process.
// When the trace itself goes to a broken pipe, its own write raises the
// signal again; that one is swallowed so the handler cannot feed itself.
static void conn_sigpipe(int) {
  if (g_connSkipSigpipe) {
    g_connSkipSigpipe = 0;
    return;
  }
  TE_Trace(TRACE_CONNECT, "%s: SIGPIPE received\n", "LumConnection");
  sigset_t pending;
  if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE)) g_connSkipSigpipe = 1;
}

static void conn_install_sigpipe_guard() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction sa = {};
  sa.sa_handler = conn_sigpipe;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGPIPE, &sa, nullptr);
}

LumConnection::LumConnection() {
  conn_install_sigpipe_guard();
}

LumConnection::~LumConnection() = default;

void LumConnection::Log(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  TE_Trace_VA(TRACE_CONNECT, format, ap);
  va_end(ap);
}

static std::string conn_format(const char* format, va_list ap) {
  char text[kLumMaxMessage + 1];
  vsnprintf(text, sizeof text, format, ap);
  return text;
}

void LumConnection::ShowErrorText(bool fatal, const char* text) {
  entryWaiting = true;
  TE_Trace(TRACE_CONNECT | TRACE_FAIL, "%s ERROR: %s\n", fatal ? "FATAL" : "", text);
  (g_promptHooks.fatal ? g_promptHooks.fatal : prompt_default_fatal)(_pgl, fatal, text);
  entryWaiting = false;
}

void LumConnection::ShowError(bool fatal, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string text = conn_format(format, ap);
  va_end(ap);
  ShowErrorText(fatal, text.c_str());
}

std::string LumConnection::Entry(const char* title, bool isPassword, const char* saveEntry, const char* msg,
                                 ...) {
  entryWasCanceled = false;
  entryRequestingSave = false;
  entryWaiting = true;
  va_list ap;
  va_start(ap, msg);
  std::string text = conn_format(msg ? msg : "", ap);
  va_end(ap);
  std::string answer;
  int result = (g_promptHooks.entry ? g_promptHooks.entry : prompt_default_entry)(
      _pgl, title ? title : "", isPassword, text.c_str(), saveEntry ? saveEntry : "", &answer);
  entryWaiting = false;
  if (result != 0) {
    entryRequestingSave = (result & 2) != 0;
    return answer;
  }
  entryWasCanceled = true;
  return std::string();
}

bool LumConnection::AlertYesNo(const char* title, const char* format, ...) {
  entryWaiting = true;
  va_list ap;
  va_start(ap, format);
  std::string text = conn_format(format, ap);
  va_end(ap);
  int answer = (g_promptHooks.yesno ? g_promptHooks.yesno : prompt_default_yesno)(_pgl, title ? title : "",
                                                                                  text.c_str());
  entryWaiting = false;
  return answer != 0;
}

std::string LumConnection::GetPasswordForUsername(const char*, const char*) {
  return std::string();
}
int LumConnection::gotFileDescriptor(int) {
  return 0;
}
int LumConnection::ContinueConnection() {
  return 0;
}
void LumConnection::ChangePtySize(int, int) {}
void LumConnection::Comout(const char*, int) {}
void LumConnection::ComoutRaw(const char* buffer, int length) {
  Comout(buffer, length);
}
int LumConnection::Read(char*, int) {
  return -1;
}
void LumConnection::Disconnect() {}

void LumConnection::UseDictionary(LumDict* dict) {
  _dict = dict;
  if (!dict) return;
  _username = dict->stringValueForKey("user");
  _hostname = app_get_dictionary_hostname(*dict);
  _port = dict->intValueForKey("port");
  _rows = dict->intValueForKey("lines");
  _cols = dict->intValueForKey("col");
  _emulation = _announceEmulation >= 0 ? _announceEmulation : dict->intValueForKey("emulate");
  _teltermtype = dict->stringValueForKey("teltermtype");
  _language = dict->stringValueForKey("language");
}

void LumConnection::Comout(unsigned char byte) {
  Comout(reinterpret_cast<const char*>(&byte), 1);
}
bool LumConnection::IsConnected() {
  return false;
}
bool LumConnection::IsReady() {
  return true;
}
void LumConnection::setDelegate(void*) {}
int LumConnection::HasData() {
  return 0;
}
int LumConnection::KeepAliveCheck() {
  return 0;
}
const std::vector<int>& LumConnection::RecordEnds() {
  static const std::vector<int> none;
  return none;
}
int LumConnection::Tn3270eFunctions() {
  return -1;
}
bool LumConnection::RecordsAgreed() {
  return true;
}
std::string LumConnection::AssignedDeviceName() {
  return std::string();
}

// Terminal names by `emulate` setting; null where the name comes from the
// 3270/5250 model instead.
static const char* const kConnTermNames[kKvxEmLast + 1] = {
    "ADM1",  "ANSI",  "AT386", "IBM3101", "PCTERM",    "ANSI",       "TTY",        "TV912",
    "TV925", "TV950", "VT100", "linux",   "VT220",     "VT220-7",    "VT320",      "VT320-7",
    "VT420", "WY50",  "WY60",  "WY60-25", "IBM3151",   "IBM3151-25", nullptr,      nullptr,
    nullptr, nullptr, nullptr, nullptr,   "viewpoint", "wycol",      "xterm-color", "xterm-256color"};

std::string LumTerminalNameForEmulation(int emulation) {
  if (!kvx_em_is_valid(emulation) || !kConnTermNames[emulation]) return "unknown";
  std::string name = kConnTermNames[emulation];
  for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return name;
}

std::string LumConnection::GetEmName() {
  if (!_teltermtype.empty()) return _teltermtype;
  return LumTerminalNameForEmulation(_emulation);
}
