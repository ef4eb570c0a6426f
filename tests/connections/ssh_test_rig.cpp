// The SSH connection test rig (see ssh_test_rig.h).
#include "ssh_test_rig.h"

#include <dirent.h>
#include <openssl/evp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "lumconnection.h"
#include "sshconnection.h"

namespace sshtest {

using kvxtest::Run;

// ---- prompts ------------------------------------------------------------------

static Prompts* g_prompts = nullptr;

static int rig_entry(void*, const char* title, bool isPassword, const char* msg, const char* saveMsg,
                     std::string* text) {
  if (!g_prompts) return 0;
  g_prompts->entries.push_back({title, msg, saveMsg, isPassword});
  if (g_prompts->answers.empty()) return 0;
  Prompts::Answer a = g_prompts->answers.front();
  g_prompts->answers.pop_front();
  *text = a.text;
  return a.code;
}

static int rig_yesno(void*, const char* title, const char* text) {
  if (!g_prompts) return 0;
  g_prompts->yesnos.push_back({title, text});
  if (g_prompts->onYesNo) g_prompts->onYesNo();
  return g_prompts->yesno;
}

static void rig_fatal(void*, bool fatal, const char* text) {
  if (g_prompts) g_prompts->errors.push_back(std::string(fatal ? "F:" : "E:") + text);
}

Prompts::Prompts() {
  g_prompts = this;
  LumPromptHooks hooks;
  hooks.entry = rig_entry;
  hooks.yesno = rig_yesno;
  hooks.fatal = rig_fatal;
  LumSetPromptHooks(&hooks);
}

Prompts::~Prompts() {
  LumSetPromptHooks(nullptr);
  g_prompts = nullptr;
}

std::string Prompts::All() const {
  std::string all;
  for (const auto& e : entries) all += "[entry " + e.title + "]";
  for (const auto& y : yesnos) all += "[yesno " + y.text + "]";
  for (const auto& e : errors) all += "[" + e + "]";
  return all;
}

// ---- secure store ---------------------------------------------------------------

static SecretStore* g_store = nullptr;

static std::string rig_store(const char* secret) {
  if (!g_store) return std::string();
  g_store->secrets.push_back(secret);
  return "tok-" + std::to_string(g_store->secrets.size());
}

SecretStore::SecretStore() {
  g_store = this;
  LumSetSecretStore(rig_store);
}

SecretStore::~SecretStore() {
  LumSetSecretStore(nullptr);
  g_store = nullptr;
}

// ---- files and keys ---------------------------------------------------------------

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

static std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

std::string Sha1Hex(const std::string& keyLine) {
  std::istringstream in(keyLine);
  std::string type, b64;
  in >> type >> b64;
  std::vector<unsigned char> blob(b64.size());
  int n = EVP_DecodeBlock(blob.data(), reinterpret_cast<const unsigned char*>(b64.data()),
                          static_cast<int>(b64.size()));
  if (n < 0) return std::string();
  n -= static_cast<int>(std::count(b64.end() - 2, b64.end(), '='));  // padding decodes as zero bytes
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdLen = 0;
  EVP_Digest(blob.data(), static_cast<size_t>(n), md, &mdLen, EVP_sha1(), nullptr);
  std::string hex;
  char pair[4];
  for (unsigned int i = 0; i < mdLen; ++i) {
    snprintf(pair, sizeof pair, i ? ":%02x" : "%02x", md[i]);
    hex += pair;
  }
  return hex;
}

std::string Sha256Fingerprint(const std::string& pubFile) {
  std::string out = kvxtest::TempDir() + "/fp";
  Run("ssh-keygen -l -E sha256 -f " + pubFile + " > " + out + " 2>/dev/null");
  std::istringstream in(ReadFile(out));
  Run("rm -rf " + out.substr(0, out.rfind('/')));
  std::string bits, fingerprint;
  in >> bits >> fingerprint;
  return fingerprint;
}

std::string Account::Create() {
  if (getuid() != 0) return "needs root to create the throwaway login user and run sshd";
  if (std::string why = kvxtest::Need({"/usr/sbin/sshd", "ssh-keygen"}); !why.empty()) return why;
  user = "kvxssh" + std::to_string(getpid() % 100000);
  password = "Kvx-" + std::to_string(getpid()) + "-pw";
  Run("userdel -r " + user + " >/dev/null 2>&1");
  if (Run("useradd -m -s /bin/sh " + user) != 0 ||
      Run("echo '" + user + ":" + password + "' | chpasswd") != 0)
    return "could not create the login user";
  keys = kvxtest::TempDir();
  chmod(keys.c_str(), 0755);
  if (Run("ssh-keygen -q -t ed25519 -N '' -C plain -f " + plainKey()) != 0 ||
      Run("ssh-keygen -q -t ed25519 -N '" + passphrase + "' -C secret -f " + secretKey()) != 0 ||
      Run("ssh-keygen -q -t ed25519 -N '' -C stranger -f " + strangerKey()) != 0)
    return "ssh-keygen failed";
  std::string home = "/home/" + user;
  if (Run("mkdir -p " + home + "/.ssh && cat " + plainKey() + ".pub " + secretKey() + ".pub > " + home +
          "/.ssh/authorized_keys && chown -R " + user + ": " + home + "/.ssh && chmod 700 " + home +
          "/.ssh && chmod 600 " + home + "/.ssh/authorized_keys") != 0)
    return "could not authorize the keys";
  return std::string();
}

void Account::Remove() {
  // The server's processes for the user end a moment after the last
  // connection closed; userdel refuses while they run.
  auto end = kvxtest::Clock::now() + std::chrono::seconds(15);
  while (!user.empty() && Run("id " + user + " >/dev/null 2>&1") == 0) {
    if (kvxtest::Clock::now() >= end) {
      Run("userdel -f -r " + user + " >/dev/null 2>&1");
      break;
    }
    Run("userdel -r " + user + " >/dev/null 2>&1");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!keys.empty()) Run("rm -rf " + keys);
}

// ---- sshd -------------------------------------------------------------------------

std::string Sshd::Start(const std::string& extraConfig, const std::string& hostKeyType) {
  mkdir("/run/sshd", 0755);
  _dir = kvxtest::TempDir();
  chmod(_dir.c_str(), 0755);
  if (Run("ssh-keygen -q -t " + hostKeyType + " -N '' -f " + _dir + "/host_key") != 0)
    return "could not make the host key";
  std::ofstream(_dir + "/sshd_config") << "ListenAddress 127.0.0.1\n"
                                       << "HostKey " << _dir << "/host_key\n"
                                       << "PidFile " << _dir << "/sshd.pid\n"
                                       << "UsePAM yes\n"
                                          "PasswordAuthentication yes\n"
                                          "KbdInteractiveAuthentication yes\n"
                                          "PubkeyAuthentication yes\n"
                                          "PermitRootLogin no\n"
                                          "AcceptEnv LANG\n"
                                          "PrintMotd no\n"
                                          "LogLevel VERBOSE\n"
                                       << extraConfig;
  if (Run("/usr/sbin/sshd -t -f " + _dir + "/sshd_config >" + _dir + "/check.log 2>&1") != 0)
    return "sshd rejects its configuration: " + ReadFile(_dir + "/check.log");
  _port = kvxtest::FreePort();
  _process =
      std::make_unique<kvxtest::Background>("exec /usr/sbin/sshd -D -e -f " + _dir + "/sshd_config -p " +
                                            std::to_string(_port) + " 2>" + _dir + "/sshd.log");
  if (!kvxtest::WaitListening(_port)) return "sshd did not start listening: " + Log();
  return std::string();
}

// The direct children of a process, from the parent field of /proc/*/stat.
static std::vector<int> rig_children(int parent) {
  std::vector<int> children;
  DIR* proc = opendir("/proc");
  if (!proc) return children;
  while (struct dirent* e = readdir(proc)) {
    int pid = atoi(e->d_name);
    if (pid <= 0) continue;
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');  // the command name may hold spaces
    if (close == std::string::npos) continue;
    std::istringstream in(stat.substr(close + 1));
    std::string state;
    int ppid = 0;
    in >> state >> ppid;
    if (ppid == parent) children.push_back(pid);
  }
  closedir(proc);
  return children;
}

void Sshd::Freeze() {
  int listener = atoi(ReadFile(_dir + "/sshd.pid").c_str());
  if (listener <= 0) return;
  for (int child : rig_children(listener)) {
    std::vector<int> family = rig_children(child);
    family.push_back(child);
    for (int pid : family) {
      kill(pid, SIGSTOP);
      _frozen.push_back(pid);
    }
  }
}

void Sshd::Thaw() {
  for (int pid : _frozen) {
    kill(pid, SIGTERM);
    kill(pid, SIGCONT);
  }
  _frozen.clear();
}

Sshd::~Sshd() {
  Thaw();
  _process.reset();
  if (!_dir.empty()) Run("rm -rf " + _dir);
}

std::string Sshd::hostKeyLine() const {
  std::istringstream in(FirstLine(ReadFile(_dir + "/host_key.pub")));
  std::string type, blob;
  in >> type >> blob;
  return type + " " + blob;
}

std::string Sshd::Log() const {
  return ReadFile(_dir + "/sshd.log");
}

bool Sshd::LogHas(const std::string& needle, size_t from) const {
  auto end = kvxtest::Clock::now() + std::chrono::seconds(10);
  while (Log().find(needle, from) == std::string::npos) {
    if (kvxtest::Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// ---- HOME ---------------------------------------------------------------------------

TempHome::TempHome() {
  const char* old = getenv("HOME");
  _had = old != nullptr;
  if (old) _old = old;
  _path = kvxtest::TempDir();
  setenv("HOME", _path.c_str(), 1);
}

TempHome::~TempHome() {
  if (_had)
    setenv("HOME", _old.c_str(), 1);
  else
    unsetenv("HOME");
  Run("rm -rf " + _path);
}

void TempHome::Trust(int port, const std::string& keyLine) {
  mkdir(sshDir().c_str(), 0700);
  std::ofstream(knownHosts(), std::ios::app) << "[127.0.0.1]:" << port << " " << keyLine << "\n";
}

}  // namespace sshtest
