// Host names of the settings: the "<devname...>" placeholder rule that turns
// the configured `node` into the name a connection dials.
#pragma once

#include <string>

class LumDict;

// The device name the platform supplies for placeholders; empty here, since a
// session process has no device of its own.
std::string app_get_device_name();

// `text` with every placeholder replaced, taking the device name from
// app_get_device_name().
std::string app_preprocess_hostname(const char* text);

// The same rule with the device name given by the caller.
std::string app_preprocess_hostname(const std::string& text, const std::string& deviceName);

// The processed value of `node`.
std::string app_get_dictionary_hostname(const LumDict& dict);
