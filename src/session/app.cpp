// The process-wide session object and its accessors.
#include "app.h"

app_s* gApp = nullptr;

app_s* app_main_initialize() {
  return new app_s{};
}

void set_app(app_s* app) {
  gApp = app;
}

// No host connection kinds exist in this process yet, so the host is never
// connected.
bool app_is_connected(const app_s* app) {
  (void)app;
  return false;
}
