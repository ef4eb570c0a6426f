// The session's file store (see file_store.h).
#include "file_store.h"

#include <map>

#include "app.h"

static std::map<std::string, app_file_kind>& fs_kinds() {
  static std::map<std::string, app_file_kind> kinds;
  return kinds;
}

static app_file_store& fs_store(app_s* app) {
  if (!app->files) app->files.reset(new app_file_store);
  return *app->files;
}

void app_files_free(app_file_store* store) {
  delete store;
}

void app_files_register_kind(const std::string& kind, const app_file_kind& ops) {
  fs_kinds()[kind] = ops;
}

static void fs_dropped(app_s* app, const app_file& file, bool forBound) {
  auto it = fs_kinds().find(file.kind);
  if (it != fs_kinds().end() && it->second.dropped) it->second.dropped(app, file, forBound);
}

uint64_t app_files_add(app_s* app, app_file file) {
  app_file_store& s = fs_store(app);
  file.id = s.nextId++;
  file.created = time(nullptr);
  s.bytes += file.bytes.size();
  s.files.push_back(std::move(file));
  const uint64_t id = s.files.back().id;
  // The newest file stays even when it alone is over the bound in bytes:
  // whoever made it kept it within that bound already.
  while (s.files.size() > 1 && (s.files.size() > kAppFilesMax || s.bytes > kAppFilesMaxBytes)) {
    app_file gone = std::move(s.files.front());
    s.files.pop_front();
    s.bytes -= gone.bytes.size();
    fs_dropped(app, gone, true);
  }
  return id;
}

const std::deque<app_file>& app_files_list(app_s* app) {
  return fs_store(app).files;
}

const app_file* app_files_find(app_s* app, uint64_t id) {
  for (const app_file& f : fs_store(app).files)
    if (f.id == id) return &f;
  return nullptr;
}

bool app_files_fetch(app_s* app, uint64_t id, const std::string& form, app_file_form* out) {
  const app_file* f = app_files_find(app, id);
  if (!f) return false;
  if (form.empty() || form == "raw") {
    out->bytes = f->bytes;
    out->type = f->type;
    out->extension.clear();
    return true;
  }
  bool offered = false;
  for (const std::string& x : f->forms) offered = offered || x == form;
  auto it = fs_kinds().find(f->kind);
  if (!offered || it == fs_kinds().end() || !it->second.render) return false;
  return it->second.render(app, *f, form, out);
}

bool app_files_drop(app_s* app, uint64_t id) {
  app_file_store& s = fs_store(app);
  for (auto it = s.files.begin(); it != s.files.end(); ++it) {
    if (it->id != id) continue;
    app_file gone = std::move(*it);
    s.files.erase(it);
    s.bytes -= gone.bytes.size();
    fs_dropped(app, gone, false);
    return true;
  }
  return false;
}
