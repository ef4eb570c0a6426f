// A browser written for end-to-end tests: it creates a session on the real
// server, configures it as the browser application does, opens the
// session's channel, rebuilds the screen from the frames, types keys as key
// frames and answers the session's prompts from a script, recording each.
#pragma once

#include <deque>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "kvx_screen.h"
#include "kvx_test.h"

namespace kvxtest {

struct PromptSeen {
  int action = 0;
  std::vector<std::string> fields;
};

class TestBrowser {
 public:
  struct Answer {
    int action;  // the prompt it answers: KVX_HOST_ACTION_GET_ENTRY or KVX_HOST_ACTION_GET_YESNO
    std::vector<std::string> fields;
  };
  // An entry answer: code 1 accepted, 3 accepted with the save box ticked, 0 cancelled.
  static Answer Entry(const std::string& text, int code = 1) {
    return {KVX_HOST_ACTION_GET_ENTRY, {text, std::to_string(code)}};
  }
  static Answer Cancel() { return {KVX_HOST_ACTION_GET_ENTRY, {"", "0"}}; }
  static Answer YesNo(int button) { return {KVX_HOST_ACTION_GET_YESNO, {std::to_string(button)}}; }

  explicit TestBrowser(int rows = 24, int cols = 80) : screen(rows, cols) {}
  ~TestBrowser();
  TestBrowser(const TestBrowser&) = delete;
  TestBrowser& operator=(const TestBrowser&) = delete;

  // "/new_session" on the server; false when no session came.
  bool NewSession(int serverPort, const std::string& deviceId = "dev-hosts");
  // "/load_config" for the session, relayed by the server.  A post that
  // connects while the channel is open may wait for prompts: use the
  // asynchronous form then and pump meanwhile.
  HttpResponse PostConfig(const std::string& body);
  std::future<HttpResponse> PostConfigAsync(const std::string& body);
  HttpResponse GetConfigValues(const std::string& keysArray);
  // Opens the channel (WebSocket upgrade with "teCtrl") through the
  // server's port.
  bool Attach();

  // Reads frames until `done` holds; prompts are answered from `answers`
  // (errors are acknowledged).  False at the deadline, when the channel
  // closes, or on a prompt the script did not expect (`error` says which).
  bool Pump(const std::function<bool()>& done, double seconds = 30);
  bool WaitText(const std::string& text, double seconds = 30);
  bool WaitConnected(double seconds = 30);
  // Waits for an error prompt (acknowledged) and a disconnected host.
  bool WaitError(double seconds = 40);
  bool Type(const std::string& text);
  bool Send(int action, const std::vector<std::string>& fields = {});

  // The messages of the error prompts seen, in order.
  std::vector<std::string> Errors() const;
  int Count(int action) const;
  // Prompts, error and screen, for failure messages.
  std::string Describe() const;

  ScreenModel screen;
  WsClient ws;
  std::deque<Answer> answers;
  // Called with every frame Pump reads, after the screen has taken it.
  std::function<void(const ChannelFrame&)> onFrame;
  std::vector<PromptSeen> prompts;
  std::string error;
  std::string events;  // the connected frames, notices and prompts, in order ("connected 1", "prompt 6")
  std::string sessionId;
  int sessionPort = 0;
  int serverPort = 0;
  TlsOptions tls;  // the server's port speaks TLS (set before NewSession)
};

// A JSON text literal.
std::string JsonString(const std::string& text);

}  // namespace kvxtest
