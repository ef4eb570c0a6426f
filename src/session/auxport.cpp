// The auxiliary port of a session process: the administrator's list of
// devices, opening one (a character device, never through a symbolic link,
// never as the controlling terminal) with the configured line settings,
// the bounded queue with its write watch, and the pause of host reads
// while the device is behind.
#include "auxport.h"

#include <event2/event.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app.h"
#include "em/teaux.h"
#include "te/te.h"
#include "tetrace.h"

struct app_aux_port {
  int fd = -1;
  std::string queue;  // bytes not yet written; `head` of them are done
  size_t head = 0;
  event* watch = nullptr;
  bool closing = false;  // close once the queue is out
  bool lostReported = false;
};

static std::vector<std::string>& aux_allowed() {
  static std::vector<std::string> list;
  return list;
}

void app_aux_allow(const std::string& device) {
  if (!device.empty()) aux_allowed().push_back(device);
}

void app_aux_clear_allowed() {
  aux_allowed().clear();
}

bool app_aux_allow_file(const std::string& file, std::string* error) {
  std::ifstream in(file);
  if (!in) {
    *error = "cannot read " + file;
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    size_t a = line.find_first_not_of(" \t\r"), b = line.find_last_not_of(" \t\r");
    if (a != std::string::npos) app_aux_allow(line.substr(a, b - a + 1));
  }
  return true;
}

bool app_aux_allowed(const std::string& device) {
  for (const std::string& d : aux_allowed())
    if (d == device) return true;
  return false;
}

// ---- the device

static app_aux_port* aux_state(app_s* app) {
  if (!app->aux) app->aux.reset(new app_aux_port);
  return app->aux.get();
}

void app_aux_free(app_aux_port* a) {
  if (!a) return;
  if (a->watch) event_free(a->watch);
  if (a->fd >= 0) close(a->fd);
  delete a;
}

static void aux_refuse(app_s* app, const std::string& why) {
  TE_Trace(TRACE_FAIL, "Auxiliary port: %s\n", why.c_str());
  if (app_channel().send_notice) app_channel().send_notice(app, "aux", ("Auxiliary port: " + why).c_str());
}

static speed_t aux_speed(int baud) {
  static const struct {
    int baud;
    speed_t speed;
  } speeds[] = {{50, B50},       {75, B75},         {110, B110},      {134, B134},     {150, B150},
                {200, B200},     {300, B300},       {600, B600},      {1200, B1200},   {1800, B1800},
                {2400, B2400},   {4800, B4800},     {9600, B9600},    {19200, B19200}, {38400, B38400},
                {57600, B57600}, {115200, B115200}, {230400, B230400}};
  for (const auto& s : speeds)
    if (s.baud == baud) return s.speed;
  return B9600;
}

// Raw line, data bits, flow control, speed, DTR and RTS; a device that
// lacks one of them (a pseudo-terminal has no modem lines) keeps the rest.
static void aux_line(int fd, te* t) {
  termios tio{};
  if (tcgetattr(fd, &tio) == 0) {
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CLOCAL | CREAD | (t->aux_wdlen == 6 ? CS6 : t->aux_wdlen == 7 ? CS7 : CS8);
    if (t->aux_xonmode)
      tio.c_iflag |= IXON | IXOFF;
    else
      tio.c_iflag &= ~(IXON | IXOFF);
    cfsetospeed(&tio, aux_speed(t->aux_baud));
    tcsetattr(fd, TCSANOW, &tio);
  }
  int dtr = TIOCM_DTR, rts = TIOCM_RTS;
  ioctl(fd, t->aux_dtr ? TIOCMBIS : TIOCMBIC, &dtr);
  ioctl(fd, t->aux_rts ? TIOCMBIS : TIOCMBIC, &rts);
}

static std::string aux_device(te* t) {
  if (t->aux_devport[0]) return t->aux_devport;
  if (t->aux_port > 0) return "/dev/ttyS" + std::to_string(t->aux_port - 1);
  return "";
}

static void aux_close_now(app_s* app) {
  app_aux_port* a = app->aux.get();
  if (!a) return;
  if (a->watch) event_free(a->watch);
  a->watch = nullptr;
  if (a->fd >= 0) close(a->fd);
  a->fd = -1;
  a->queue.clear();
  a->head = 0;
  a->closing = false;
  app_pause_host_reads_for_aux(app, false);
}

static void aux_drain(app_s* app) {
  app_aux_port* a = app->aux.get();
  while (a->head < a->queue.size()) {
    ssize_t n = write(a->fd, a->queue.data() + a->head, a->queue.size() - a->head);
    if (n > 0) {
      a->head += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    // The device went away: what waits for it is lost, and said so.
    aux_refuse(app, std::string("writing failed: ") + (n < 0 ? strerror(errno) : "nothing written"));
    aux_close_now(app);
    if (app->lpte) {
      app->lpte->aux_fd = -1;
      setaux(app->lpte, 0xA);  // the diversion ends with its device
    }
    return;
  }
  if (a->head == a->queue.size()) {
    a->queue.clear();
    a->head = 0;
    if (a->watch) event_del(a->watch);
    if (a->closing) {
      aux_close_now(app);
      return;
    }
  } else if (a->head > (1u << 16)) {
    a->queue.erase(0, a->head);
    a->head = 0;
  }
  if (a->queue.size() - a->head < kAppAuxLowWater) app_pause_host_reads_for_aux(app, false);
}

static void aux_writable(evutil_socket_t, short, void* arg) {
  app_s* app = static_cast<app_s*>(arg);
  if (app->aux && app->aux->fd >= 0) aux_drain(app);
}

// ---- the terminal's hooks

static int aux_open(te* t) {
  app_s* app = static_cast<app_s*>(t->app);
  app_aux_port* a = aux_state(app);
  if (a->fd >= 0) {
    // Still draining what the last diversion sent: the same device goes on.
    a->closing = false;
    return a->fd;
  }
  std::string device = aux_device(t);
  if (device.empty()) return -1;
  if (!app_aux_allowed(device)) {
    aux_refuse(app, "the server does not allow the device " + device);
    return -1;
  }
  int fd = open(device.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    aux_refuse(app, "cannot open " + device + ": " + strerror(errno));
    return -1;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    close(fd);
    aux_refuse(app, device + " is not a character device");
    return -1;
  }
  aux_line(fd, t);
  a->fd = fd;
  a->closing = false;
  a->lostReported = false;
  if (app->evbase) a->watch = event_new(app->evbase, fd, EV_WRITE | EV_PERSIST, aux_writable, app);
  TE_Trace(TRACE_CONNECT, "Auxiliary port %s open\n", device.c_str());
  return fd;
}

static int aux_write(te* t, const char* bytes, int n) {
  app_s* app = static_cast<app_s*>(t->app);
  app_aux_port* a = app->aux.get();
  if (!a || a->fd < 0 || n <= 0) return 0;
  size_t pending = a->queue.size() - a->head;
  if (pending + static_cast<size_t>(n) > kAppAuxCap) {
    if (!a->lostReported) aux_refuse(app, "the device is too slow; output for it was lost");
    a->lostReported = true;
    return 0;
  }
  a->queue.append(bytes, static_cast<size_t>(n));
  if (pending == 0) aux_drain(app);
  if (!app->aux || app->aux->fd < 0) return n;
  if (a->head < a->queue.size()) {
    if (a->watch) event_add(a->watch, nullptr);
    if (a->queue.size() - a->head >= kAppAuxHighWater) app_pause_host_reads_for_aux(app, true);
  }
  return n;
}

static void aux_close(te* t) {
  app_s* app = static_cast<app_s*>(t->app);
  app_aux_port* a = app->aux.get();
  if (!a || a->fd < 0) return;
  if (a->head < a->queue.size() && a->watch) {
    a->closing = true;  // after the queue
    return;
  }
  aux_close_now(app);
}

void app_aux_attach(app_s*, te* t) {
  t->hooks.aux_open = aux_open;
  t->hooks.aux_write = aux_write;
  t->hooks.aux_close = aux_close;
}
