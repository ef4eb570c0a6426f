// The blocking prompts: the question goes to every browser; the first
// answer counts, whichever browser sends it.  What the browser answers:
//   entry   KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE, fields: the text (an empty
//           text travels as the single space of an empty field) and the
//           result: 0 cancelled, 1 accepted, 3 accepted with its save box
//           ticked (bit value 2 is the save flag).
//   yes/no  KVX_CLIENT_ACTION_GET_YESNO_RESPONSE, field: 1 yes, 0 no.
//   error   KVX_CLIENT_ACTION_ACK_FATAL_ERROR, no fields.
#pragma once

enum : int {
  KVX_ENTRY_CANCELLED = 0,
  KVX_ENTRY_ACCEPTED = 1,
  KVX_ENTRY_SAVE = 2,  // added to KVX_ENTRY_ACCEPTED
  KVX_YESNO_NO = 0,
  KVX_YESNO_YES = 1,
};
// A prompt that no browser answers within this many seconds ends as if
// every browser had left.
constexpr int kKvxPromptTimeLimit = 300;
// Tests shorten the limit (milliseconds; 0 or less restores the default).
void kvx_set_prompt_time_limit(int milliseconds);
// The drawing layer's prompts, which carry no session: they ask the
// browsers of the process's session.
// The entered text (the caller frees it) with *ret set to the result, or
// null without an answer (*ret untouched).
char* kvx_wingetentry(void* pgl, const char* title, bool isPassword, const char* msg, const char* saveMsg,
                      int* ret);
// The button number, 0 without an answer.
int kvx_showyesno(void* pgl, const char* title, const char* msg);
void kvx_showfatalerror(void* pgl, bool fatal, const char* msg);
// Makes the drawing layer's prompts (wingetentry, winshowyesno,
// winshowfatalerror) these.
void kvx_prompts_attach();
