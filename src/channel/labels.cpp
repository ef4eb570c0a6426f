// The status and label lines of the character-mode terminals that keep
// them apart from the screen (the Wyse family and its relatives): one
// LABELS frame naming the lines and carrying their cells as UPDATE does.
#include <endian.h>

#include <vector>

#include "app.h"
#include "channel.h"
#include "te/te.h"

static void lb_line(app_s* app, te* t, const CHATTR* line, std::vector<uint64_t>& out) {
  const bool colorRule = !(t->teflags & TF_HOSTCOLOR);
  const uint64_t normalColor = static_cast<uint64_t>(t->inuseCAT[0].color) & CA_COLOR;
  for (int x = 0; x < t->vcols; x++) {
    uint64_t cell = get_unicode_chattr(app, t, line[x]);
    if (colorRule) cell = (cell & ~CA_COLOR) | normalColor;
    out.push_back(htole64(cell));
  }
}

void kvx_send_labels(app_s* app, kvx_client_t* client, bool onlyChanged) {
  te* t = app ? app->lpte : nullptr;
  if (!t || app->emlib != EM_UNIX) return;
  TELABELS& L = t->labels;
  if (onlyChanged && !L.changed) return;
  // A browser that never saw the lines needs nothing when there are none.
  if (client && !onlyChanged && !L.on && !L.shifton) return;
  const char* fields[3] = {nullptr, nullptr, nullptr};
  int n = 0;
  std::vector<uint64_t> cells;
  if (L.on) {
    fields[n++] = "status";
    lb_line(app, t, L.status, cells);
  }
  if (L.shifton) {
    fields[n++] = "shifted";
    lb_line(app, t, L.shifted, cells);
  }
  const size_t size = cells.size() * sizeof(uint64_t);
  if (client) {
    kvx_send(client, KVX_HOST_ACTION_LABELS, fields, cells.data(), size);
  } else {
    for (kvx_client_t* c : app->kvx_clients)
      if (!c->needScreen) kvx_send(c, KVX_HOST_ACTION_LABELS, fields, cells.data(), size);
  }
  if (!client) L.changed = 0;
}
