// Entry of both roles: the session object, then the command line and listener.
#include "app.h"
#include "server.h"

int main(int argc, char** argv) {
  app_s* app = app_main_initialize();
  set_app(app);
  return winmainloop(nullptr, argc, argv);
}
