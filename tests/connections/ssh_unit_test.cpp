// The SSH connection without a server: which settings it takes, where it
// looks for keys, and that an unconnected connection fails safe.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "lumdict.h"
#include "sshconnection.h"

namespace {

// An SSH directory of the test's own instead of $HOME/.ssh.
class KeyDirConnection : public LumSSHConnection {
 public:
  explicit KeyDirConnection(std::string dir) : _dir(std::move(dir)) {}
  std::string KeyDirectory() override { return _dir; }

 private:
  std::string _dir;
};

std::string MakeDir() {
  char tmpl[] = "/tmp/kvx-sshkeys-XXXXXX";
  return mkdtemp(tmpl);
}

void Touch(const std::string& path) {
  std::ofstream(path) << "x";
}

TEST(SshSettings, UseDictionaryTakesTheSshKeys) {
  LumDict dict;
  dict.setIntForKey("commtype", 5);
  dict.setStringForKey("node", "host.example");
  dict.setIntForKey("port", 23);
  dict.setIntForKey("sshport", 2222);
  dict.setStringForKey("user", "ann");
  dict.setStringForKey("password", "pw");
  dict.setStringForKey("sshPassphrase", "pp");
  dict.setStringForKey("sshPublicKey", "/keys/me.pub");
  dict.setIntForKey("usePub", 1);
  dict.setIntForKey("storePassword", 1);
  dict.setIntForKey("AcceptSSHFingerprints", 1);
  dict.setIntForKey("sshTimeout", 9);
  dict.setStringForKey("language", "de_DE.UTF-8");
  LumSSHConnection conn;
  conn.UseDictionary(&dict);
  EXPECT_EQ(conn._port, 2222);
  EXPECT_EQ(conn._hostname, "host.example");
  EXPECT_EQ(conn._username, "ann");
  EXPECT_EQ(conn._password, "pw");
  EXPECT_EQ(conn._passphrase, "pp");
  EXPECT_EQ(conn._publicKey, "/keys/me.pub");
  EXPECT_TRUE(conn._usePub);
  EXPECT_FALSE(conn._useAuth);
  EXPECT_TRUE(conn._storePassword);
  EXPECT_TRUE(conn._acceptSSHFingerprints);
  EXPECT_EQ(conn._ssh_timeout, 9);
  EXPECT_EQ(conn._language, "de_DE.UTF-8");
}

TEST(SshSettings, KeyDirectoryFollowsHome) {
  const char* old = getenv("HOME");
  std::string saved = old ? old : "";
  setenv("HOME", "/srv/someone", 1);
  LumSSHConnection conn;
  EXPECT_EQ(conn.KeyDirectory(), "/srv/someone/.ssh");
  if (old)
    setenv("HOME", saved.c_str(), 1);
  else
    unsetenv("HOME");
}

TEST(SshSettings, KeyPaths) {
  std::string dir = MakeDir();
  std::string own = MakeDir();
  struct Case {
    const char* name;
    std::vector<std::string> files;  // created in the key directory
    bool ownKey;                     // sshPublicKey names <own>/me.pub
    bool ownPrivate;                 // and <own>/me exists
    std::string publicPath, privatePath;
  } cases[] = {
      {"nothing there", {}, false, false, dir + "/id_rsa.pub", ""},
      {"rsa pair", {"id_rsa", "id_rsa.pub"}, false, false, dir + "/id_rsa.pub", dir + "/id_rsa"},
      {"dsa first",
       {"id_dsa", "id_dsa.pub", "id_rsa", "id_rsa.pub"},
       false,
       false,
       dir + "/id_dsa.pub",
       dir + "/id_dsa"},
      {"configured pair", {"id_rsa"}, true, true, own + "/me.pub", own + "/me"},
      {"configured key without its private half", {"id_rsa"}, true, false, own + "/me.pub", dir + "/id_rsa"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    system(("rm -f " + dir + "/* " + own + "/*").c_str());
    for (const auto& f : c.files) Touch(dir + "/" + f);
    if (c.ownPrivate) Touch(own + "/me");
    KeyDirConnection conn(dir);
    if (c.ownKey) conn._publicKey = own + "/me.pub";
    EXPECT_EQ(conn.PublicKeyPath(), c.publicPath);
    EXPECT_EQ(conn.PrivateKeyPath(), c.privatePath);
  }
  system(("rm -rf " + dir + " " + own).c_str());
}

TEST(SshUnconnected, FailsSafe) {
  LumSSHConnection conn;
  char buf[16];
  EXPECT_FALSE(conn.IsConnected());
  EXPECT_EQ(conn.Read(buf, sizeof buf), -1);
  EXPECT_EQ(conn.HasData(), -1);
  EXPECT_EQ(conn.gotFileDescriptor(5), LUM_CONNECT_PENDING);
  EXPECT_EQ(conn.ContinueConnection(), 0);
  conn.Comout("ls\n", 3);
  conn.ChangePtySize(30, 100);
  EXPECT_EQ(conn._rows, 30);
  EXPECT_EQ(conn._cols, 100);
  conn.Disconnect();
  conn.Disconnect();
  EXPECT_EQ(conn.fd(), 0);
}

}  // namespace
