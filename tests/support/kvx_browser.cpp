// The test browser (see kvx_browser.h).
#include "kvx_browser.h"

#include <chrono>
#include <cstdio>

namespace kvxtest {

using Clock = std::chrono::steady_clock;

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

TestBrowser::~TestBrowser() {
  ws.conn.Close();
  if (serverPort > 0 && !sessionId.empty())
    PostJson(serverPort, "/shutdown_session?session=" + sessionId, "{}", tls);
}

bool TestBrowser::NewSession(int port, const std::string& deviceId) {
  serverPort = port;
  HttpResponse r = PostJson(port, "/new_session", "{\"deviceId\":" + JsonString(deviceId) + "}", tls);
  sessionId = JsonText(r.body, "content.sessionId");
  sessionPort = JsonInt(r.body, "content.port", 0);
  return !sessionId.empty() && sessionPort > 0;
}

HttpResponse TestBrowser::PostConfig(const std::string& body) {
  return PostJson(serverPort, "/load_config?session=" + sessionId, body, tls);
}

std::future<HttpResponse> TestBrowser::PostConfigAsync(const std::string& body) {
  int port = serverPort;
  std::string path = "/load_config?session=" + sessionId;
  TlsOptions t = tls;
  return std::async(std::launch::async, [port, path, body, t] { return PostJson(port, path, body, t); });
}

HttpResponse TestBrowser::GetConfigValues(const std::string& keysArray) {
  return PostJson(serverPort, "/get_config_values?session=" + sessionId, keysArray, tls);
}

bool TestBrowser::Attach() {
  // Through the server's port, as the page does.
  return ws.HandshakePath(serverPort, "/get_te_channel?session=" + sessionId, "teCtrl", tls).status == 101;
}

bool TestBrowser::Send(int action, const std::vector<std::string>& fields) {
  return ws.Send(2, ChannelEncode(action, fields));
}

bool TestBrowser::Type(const std::string& text) {
  for (unsigned char c : text) {
    std::string data(4, '\0');
    data[0] = static_cast<char>(c);
    if (!ws.Send(2, ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, data))) return false;
  }
  return true;
}

bool TestBrowser::Pump(const std::function<bool()>& done, double seconds) {
  auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    double left = std::chrono::duration<double>(end - Clock::now()).count();
    if (left <= 0) return false;
    auto f = ReceiveChannelFrame(ws, left);
    if (!f) return false;
    if (!screen.Apply(*f)) {
      error = "malformed frame: " + screen.error;
      return false;
    }
    if (onFrame) onFrame(*f);
    if (f->action == KVX_HOST_ACTION_CONNECTED && !f->fields.empty())
      events += "connected " + f->fields[0] + "\n";
    if (f->action == KVX_HOST_ACTION_NOTICE && f->fields.size() == 2)
      events += "notice " + f->fields[0] + ": " + f->fields[1] + "\n";
    if (f->action < KVX_HOST_ACTION_GET_ENTRY || f->action > KVX_HOST_ACTION_SHOW_FATAL_ERROR) continue;
    events += "prompt " + std::to_string(f->action) + "\n";
    prompts.push_back({f->action, f->fields});
    if (f->action == KVX_HOST_ACTION_SHOW_FATAL_ERROR) {
      Send(KVX_CLIENT_ACTION_ACK_FATAL_ERROR);
      continue;
    }
    if (answers.empty() || answers.front().action != f->action) {
      error =
          "unexpected prompt " + std::to_string(f->action) + ": " + (f->fields.empty() ? "" : f->fields[0]);
      // Decline it, so that the session does not wait for this browser.
      if (f->action == KVX_HOST_ACTION_GET_ENTRY) Send(KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE, {"", "0"});
      if (f->action == KVX_HOST_ACTION_GET_YESNO) Send(KVX_CLIENT_ACTION_GET_YESNO_RESPONSE, {"0"});
      return false;
    }
    Answer a = answers.front();
    answers.pop_front();
    Send(a.action == KVX_HOST_ACTION_GET_ENTRY ? KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE
                                               : KVX_CLIENT_ACTION_GET_YESNO_RESPONSE,
         a.fields);
  }
  return true;
}

bool TestBrowser::WaitText(const std::string& text, double seconds) {
  return Pump([&] { return screen.Find(text) >= 0; }, seconds);
}

bool TestBrowser::WaitConnected(double seconds) {
  return Pump([&] { return screen.connected == 1; }, seconds);
}

bool TestBrowser::WaitError(double seconds) {
  size_t before = Errors().size();
  return Pump([&] { return Errors().size() > before && screen.connected == 0; }, seconds);
}

std::vector<std::string> TestBrowser::Errors() const {
  std::vector<std::string> out;
  for (const auto& p : prompts)
    if (p.action == KVX_HOST_ACTION_SHOW_FATAL_ERROR && p.fields.size() == 2) out.push_back(p.fields[1]);
  return out;
}

int TestBrowser::Count(int action) const {
  int n = 0;
  for (const auto& p : prompts) n += p.action == action;
  return n;
}

std::string TestBrowser::Describe() const {
  std::string s = error.empty() ? "" : "error: " + error + "\n";
  for (const auto& p : prompts) {
    s += "prompt " + std::to_string(p.action) + ":";
    for (const auto& f : p.fields) s += " [" + f + "]";
    s += "\n";
  }
  return s + "events:\n" + events + "screen:\n" + screen.Text();
}

}  // namespace kvxtest
