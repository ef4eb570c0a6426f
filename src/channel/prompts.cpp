// The three blocking prompts (text entry, yes/no question, error to
// acknowledge): the question goes to every browser, the channels switch to
// blocking I/O and the process waits, outside the event loop, for the first
// answer.  A browser leaving is removed; with none left, or once the time
// limit has passed, the prompt ends without an answer.  Also the hooks
// through which the session's drawing layer reaches these prompts.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app.h"
#include "channel.h"
#include "platform.h"
#include "tetrace.h"

// Longest a blocking read or write of one browser may stall inside a
// frame before that browser counts as gone.
static constexpr int kPromptIoSeconds = 10;

static int g_promptLimitMs = kKvxPromptTimeLimit * 1000;

void kvx_set_prompt_time_limit(int milliseconds) {
  g_promptLimitMs = milliseconds > 0 ? milliseconds : kKvxPromptTimeLimit * 1000;
}

namespace {

struct PromptAnswer {
  std::string text;  // entry: the first field
  int value = 0;     // entry: the second field; yes/no: the first
};

// Field i (0 = first) of the connection's complete frame, or null.  The
// head holds the version, the action, the fields, an empty line and the
// length.
const std::string* pr_field(const kvx_client_t* client, size_t i) {
  const auto& f = client->hf.hdr.fields;
  return f.size() >= 4 && i < f.size() - 4 ? &f[2 + i] : nullptr;
}

int pr_number(const std::string* field) {
  if (!field) return 0;
  const char* s = field->c_str();
  char* end = nullptr;
  errno = 0;
  long v = strtol(s, &end, 10);
  if (end == s || errno == ERANGE || v < -0x7FFFFFFFL || v > 0x7FFFFFFFL) return 0;
  return static_cast<int>(v);
}

// Input that the event loop or the TLS layer already holds: readable
// without the socket saying so.
bool pr_buffered(const kvx_client_t* client) {
  if (client->bev && evbuffer_get_length(bufferevent_get_input(client->bev)) > 0) return true;
  return client->ssl && SSL_pending(client->ssl) > 0;
}

void pr_set_io_limit(kvx_client_t* client, int seconds) {
  if (client->fd <= 0) return;
  timeval tv = {seconds, 0};
  setsockopt(client->fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(client->fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// Output still queued for a browser goes out ahead of the question, so
// that frames keep their order.
void pr_flush(kvx_client_t* client) {
  evbuffer* out = bufferevent_get_output(client->bev);
  while (size_t n = evbuffer_get_length(out)) {
    n = std::min<size_t>(n, 1u << 20);
    const unsigned char* bytes = evbuffer_pullup(out, static_cast<ssize_t>(n));
    size_t written = bytes ? kvx_write_full_block(client, bytes, n) : 0;
    if (!written) {
      client->failed = true;
      return;
    }
    evbuffer_drain(out, written);
  }
}

bool pr_broken(const kvx_client_t* client) {
  return client->failed || kvx_eof(client) || client->hf.err != 0;
}

// Asks every browser and waits for the first frame with the `awaited`
// action; false without an answer.  `failLine` is the trace line of a
// failed wait (one %s: the system's error text).
bool pr_run(int action, const char* const* fields, int awaited, const char* failLine, PromptAnswer* answer) {
  // The drawing layer's hooks carry no session: the process has one.
  app_s* app = gApp;
  // Prompts do not nest; with no browser there is nobody to ask.
  if (!app || app->blockingMode || app->kvx_clients.empty()) return false;
  kvx_set_blocking_mode(app);
  for (kvx_client_t* client : app->kvx_clients) pr_set_io_limit(client, kPromptIoSeconds);
  for (kvx_client_t* client : std::vector<kvx_client_t*>(app->kvx_clients)) {
    pr_flush(client);
    if (client->failed) kvx_remove_client(client);
  }
  kvx_send_all(app, action, fields, nullptr, 0);

  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::milliseconds(g_promptLimitMs);
  bool got = false;
  std::vector<pollfd> fds;
  while (!got && !app->kvx_clients.empty()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    if (left <= 0) {
      TE_Trace(TRACE_FAIL, "[%d] - No answer to the prompt within %d seconds, going on without one.\n",
               static_cast<int>(getpid()), g_promptLimitMs / 1000);
      break;
    }
    std::vector<kvx_client_t*> clients = app->kvx_clients;
    fds.assign(clients.size(), pollfd{});
    bool ready = false;
    for (size_t i = 0; i < clients.size(); i++) {
      fds[i].fd = clients[i]->fd;
      fds[i].events = POLLIN;
      ready = ready || pr_buffered(clients[i]);
    }
    int n = poll(fds.data(), fds.size(), ready ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30)));
    if (n < 0) {
      if (errno == EINTR) continue;
      TE_Trace(TRACE_FAIL, failLine, strerror(errno));
      break;
    }
    for (size_t i = 0; i < clients.size(); i++) {
      kvx_client_t* client = clients[i];
      if (!fds[i].revents && !pr_buffered(client)) continue;
      kvx_recv(client);
      if (pr_broken(client)) {
        kvx_remove_client(client);
        break;  // the next wait
      }
      if (!kvx_has_data(client)) continue;
      if (!client->hf.invalid && kvx_frame_get_action(client) == awaited) {
        const std::string* first = pr_field(client, 0);
        const std::string* second = pr_field(client, 1);
        // An empty field travels as one space: an empty entry.
        if (first && *first != " ") answer->text = *first;
        answer->value = pr_number(action == KVX_HOST_ACTION_GET_ENTRY ? second : first);
        if (first) explicit_bzero(const_cast<char*>(first->data()), first->size());
        got = true;
        break;
      }
      kvx_frame_clear(client);  // anything else while asking is dropped
    }
  }
  for (kvx_client_t* client : app->kvx_clients) {
    kvx_frame_clear(client);
    pr_set_io_limit(client, 0);
  }
  kvx_unset_blocking_mode(app);
  return got;
}

// ---- the drawing layer's prompt hooks ----

int pr_hook_entry(void* pgl, const char* title, bool isPassword, const char* msg, const char* saveMsg,
                  std::string* text) {
  int result = 0;
  char* answer = kvx_wingetentry(pgl, title, isPassword, msg, saveMsg, &result);
  if (!answer) return 0;
  text->assign(answer);
  explicit_bzero(answer, strlen(answer));
  free(answer);
  return result;
}

}  // namespace

char* kvx_wingetentry(void*, const char* title, bool isPassword, const char* msg, const char*, int* ret) {
  const char* fields[] = {title ? title : "", msg ? msg : "", isPassword ? "1" : "0", nullptr};
  PromptAnswer answer;
  if (!pr_run(KVX_HOST_ACTION_GET_ENTRY, fields, KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE,
              "Unable to get entry response from client [%s]\n", &answer))
    return nullptr;
  if (ret) *ret = answer.value;
  char* text = strdup(answer.text.c_str());
  explicit_bzero(answer.text.data(), answer.text.size());
  return text;
}

int kvx_showyesno(void*, const char* title, const char* msg) {
  const char* fields[] = {title ? title : "", msg ? msg : "", nullptr};
  PromptAnswer answer;
  if (!pr_run(KVX_HOST_ACTION_GET_YESNO, fields, KVX_CLIENT_ACTION_GET_YESNO_RESPONSE,
              "Unable to get yes/no response from client [%s]\n", &answer))
    return 0;
  return answer.value;
}

void kvx_showfatalerror(void*, bool fatal, const char* msg) {
  const char* fields[] = {fatal ? "1" : "0", msg ? msg : "", nullptr};
  PromptAnswer answer;
  pr_run(KVX_HOST_ACTION_SHOW_FATAL_ERROR, fields, KVX_CLIENT_ACTION_ACK_FATAL_ERROR,
         "Unable to recv fatal error ack from client [%s]\n", &answer);
}

void kvx_prompts_attach() {
  app_platform_hooks hooks = app_get_platform_hooks();
  hooks.entry = pr_hook_entry;
  hooks.yesno = kvx_showyesno;
  hooks.fatal = kvx_showfatalerror;
  app_set_platform_hooks(&hooks);
}
