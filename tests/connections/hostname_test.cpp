// The host-name placeholder rule, with the device name given by the test.
#include "hostname.h"

#include <gtest/gtest.h>

#include "lumdict.h"

namespace {

struct HostCase {
  const char* text;
  const char* device;
  const char* expected;
};

TEST(HostnamePlaceholder, Table) {
  const HostCase cases[] = {
      {"term-<devname:-3>.lan", "unit0042", "term-042.lan"},
      {"host<devname>", "unit0042", "hostunit0042"},
      {"<other>x", "unit0042", "x"},
      {"plain.example", "unit0042", "plain.example"},
      {"term-<devname:-3>.lan", "", "term-.lan"},
      {"host<devname>", "", "host"},
      {"<devname:0,3>", "unit0042", "unit"},
      {"<devname:2,>", "unit0042", "it0042"},
      {"<devname:-2,-1>", "unit0042", "42"},
      {"<devname:5,2>", "unit0042", "i"},            // start past the end becomes the end
      {"<devname:-50,99>", "unit0042", "unit0042"},  // clamped both ways
      {"<devname:1,2,3>", "unit0042", "unit0042"},   // more than two arguments: whole name
      {"<devname:1,2,3,4,5,6,7,8>", "unit0042", "unit0042"},
      {"a<devname><devname>", "XY", "aXY<devname>"},  // the character after '>' is literal
      {"open<devname", "XY", "open<devname"},         // never closed
      {"<devname:4>", "unit0042", "0042"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(app_preprocess_hostname(std::string(c.text), std::string(c.device)), c.expected)
        << "text " << c.text << " device " << c.device;
  }
}

TEST(HostnamePlaceholder, ProcessDeviceNameIsEmptyAndNodeIsRead) {
  EXPECT_EQ(app_get_device_name(), "");
  EXPECT_EQ(app_preprocess_hostname("t<devname:-3>x"), "tx");
  LumDict dict;
  dict.setStringForKey("node", "h-<devname>.lan");
  EXPECT_EQ(app_get_dictionary_hostname(dict), "h-.lan");
}

}  // namespace
