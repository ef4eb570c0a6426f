// The files of a session that its browsers may fetch: print jobs now, the
// files a host transfers later.  Each file has an identifier, a name, a
// media type, its bytes and the kind of module that made it; a kind may
// offer the file in other forms too (a print job as PDF), which it makes
// when a browser asks.  The store keeps the newest files within a bound on
// their number and their bytes, dropping the oldest first and telling the
// kind that made it.  Browsers reach the store only through the session's
// own requests, which need the session's identifier (src/server).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <map>
#include <string>
#include <vector>

struct app_s;

struct app_file {
  uint64_t id = 0;        // from 1, never reused within the session
  std::string name;       // offered as the download's name (no directory)
  std::string type;       // media type of `bytes`
  std::string kind;       // the module that made it ("print")
  std::string bytes;
  time_t created = 0;
  std::vector<std::string> forms;             // other forms the kind makes on request ("pdf")
  std::map<std::string, std::string> attrs;   // what the kind tells about it ("pages")
};

// A form of a file as a browser fetches it.
struct app_file_form {
  std::string bytes;
  std::string type;       // media type
  std::string extension;  // with its dot, replacing the name's own
};

// What a kind of file does beyond being kept.
struct app_file_kind {
  // The file in `form` (one of its forms); false when it cannot be made.
  bool (*render)(app_s* app, const app_file& file, const std::string& form, app_file_form* out);
  // The file has left the store: dropped by a browser, or the oldest
  // dropped for the bound (`forBound`).
  void (*dropped)(app_s* app, const app_file& file, bool forBound);
};

// The bound: the newest this many files, and this many bytes among them.
constexpr size_t kAppFilesMax = 20;
constexpr size_t kAppFilesMaxBytes = 16u << 20;

struct app_file_store {
  std::deque<app_file> files;  // oldest first
  size_t bytes = 0;
  uint64_t nextId = 1;
};

void app_files_free(app_file_store* store);

// Registers what a kind does (kinds without one are only kept).
void app_files_register_kind(const std::string& kind, const app_file_kind& ops);
// Adds a file (its id and time are set here); the oldest go until the store
// is within its bound again.  Returns the id.
uint64_t app_files_add(app_s* app, app_file file);
const std::deque<app_file>& app_files_list(app_s* app);
const app_file* app_files_find(app_s* app, uint64_t id);
// The file as `form` asks: "" or its own type's name gives its bytes.
// False when there is no such file or form.
bool app_files_fetch(app_s* app, uint64_t id, const std::string& form, app_file_form* out);
// Drops a file; false when there is none.
bool app_files_drop(app_s* app, uint64_t id);
