// The blocking prompts with browsers on real sockets, each played by a
// thread while the session waits: the question reaches every browser, the
// first answer counts and later ones are ignored, keys sent while asking
// are dropped, a browser leaving is removed and the last one leaving ends
// the question, the time limit ends it without an answer, frames keep their
// order, and bytes the event loop had already read still count.
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app.h"
#include "channel.h"
#include "kvx_test.h"
#include "platform.h"
#include "te/te.h"
#include "vid/vtext.h"

namespace {

using kvxtest::ChannelDecode;
using kvxtest::ChannelEncode;
using kvxtest::ChannelFrame;

std::string KeyFrame(int key) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; i++) data[static_cast<size_t>(i)] = static_cast<char>((key >> (8 * i)) & 0xFF);
  return ChannelEncode(KVX_CLIENT_ACTION_ONKEY, {}, data);
}

// One browser: the far end of a socket pair, speaking raw channel frames or
// WebSocket.
struct Peer {
  int fd = -1;
  bool ws = false;
  std::string bytes;  // received, not yet decoded

  bool Send(const std::string& frame) const {
    std::string out = ws ? kvxtest::WsEncode(2, frame) : frame;
    return write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size());
  }
  // Next channel frame, skipping WebSocket control frames; nullopt on
  // timeout or end of stream.
  std::optional<ChannelFrame> Next(double seconds = 30) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      if (auto f = Decode()) return f;
      int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
              .count());
      if (left <= 0) return std::nullopt;
      pollfd p = {fd, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) continue;
      char buf[65536];
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      raw.append(buf, static_cast<size_t>(n));
    }
  }
  // Whether the session closed this end within `seconds`.
  bool Closed(double seconds = 30) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p = {fd, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[4096];
      ssize_t n = read(fd, buf, sizeof buf);
      if (n == 0) return true;
      if (n < 0) return false;
    }
    return false;
  }

 private:
  std::string raw;
  std::optional<ChannelFrame> Decode() {
    if (!ws) {
      bytes += raw;
      raw.clear();
      return ChannelDecode(bytes);
    }
    // Unmasked frames from the session: take whole binary payloads.
    for (;;) {
      if (raw.size() < 2) break;
      const unsigned char* p = reinterpret_cast<const unsigned char*>(raw.data());
      size_t len = p[1] & 0x7F, head = 2;
      if (len == 126) {
        if (raw.size() < 4) break;
        len = static_cast<size_t>(p[2]) << 8 | p[3];
        head = 4;
      } else if (len == 127) {
        if (raw.size() < 10) break;
        len = 0;
        for (int i = 0; i < 8; i++) len = len << 8 | p[2 + i];
        head = 10;
      }
      if (raw.size() < head + len) break;
      if ((p[0] & 0x0F) == 2) bytes += raw.substr(head, len);
      raw.erase(0, head + len);
    }
    return ChannelDecode(bytes);
  }
};

class Prompt : public testing::Test {
 protected:
  void SetUp() override {
    base = event_base_new();
    app = app_main_initialize();
    set_app(app);
    app->evbase = base;
    kvx_update_attach(app);
    kvx_prompts_attach();
    kvx_set_prompt_time_limit(60000);
    SetEmOutCP(app->lpte, KVX_SOURCE_DIR "/codepage.dat", "1250");
    ASSERT_NE(app->lpte->Unicode2TCS, nullptr);
  }
  void TearDown() override {
    for (std::thread& th : threads)
      if (th.joinable()) th.join();
    for (kvx_client_t* c : app->kvx_clients) kvx_client_free(c);
    app->kvx_clients.clear();
    for (Peer* p : peers) {
      close(p->fd);
      delete p;
    }
    kvx_set_prompt_time_limit(0);
    app_set_channel_ops(nullptr);
    TEDestroy(app->lpte);
    winfreepgl(app->pgl);
    delete app;
    gApp = nullptr;
    event_base_free(base);
  }

  Peer* Attach(bool ws = false) {
    int s[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s), 0);
    fcntl(s[0], F_SETFL, fcntl(s[0], F_GETFL) | O_NONBLOCK);
    bufferevent* bev = bufferevent_socket_new(base, s[0], BEV_OPT_CLOSE_ON_FREE);
    kvx_client_t* client = kvx_client_new(app, bev);
    client->proto = ws ? TE_CTRL : TE_CTRL_RAW;
    client->init = true;
    bufferevent_setcb(bev, handle_socket_read, handle_socket_write, handle_socket_event, client);
    bufferevent_enable(bev, EV_READ | EV_WRITE);
    kvx_add_client(client);
    Peer* p = new Peer;
    p->fd = s[1];
    p->ws = ws;
    peers.push_back(p);
    return p;
  }
  // Lets the event loop take in what the browsers sent.
  void Loop() {
    for (int i = 0; i < 20; i++) event_base_loop(base, EVLOOP_NONBLOCK);
  }
  void Browser(std::function<void()> script) { threads.emplace_back(std::move(script)); }
  void Finish() {
    for (std::thread& th : threads) th.join();
    threads.clear();
  }

  event_base* base = nullptr;
  app_s* app = nullptr;
  std::vector<Peer*> peers;
  std::vector<std::thread> threads;
};

TEST_F(Prompt, EntryGoesToEveryBrowserAndTheFirstAnswerCounts) {
  Peer* a = Attach(true);
  Peer* b = Attach(false);
  std::optional<ChannelFrame> askedA, askedB;
  Browser([&] { askedA = a->Next(); });  // reads the question, answers later
  Browser([&] {
    askedB = b->Next();
    b->Send(ChannelEncode(KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE, {"s3cret pass%", "3"}));
  });
  int ret = -1;
  char* text = wingetentry(app->pgl, "Private Key Password", true, "Enter the key's password", "save", &ret);
  Finish();
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "s3cret pass%");
  EXPECT_EQ(ret, 3);
  free(text);
  for (auto* asked : {&askedA, &askedB}) {
    ASSERT_TRUE(*asked);
    EXPECT_EQ((*asked)->action, KVX_HOST_ACTION_GET_ENTRY);
    EXPECT_EQ((*asked)->fields,
              (std::vector<std::string>{"Private Key Password", "Enter the key's password", "1"}));
  }

  // The other browser's answer comes too late and is ignored; both go on
  // in normal operation.
  a->Send(ChannelEncode(KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE, {"late", "1"}));
  a->Send(ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {}));
  Loop();
  auto screen = a->Next();
  ASSERT_TRUE(screen);
  EXPECT_TRUE(screen->action == KVX_HOST_ACTION_SET_CURSOR || screen->action == KVX_HOST_ACTION_UPDATE);
  EXPECT_EQ(app->kvx_clients.size(), 2u);
  EXPECT_FALSE(app->blockingMode);
}

TEST_F(Prompt, EntryAnswersAsThePageSendsThem) {
  Peer* p = Attach();
  struct {
    std::vector<std::string> fields;
    const char* text;  // null: cancelled
    int ret;
  } cases[] = {
      {{"typed", "1"}, "typed", 1}, {{" ", "1"}, "", 1},           // an empty entry
      {{"typed", "3"}, "typed", 3}, {{"typed", "0"}, nullptr, 0},  // cancelled
      {{"x"}, nullptr, 0},          {{"é", "1"}, "é", 1},
  };
  for (const auto& c : cases) {
    Browser([&] {
      p->Next();
      p->Send(ChannelEncode(KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE, c.fields));
    });
    int ret = -1;
    char* text = wingetentry(app->pgl, "User", false, "Name?", "", &ret);
    Finish();
    if (c.text) {
      ASSERT_NE(text, nullptr) << c.fields[0];
      EXPECT_STREQ(text, c.text);
    } else {
      EXPECT_EQ(text, nullptr) << c.fields[0];
    }
    EXPECT_EQ(ret, c.ret) << c.fields[0];
    free(text);
  }
}

TEST_F(Prompt, KeysWhileAskingAreDropped) {
  app->lpte->dupmode = 1;  // local echo shows every key that is taken
  TEemwrite(app->lpte, "\033[H\033[2J", 7);
  Peer* p = Attach();
  Browser([&] {
    p->Next();
    p->Send(KeyFrame('x') + ChannelEncode(KVX_CLIENT_ACTION_REFRESH, {}) + KeyFrame('y'));
    p->Send(ChannelEncode(KVX_CLIENT_ACTION_GET_YESNO_RESPONSE, {"1"}));
  });
  EXPECT_EQ(winshowyesno(app->pgl, "Host key", "Accept the host key?"), 1);
  Finish();
  EXPECT_EQ(vid_screenrow(app->lpte, 0), "");
  p->Send(KeyFrame('z'));
  Loop();
  EXPECT_EQ(vid_screenrow(app->lpte, 0), "z");
}

TEST_F(Prompt, LastBrowserLeavingEndsTheQuestionWithNo) {
  Peer* a = Attach();
  Peer* b = Attach(true);
  Browser([&] {
    a->Next();
    shutdown(a->fd, SHUT_WR);
  });
  Browser([&] {
    b->Next();
    shutdown(b->fd, SHUT_WR);
  });
  EXPECT_EQ(winshowyesno(app->pgl, "Question", "Go on?"), 0);
  Finish();
  EXPECT_TRUE(app->kvx_clients.empty());
  EXPECT_FALSE(app->blockingMode);
  Loop();
  EXPECT_TRUE(a->Closed());

  // With nobody to ask there is no question.
  EXPECT_EQ(winshowyesno(app->pgl, "Question", "Go on?"), 0);
}

TEST_F(Prompt, BrowserLeavingLeavesTheOthersToAnswer) {
  Peer* a = Attach();
  Peer* b = Attach();
  std::atomic<bool> aGone{false};
  Browser([&] {
    a->Next();
    close(a->fd);
    a->fd = -1;
    aGone = true;
  });
  Browser([&] {
    b->Next();
    while (!aGone) std::this_thread::yield();
    b->Send(ChannelEncode(KVX_CLIENT_ACTION_GET_YESNO_RESPONSE, {"1"}));
  });
  EXPECT_EQ(winshowyesno(app->pgl, "Question", "Go on?"), 1);
  Finish();
  ASSERT_EQ(app->kvx_clients.size(), 1u);
}

TEST_F(Prompt, FatalErrorWaitsForItsAcknowledgement) {
  Peer* p = Attach(true);
  std::optional<ChannelFrame> shown;
  Browser([&] {
    shown = p->Next();
    p->Send(ChannelEncode(KVX_CLIENT_ACTION_GET_YESNO_RESPONSE, {"1"}));  // not what is awaited
    p->Send(ChannelEncode(KVX_CLIENT_ACTION_ACK_FATAL_ERROR, {}));
  });
  winshowfatalerror(app->pgl, true, "Connection to host failed");
  Finish();
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->action, KVX_HOST_ACTION_SHOW_FATAL_ERROR);
  EXPECT_EQ(shown->fields, (std::vector<std::string>{"1", "Connection to host failed"}));
}

TEST_F(Prompt, TimeLimitEndsTheQuestionWithoutAnAnswer) {
  kvx_set_prompt_time_limit(300);
  Peer* p = Attach();
  std::atomic<bool> done{false};
  Browser([&] {
    p->Next();
    // Stands for a forgotten tab; answers only if the limit did not work,
    // so that the test fails instead of hanging.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!done) p->Send(ChannelEncode(KVX_CLIENT_ACTION_GET_YESNO_RESPONSE, {"7"}));
  });
  int ret = 42;
  EXPECT_EQ(wingetentry(app->pgl, "User", false, "Name?", "", &ret), nullptr);
  EXPECT_EQ(winshowyesno(app->pgl, "Question", "Go on?"), 0);
  done = true;
  Finish();
  EXPECT_EQ(ret, 0);
  EXPECT_EQ(app->kvx_clients.size(), 1u) << "the browser stays attached";
  EXPECT_FALSE(app->blockingMode);
}

TEST_F(Prompt, QueuedFramesGoFirstAndBufferedBytesCount) {
  Peer* p = Attach();
  // A frame waiting in the event loop's output, and half an answer already
  // taken in by it.
  const char* fields[] = {"1", nullptr};
  kvx_send(app->kvx_clients[0], KVX_HOST_ACTION_CONNECTED, fields, nullptr, 0);
  const std::string answer =
      "KVX 1.0\n" + std::to_string(KVX_CLIENT_ACTION_GET_YESNO_RESPONSE) + "\n1\n\n0\n";
  p->Send(answer.substr(0, 10));
  event_base_loop(base, EVLOOP_NONBLOCK | EVLOOP_ONCE);
  kvx_set_prompt_time_limit(20000);
  std::vector<ChannelFrame> seen;
  Browser([&] {
    for (int i = 0; i < 2; i++)
      if (auto f = p->Next()) seen.push_back(*f);
    p->Send(answer.substr(10));
  });
  EXPECT_EQ(winshowyesno(app->pgl, "Question", "Go on?"), 1);
  Finish();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].action, KVX_HOST_ACTION_CONNECTED);
  EXPECT_EQ(seen[1].action, KVX_HOST_ACTION_GET_YESNO);
}

}  // namespace
