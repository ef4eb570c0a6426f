// The auxiliary port through the real binary, with a pseudo-terminal
// standing in for the serial device: the bytes a host diverts with CSI 5 i
// ... CSI 4 i (and the Wyse ESC d # ... DC4) arrive there in order and not
// on the screen, and the line takes the configured settings; a device that
// does not read for a while loses nothing (the host waits); a device the
// server does not allow, one that is not a character device, or an allowed
// name that is a symbolic link, is refused with a notice and the text stays
// on the screen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "emulation_ids.h"
#include "kvx_browser.h"
#include "kvx_test.h"

using kvxtest::TestBrowser;

namespace {

struct Home {
  std::string dir;
  Home() {
    char tmpl[] = "/tmp/kvxaux.XXXXXX";
    dir = mkdtemp(tmpl);
    std::ofstream(dir + "/.bashrc")
        << "PS1='kvx$ '\nunset PROMPT_COMMAND\nbind 'set enable-bracketed-paste off'\n";
  }
  ~Home() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

// The stand-in device: the test reads what the session writes to the
// terminal side.
struct FakeSerial {
  int master = -1, slave = -1;
  std::string path;
  FakeSerial() {
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    path = name;
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, O_NONBLOCK);
  }
  ~FakeSerial() {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }
  // Reads until `done` holds or the time is up.
  std::string ReadUntil(const std::function<bool(const std::string&)>& done, double seconds = 30) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done(got) && std::chrono::steady_clock::now() < end) {
      pollfd p{master, POLLIN, 0};
      poll(&p, 1, 100);
      char buf[4096];
      ssize_t n;
      while ((n = read(master, buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }
  std::string got;
};

std::string Config(int emulate, const std::string& device, const std::string& line) {
  return "{\"kcf\":{\"commtype\":7,\"lines\":24,\"col\":80,\"emulate\":" + std::to_string(emulate) +
         ",\"MBMode\":1,\"clearEmulator\":1,\"aux_devport\":" + kvxtest::JsonString(device) + "," + line +
         "},\"connectToHost\":true}";
}

class AuxPort : public testing::Test {
 protected:
  void Start(const std::vector<std::string>& extra) {
    kvxtest::ServerOptions options;
    options.home = home.dir;
    options.args = {"-p", "0"};
    options.args.insert(options.args.end(), extra.begin(), extra.end());
    server = std::make_unique<kvxtest::KavrixServer>(options);
  }
  bool Open(TestBrowser& b, int emulate, const std::string& device,
            const std::string& line = "\"aux_baud\":9600,\"aux_wordlen\":8") {
    if (!b.NewSession(server->port())) return false;
    b.PostConfig(Config(emulate, device, line));
    return b.Attach() && b.WaitText("kvx$");
  }
  Home home;
  std::unique_ptr<kvxtest::KavrixServer> server;
};

TEST_F(AuxPort, DivertedBytesReachTheDeviceInOrderAndNothingIsLostWhenItIsSlow) {
  FakeSerial serial;
  ASSERT_FALSE(serial.path.empty());
  Start({"--aux-devices", "/dev/null," + serial.path});
  TestBrowser b;
  ASSERT_TRUE(Open(b, KVX_EM_XTERM, serial.path)) << b.Describe();

  // The host's output between CSI 5 i and CSI 4 i goes to the device only
  // (the command line shows the word in capitals, the device gets it in
  // small letters).
  ASSERT_TRUE(b.Type("printf '\\033[5i%s\\033[4i' \"$(echo SECRET | tr A-Z a-z)\"; echo done\r"));
  ASSERT_TRUE(b.WaitText("done")) << b.Describe();
  EXPECT_EQ(serial.ReadUntil([](const std::string& s) { return s.size() >= 6; }), "secret");
  EXPECT_LT(b.screen.Find("secret"), 0) << b.screen.Text();

  // A device that does not read for a while: some 300 KB wait, the host
  // waits with them, and all of it arrives in order.
  serial.got.clear();
  ASSERT_TRUE(b.Type("printf '\\033[5i'; seq 1 50000; printf '\\033[4i'; echo fin''ished\r"));
  b.Pump([] { return false; }, 1.5);
  EXPECT_LT(b.screen.Find("finished"), 0) << "the host waits for the device";
  std::string expected;
  for (int i = 1; i <= 50000; i++) expected += std::to_string(i) + "\r\n";
  std::string got = serial.ReadUntil([&](const std::string& s) { return s.size() >= expected.size(); }, 60);
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected) << "the device's bytes differ from the host's";
  ASSERT_TRUE(b.WaitText("finished")) << b.Describe();
}

TEST_F(AuxPort, WyseDiversionEndsOnDC4AndTheLineHasTheConfiguredSettings) {
  FakeSerial serial;
  ASSERT_FALSE(serial.path.empty());
  // The stand-in starts with settings the session must change.
  termios before{};
  tcgetattr(serial.slave, &before);
  cfsetospeed(&before, B38400);
  before.c_oflag |= OPOST;
  tcsetattr(serial.slave, TCSANOW, &before);
  Start({"--aux-devices", serial.path});
  TestBrowser b;
  ASSERT_TRUE(Open(b, KVX_EM_WYSE50, serial.path, "\"aux_baud\":19200,\"aux_wordlen\":7,\"aux_xon\":1"))
      << b.Describe();
  ASSERT_TRUE(b.Type("printf '\\033d#%s\\024' \"$(echo WYSE | tr A-Z a-z)\"; echo back\r"));
  ASSERT_TRUE(b.WaitText("back")) << b.Describe();
  EXPECT_EQ(serial.ReadUntil([](const std::string& s) { return s.size() >= 4; }), "wyse");
  EXPECT_LT(b.screen.Find("wyse"), 0);
  termios line{};
  ASSERT_EQ(tcgetattr(serial.slave, &line), 0);
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B19200));
  // (The data bits are not seen here: a pseudo-terminal keeps eight.)
  EXPECT_EQ(line.c_oflag & OPOST, 0u) << "raw output";
  EXPECT_NE(line.c_iflag & IXON, 0u) << "XON/XOFF";
}

TEST_F(AuxPort, DevicesTheServerDoesNotAllowAreRefusedAndTheTextStays) {
  std::string file = home.dir + "/not-a-device";
  std::ofstream(file) << "x";
  // An allowed name that is a symbolic link is not followed, even to a
  // character device.
  std::string link = home.dir + "/printer";
  ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
  std::ofstream(home.dir + "/aux.list") << "# allowed devices\n" << file << "\n  " << link << "  # the printer\n";
  Start({"--aux-devices-file", home.dir + "/aux.list"});
  for (const std::string& device : {std::string("/dev/null"), file, link}) {
    TestBrowser b;
    ASSERT_TRUE(Open(b, KVX_EM_XTERM, device)) << b.Describe();
    ASSERT_TRUE(b.Type("printf '\\033[5i%s\\033[4i\\n' \"$(echo SHOWN | tr A-Z a-z)\"\r"));
    ASSERT_TRUE(b.WaitText("shown")) << b.Describe();
    std::string why = device == file   ? file + " is not a character device"
                      : device == link ? "cannot open " + link + ": " + strerror(ELOOP)
                                       : "the server does not allow the device /dev/null";
    EXPECT_NE(b.events.find("notice aux: Auxiliary port: " + why), std::string::npos) << b.events;
  }
  std::ifstream in(file);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "x") << "the file was not written";
}

}  // namespace
