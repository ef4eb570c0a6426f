// The auxiliary port of a session process: the serial device beside the
// emulated terminal that host output can be diverted to.  Only devices the
// server's administrator allows may be opened (the browser's settings only
// name one); what the device cannot take at once waits in a bounded queue
// that a write watch drains, and while it is full the host is not read.
#pragma once

#include <string>

struct app_s;
struct te;

// The devices sessions may use (command line and server-side file).
void app_aux_allow(const std::string& device);
// Reads one device path per line ('#' starts a comment); false with the
// reason when the file cannot be read.
bool app_aux_allow_file(const std::string& file, std::string* error);
void app_aux_clear_allowed();
bool app_aux_allowed(const std::string& device);

// Installs the terminal's port hooks (open, queue, close).
void app_aux_attach(app_s* app, te* t);

// Queue limits: past the high-water mark the host is not read until the
// queue is below the low-water mark again; beyond the cap bytes are lost
// (reported), which the pause keeps from happening.
constexpr size_t kAppAuxHighWater = 64u << 10;
constexpr size_t kAppAuxLowWater = 16u << 10;
constexpr size_t kAppAuxCap = 4u << 20;
