// Static files of the browser application: html/<root> with html/shared as
// the fallback, the media type by extension, and where files are found: in
// the working directory, else in the data directory of the installation
// the program runs from (<bindir>/../share/kavrix).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "http.h"

static char* _wd = nullptr;
static char* _dataDir = nullptr;

// The installation's data directory beside the running program, when it
// holds the browser application.
static char* static_find_data_dir() {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return nullptr;
  exe[n] = 0;
  char* slash = strrchr(exe, '/');
  if (!slash) return nullptr;
  *slash = 0;
  char* candidate = nullptr;
  if (asprintf(&candidate, "%s/../share/kavrix", exe) < 0) return nullptr;
  char* resolved = realpath(candidate, nullptr);
  free(candidate);
  struct stat st;
  char* html = nullptr;
  bool ok = resolved && asprintf(&html, "%s/html", resolved) >= 0 && stat(html, &st) == 0 && S_ISDIR(st.st_mode);
  free(html);
  if (!ok) {
    free(resolved);
    return nullptr;
  }
  return resolved;
}

bool kvx_set_working_dir() {
  free(_wd);
  _wd = getcwd(nullptr, 0);
  free(_dataDir);
  _dataDir = static_find_data_dir();
  return _wd != nullptr;
}

void kvx_free_working_dir() {
  free(_wd);
  _wd = nullptr;
  free(_dataDir);
  _dataDir = nullptr;
}

const char* kvx_data_dir() {
  return _dataDir;
}

const char* kvx_working_dir() {
  return _wd ? _wd : ".";
}

char* get_path(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char* relative = nullptr;
  int n = vasprintf(&relative, format, args);
  va_end(args);
  if (n < 0) return nullptr;
  char* path = nullptr;
  if (asprintf(&path, "%s/%s", kvx_working_dir(), relative) < 0) path = nullptr;
  struct stat st;
  char* installed = nullptr;
  if (path && _dataDir && stat(path, &st) != 0 && asprintf(&installed, "%s/%s", _dataDir, relative) >= 0) {
    if (stat(installed, &st) == 0) {
      free(path);
      path = installed;
    } else {
      free(installed);
    }
  }
  free(relative);
  return path;
}

char* get_path_for_cert(const char* name) {
  return get_path("certs/%s.pem", name ? name : "");
}

static bool path_ieq_escape(const char* p, const char* hex) {
  return p[0] == '%' && p[1] && p[2] && (p[1] | 0x20) == (hex[0] | 0x20) && (p[2] | 0x20) == (hex[1] | 0x20);
}

// A request path stays inside the document tree when it is absolute, has no
// ".." segment and hides no dot, slash, backslash or NUL behind an escape.
bool kvx_path_is_safe(const char* path) {
  if (!path || path[0] != '/') return false;
  for (const char* p = path; *p; p++) {
    if (*p == '%' && (path_ieq_escape(p, "2e") || path_ieq_escape(p, "2f") || path_ieq_escape(p, "5c") ||
                      path_ieq_escape(p, "00")))
      return false;
    if (*p == '\\') return false;
    if (*p == '/' && p[1] == '.' && p[2] == '.' && (p[3] == '/' || p[3] == 0)) return false;
  }
  return true;
}

// Opens a regular file read-only; directories and special files count as missing.
static int static_open(const char* path) {
  if (!path) return -1;
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    errno = ENOENT;
    return -1;
  }
  return fd;
}

static LUM_MEDIA_TYPE static_media_type(const char* path) {
  const char* base = strrchr(path, '/');
  base = base ? base + 1 : path;
  const char* dot = strrchr(base, '.');
  if (!dot) return MEDIA_TYPE_UNDEF;
  for (const lum_media_ext* e = extensionToMediaType; e->extension; e++)
    if (strcmp(dot + 1, e->extension) == 0) return e->type;
  return MEDIA_TYPE_UNDEF;
}

void handle_get_request(evhtp_request_t* req, void* arg) {
  if (!req) return;
  if (req->method != htp_method_GET) {
    send_method_not_allowed(req, "GET", false);
    return;
  }
  const char* root = static_cast<const char*>(arg);
  if (!root) return;
  const char* requestPath = req->uri && req->uri->path && req->uri->path->full ? req->uri->path->full : "/";
  if (!kvx_path_is_safe(requestPath)) {
    send_html_error_page(req, KVX_STATUS_FILE_NOT_FOUND);
    return;
  }
  const char* path = strcmp(requestPath, "/") == 0 ? "/index.html" : requestPath;
  char* filePath = get_path("html/%s%s", root, path);
  int fd = static_open(filePath);
  if (fd < 0) {
    free(filePath);
    filePath = get_path("html/shared%s", requestPath);
    fd = static_open(filePath);
  }
  if (fd < 0) {
    free(filePath);
    send_html_error_page(req, KVX_STATUS_FILE_NOT_FOUND);
    return;
  }
  char block[16384];
  int err = 0;
  for (;;) {
    ssize_t n = read(fd, block, sizeof block);
    if (n > 0) {
      evbuffer_add(req->buffer_out, block, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    err = errno;
    break;
  }
  if (err)
    send_html_error_page(req, KVX_STATUS_SYSTEM_ERROR, strerror(err));
  else
    send_buffered_response(req, static_media_type(filePath), KVX_STATUS_OK);
  close(fd);
  free(filePath);
}
