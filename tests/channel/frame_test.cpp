// Channel frames and WebSocket frames at the byte level: field encoding,
// frame building, the resumable head/data reader, the WebSocket reader fed
// a byte at a time and the writer's length forms.
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "app.h"
#include "channel.h"
#include "platform.h"
#include "te/te.h"

namespace {

// The session object with its terminal and drawing handle, which the
// process would keep to its end.
void FreeApp() {
  TEDestroy(gApp->lpte);
  winfreepgl(gApp->pgl);
  delete gApp;
  set_app(nullptr);
}

// The first two head lines of a channel frame: the version and the action.
std::string Head(int action) {
  return "KVX 1.0\n" + std::to_string(action) + "\n";
}

std::string Drain(evbuffer* b) {
  std::string s(evbuffer_get_length(b), '\0');
  evbuffer_remove(b, s.data(), s.size());
  return s;
}

TEST(ChannelFields, EncodingTable) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"", " "},
      {"50%", "50%25"},
      {"a\tb", "a%09b"},
      {"\xC3\xA9", "%c3%a9"},
      {"\x7F\x1F ok~", "%7f%1f ok~"},
      {"30:1:80:24", "30:1:80:24"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kvx_encode_string(c.in), c.out) << c.in;
    if (!c.in.empty()) {
      EXPECT_EQ(kvx_decode_string(c.out), c.in);
    }
  }
  EXPECT_EQ(kvx_decode_string(" "), " ");  // a lone space stays a space
  EXPECT_EQ(kvx_decode_string("100%"), "100%");
  EXPECT_EQ(kvx_decode_string("%zz%4"), "%zz%4");
  EXPECT_EQ(kvx_decode_string("%41%4a"), "AJ");
}

TEST(ChannelFrames, BuiltBytes) {
  evbuffer* b = evbuffer_new();
  const char* connected[] = {"1", nullptr};
  kvx_build_frame(nullptr, b, KVX_HOST_ACTION_CONNECTED, connected, nullptr, 0);
  EXPECT_EQ(Drain(b), Head(KVX_HOST_ACTION_CONNECTED) + "1\n\n0\n");
  const char* prompt[] = {"", "Pass 50%", "1", nullptr};
  kvx_build_frame(nullptr, b, KVX_HOST_ACTION_GET_ENTRY, prompt, nullptr, 0);
  EXPECT_EQ(Drain(b), Head(KVX_HOST_ACTION_GET_ENTRY) + " \nPass 50%25\n1\n\n0\n");
  const char cells[] = {1, 0, 2};
  kvx_build_frame(nullptr, b, KVX_HOST_ACTION_UPDATE, nullptr, cells, 3);
  EXPECT_EQ(Drain(b), Head(KVX_HOST_ACTION_UPDATE) + std::string("\n3\n\x01\x00\x02", 6));
  evbuffer_free(b);
}

class FrameReader : public ::testing::Test {
 protected:
  void SetUp() override {
    set_app(app_main_initialize());
    input_ = evbuffer_new();
    client_.buf = input_;
    kvx_frame_init(&client_.hf);
  }
  void TearDown() override {
    evbuffer_free(input_);
    FreeApp();
  }
  // Feeds bytes and reads; true when a whole frame is in.
  bool Feed(const std::string& bytes) {
    evbuffer_add(input_, bytes.data(), bytes.size());
    return kvx_read_frame(&client_);
  }
  evbuffer* input_ = nullptr;
  kvx_client_t client_;
};

TEST_F(FrameReader, HeadAndDataOneByteAtATime) {
  std::string frame =
      Head(KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE) + "secret%25\n2\n\n4\n" + std::string("\x41\x00\x00\x00", 4);
  for (size_t i = 0; i + 1 < frame.size(); i++) EXPECT_FALSE(Feed(frame.substr(i, 1))) << i;
  EXPECT_TRUE(Feed(frame.substr(frame.size() - 1)));
  EXPECT_TRUE(kvx_has_data(&client_));
  EXPECT_EQ(kvx_frame_get_action(&client_), KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE);
  EXPECT_STREQ(kvx_frame_get_hdr(&client_, 0), "KVX 1.0");
  EXPECT_STREQ(kvx_frame_get_hdr(&client_, 2), "secret%");
  EXPECT_STREQ(kvx_frame_get_hdr(&client_, 3), "2");
  EXPECT_STREQ(kvx_frame_get_hdr(&client_, 4), "");
  EXPECT_STREQ(kvx_frame_get_hdr(&client_, 5), "4");
  EXPECT_EQ(kvx_frame_get_hdr(&client_, 6), nullptr);
  EXPECT_EQ(client_.hf.data, std::vector<uint8_t>({0x41, 0, 0, 0}));
}

TEST_F(FrameReader, KeyFrameAndManyFields) {
  EXPECT_TRUE(Feed(Head(KVX_CLIENT_ACTION_ONKEY) + std::string("\n4\nA\0\0\0", 7)));
  EXPECT_EQ(kvx_frame_get_action(&client_), KVX_CLIENT_ACTION_ONKEY);
  int32_t key =
      client_.hf.data[0] | client_.hf.data[1] << 8 | client_.hf.data[2] << 16 | client_.hf.data[3] << 24;
  EXPECT_EQ(key, 65);
  kvx_frame_clear(&client_);
  // Eleven head lines: version, action, seven fields, the empty line, the length.
  EXPECT_FALSE(Feed(Head(KVX_HOST_ACTION_GET_YESNO) + "f1\nf2\nf3\nf4\nf5\nf6\nf7\n\n"));
  EXPECT_FALSE(kvx_has_data(&client_));
  EXPECT_TRUE(Feed("0\n"));  // the length line in a later read
  EXPECT_EQ(client_.hf.hdr.fields.size(), 11u);
  EXPECT_STREQ(kvx_frame_get_hdr(&client_, 8), "f7");
  EXPECT_EQ(client_.hf.hdr.dataSize, 0u);
}

TEST_F(FrameReader, NonNumericHeadIsDiscardedAndTheNextFrameRead) {
  EXPECT_TRUE(Feed("KVX 1.0\nabc\n\n0\n"));
  EXPECT_TRUE(client_.hf.invalid);
  EXPECT_EQ(kvx_frame_get_action(&client_), KVX_ACTION_UNDEF);
  EXPECT_FALSE(client_.failed);
  kvx_frame_clear(&client_);
  EXPECT_TRUE(Feed(Head(KVX_CLIENT_ACTION_REFRESH) + "\nx\n"));
  EXPECT_TRUE(client_.hf.invalid);
  kvx_frame_clear(&client_);
  EXPECT_TRUE(Feed(Head(KVX_CLIENT_ACTION_REFRESH) + "\n0\n"));
  EXPECT_FALSE(client_.hf.invalid);
  EXPECT_EQ(kvx_frame_get_action(&client_), KVX_CLIENT_ACTION_REFRESH);
}

TEST_F(FrameReader, OversizedHeadOrDataFailsTheConnection) {
  EXPECT_FALSE(Feed(Head(KVX_CLIENT_ACTION_GET_ENTRY_RESPONSE) + std::string(kKvxMaxHeadBytes, 'x')));
  EXPECT_TRUE(client_.failed);

  client_.failed = false;
  kvx_frame_clear(&client_);
  evbuffer_drain(input_, evbuffer_get_length(input_));
  Feed(Head(KVX_CLIENT_ACTION_ONKEY) + "\n" + std::to_string(kKvxMaxFrameData + 1) + "\n");
  EXPECT_TRUE(client_.failed);
  EXPECT_TRUE(client_.hf.data.empty());  // nothing was allocated for it

  client_.failed = false;
  kvx_frame_clear(&client_);
  EXPECT_FALSE(Feed(Head(KVX_CLIENT_ACTION_ONKEY) + "\n" + std::to_string(kKvxMaxFrameData) + "\n"));
  EXPECT_FALSE(client_.failed);
}

// The WebSocket reader and writer on one end of an in-memory socket pair.
class WsFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    set_app(app_main_initialize());
    base_ = event_base_new();
    bufferevent_pair_new(base_, 0, pair_);
    bufferevent_enable(pair_[0], EV_READ | EV_WRITE);
    bufferevent_enable(pair_[1], EV_READ | EV_WRITE);
    client_ = kvx_client_new(gApp, pair_[0]);
  }
  void TearDown() override {
    kvx_client_free(client_);
    bufferevent_free(pair_[1]);
    event_base_free(base_);
    FreeApp();
  }
  void Send(const std::string& bytes) { bufferevent_write(pair_[1], bytes.data(), bytes.size()); }
  std::string Sent() { return Drain(bufferevent_get_input(pair_[1])); }
  static std::string Masked(int op, const std::string& payload, const std::string& lengthBytes) {
    const char key[4] = {0x11, 0x22, 0x33, 0x44};
    std::string out = std::string(1, static_cast<char>(0x80 | op)) + lengthBytes + std::string(key, 4);
    for (size_t i = 0; i < payload.size(); i++) out.push_back(static_cast<char>(payload[i] ^ key[i % 4]));
    return out;
  }
  event_base* base_ = nullptr;
  bufferevent* pair_[2] = {};
  kvx_client_t* client_ = nullptr;
};

TEST_F(WsFrames, ReaderAssemblesFramesFedOneByteAtATime) {
  std::string payload(200, '\0');
  for (size_t i = 0; i < payload.size(); i++) payload[i] = static_cast<char>(i * 7);
  std::string frame = Masked(WS_OP_BINARY, payload, std::string("\xFE\x00\xC8", 3));
  for (size_t i = 0; i < frame.size(); i++) {
    EXPECT_NE(client_->wss.frameStage, WS_FRAME_STAGE_COMPLETE) << i;
    Send(frame.substr(i, 1));
    kvx_read_ws_frame(client_);
  }
  ASSERT_EQ(client_->wss.frameStage, WS_FRAME_STAGE_COMPLETE);
  EXPECT_EQ(client_->wss.op, WS_OP_BINARY);
  EXPECT_TRUE(client_->wss.finBit);
  EXPECT_EQ(Drain(client_->wss.buf), payload);

  // The 64-bit form, and an empty frame.
  client_->wss.frameStage = WS_FRAME_STAGE_INITIALIZED;
  std::string big(70000, 'k');
  Send(Masked(WS_OP_BINARY, big, std::string("\xFF\0\0\0\0\0\x01\x11\x70", 9)));
  kvx_read_ws_frame(client_);
  ASSERT_EQ(client_->wss.frameStage, WS_FRAME_STAGE_COMPLETE);
  EXPECT_EQ(Drain(client_->wss.buf), big);
  client_->wss.frameStage = WS_FRAME_STAGE_INITIALIZED;
  Send(Masked(WS_OP_PONG, "", std::string("\x80", 1)));
  kvx_read_ws_frame(client_);
  EXPECT_EQ(client_->wss.frameStage, WS_FRAME_STAGE_COMPLETE);
  EXPECT_EQ(client_->wss.op, WS_OP_PONG);
}

TEST_F(WsFrames, OversizedFrameFailsBeforeBuffering) {
  Send(std::string("\x82\xFF\0\0\0\0\0\x10\0\x01", 10));  // 1 MiB + 1
  kvx_read_ws_frame(client_);
  EXPECT_TRUE(client_->failed);
  EXPECT_EQ(evbuffer_get_length(client_->wss.buf), 0u);
}

TEST_F(WsFrames, WriterLengthForms) {
  struct Case {
    size_t n;
    std::string head;
  };
  const Case cases[] = {
      {0, std::string("\x89\x00", 2)},
      {125, std::string("\x89\x7D", 2)},
      {200, std::string("\x89\x7E\x00\xC8", 4)},
      {65535, std::string("\x89\x7E\xFF\xFF", 4)},
      {70000, std::string("\x89\x7F\0\0\0\0\0\x01\x11\x70", 10)},
  };
  for (const Case& c : cases) {
    evbuffer* payload = evbuffer_new();
    std::string body(c.n, 'p');
    evbuffer_add(payload, body.data(), body.size());
    kvx_write_ws_frame(WS_OP_PING, client_, c.n ? payload : nullptr);
    evbuffer_free(payload);  // written by reference: freeing the caller's buffer is safe
    EXPECT_EQ(Sent(), c.head + body) << c.n;
  }
}

TEST_F(WsFrames, ChannelFrameInsideABinaryMessage) {
  client_->proto = TE_CTRL;
  gApp->kvx_clients.push_back(client_);
  Send(Masked(WS_OP_BINARY, Head(KVX_CLIENT_ACTION_ONKEY) + std::string("\n4\nB\0\0\0", 7),
              std::string("\x94", 1)));
  EXPECT_TRUE(kvx_recv(client_));
  EXPECT_TRUE(kvx_has_data(client_));
  EXPECT_EQ(kvx_frame_get_action(client_), KVX_CLIENT_ACTION_ONKEY);
  EXPECT_EQ(client_->hf.data[0], 'B');
  // A ping is answered with its payload; a close with an empty close.
  Send(Masked(WS_OP_PING, "abc", std::string("\x83", 1)));
  EXPECT_TRUE(kvx_recv(client_));
  EXPECT_EQ(Sent(),
            "\x8A\x03"
            "abc");
  Send(Masked(WS_OP_CLOSE, "", std::string("\x80", 1)));
  EXPECT_TRUE(kvx_recv(client_));
  EXPECT_EQ(Sent(), std::string("\x88\x00", 2));
  // Sending to all browsers reaches this one as one binary message.
  kvx_send_connected(gApp, nullptr);
  EXPECT_EQ(Sent(), "\x82\x0F" + Head(KVX_HOST_ACTION_CONNECTED) + "0\n\n0\n");
  gApp->kvx_clients.clear();
}

}  // namespace

namespace {

// Blocking mode reads and writes the sockets directly, as a prompt's wait does.
TEST(BlockingMode, ReadsAndWritesSocketsDirectly) {
  set_app(app_main_initialize());
  event_base* base = event_base_new();
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  evutil_make_socket_nonblocking(fds[0]);
  kvx_client_t* raw = kvx_client_new(gApp, bufferevent_socket_new(base, fds[0], BEV_OPT_CLOSE_ON_FREE));
  raw->proto = TE_CTRL_RAW;
  gApp->kvx_clients.push_back(raw);

  std::string frame =
      Head(KVX_CLIENT_ACTION_GET_YESNO_RESPONSE) + "2\n\n3\nxyz" + Head(KVX_CLIENT_ACTION_REFRESH) + "\n0\n";
  ASSERT_EQ(write(fds[1], frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
  kvx_set_blocking_mode(gApp);
  EXPECT_TRUE(gApp->blockingMode);
  EXPECT_EQ(raw->fd, fds[0]);
  EXPECT_EQ(gApp->fdMax, fds[0]);
  EXPECT_EQ(fcntl(fds[0], F_GETFL) & O_NONBLOCK, 0);
  kvx_recv(raw);
  ASSERT_TRUE(kvx_has_data(raw));
  EXPECT_EQ(kvx_frame_get_action(raw), KVX_CLIENT_ACTION_GET_YESNO_RESPONSE);
  EXPECT_STREQ(kvx_frame_get_hdr(raw, 2), "2");
  EXPECT_EQ(std::string(raw->hf.data.begin(), raw->hf.data.end()), "xyz");
  // The head reader took nothing beyond its frame: the next one is intact.
  kvx_frame_clear(raw);
  kvx_recv(raw);
  EXPECT_EQ(kvx_frame_get_action(raw), KVX_CLIENT_ACTION_REFRESH);

  const char* fields[] = {"Title", "Message", nullptr};
  kvx_send_all(gApp, KVX_HOST_ACTION_GET_YESNO, fields, nullptr, 0);
  std::string expect = Head(KVX_HOST_ACTION_GET_YESNO) + "Title\nMessage\n\n0\n";
  std::string got(expect.size(), '\0');
  ASSERT_EQ(read(fds[1], got.data(), got.size()), static_cast<ssize_t>(got.size()));
  EXPECT_EQ(got, expect);

  // End of stream inside a head is seen as such.
  kvx_frame_clear(raw);
  ASSERT_EQ(write(fds[1], "KVX 1.0\n", 8), 8);
  shutdown(fds[1], SHUT_WR);
  kvx_recv(raw);
  EXPECT_TRUE(kvx_eof(raw));

  kvx_unset_blocking_mode(gApp);
  EXPECT_FALSE(gApp->blockingMode);
  EXPECT_EQ(raw->fd, 0);
  EXPECT_NE(fcntl(fds[0], F_GETFL) & O_NONBLOCK, 0);
  gApp->kvx_clients.clear();
  kvx_client_free(raw);
  close(fds[1]);
  event_base_free(base);
  FreeApp();
}

}  // namespace
