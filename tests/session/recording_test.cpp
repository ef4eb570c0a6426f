// The recording's byte-level rules: host bytes made valid UTF-8 (sequences
// split across reads, invalid bytes, one byte per character without UTF-8),
// JSON strings, and the ANSI text that redraws a cell.
#include "recording.h"

#include <gtest/gtest.h>

#include <string>

#include "vid/chattr.h"

namespace {

std::string Utf8(const std::string& bytes, bool utf8, std::string& pending) {
  return kvx_record_utf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), utf8, pending);
}

TEST(Recording, HostBytesBecomeValidUtf8) {
  struct Case {
    std::string in, out;
  };
  const std::string bad = "\xEF\xBF\xBD";
  const Case cases[] = {
      {"plain \x1b[1mtext\r\n", "plain \x1b[1mtext\r\n"},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"a\x80z", "a" + bad + "z"},                  // a lone continuation byte
      {"\xC0\xAF", bad + bad},                      // an overlong form
      {"\xED\xA0\x80", bad + bad + bad},            // a surrogate
      {"\xF4\x90\x80\x80", bad + bad + bad + bad},  // beyond U+10FFFF
      {"\xE2\x82x", bad + "x"},                     // cut short inside the text
      {"\xFF\xFE", bad + bad},
  };
  for (const Case& c : cases) {
    std::string pending;
    EXPECT_EQ(Utf8(c.in, true, pending), c.out);
    EXPECT_EQ(pending, "");
  }
  // A sequence split across reads comes out whole with the second.
  std::string pending;
  EXPECT_EQ(Utf8("ok \xE2\x82", true, pending), "ok ");
  EXPECT_EQ(pending, "\xE2\x82");
  EXPECT_EQ(Utf8("\xAC!", true, pending), "\xE2\x82\xAC!");
  EXPECT_EQ(pending, "");
  // Without UTF-8 every byte is one character.
  EXPECT_EQ(Utf8("caf\xE9 \x9B", false, pending), "caf\xC3\xA9 \xC2\x9B");
}

TEST(Recording, JsonStrings) {
  EXPECT_EQ(kvx_record_json_string("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(kvx_record_json_string("\x1b[0m\r\n\x7f"), "\"\\u001b[0m\\u000d\\u000a\\u007f\"");
  EXPECT_EQ(kvx_record_json_string("\xC3\xA9"), "\"\xC3\xA9\"");
}

TEST(Recording, CellsRedrawWithTheirAttributes) {
  const uint64_t a = static_cast<uint64_t>('A') | (0x07ull << CA_COLOR_SHIFT);  // light grey on black
  uint64_t sgr = ~0ull;
  EXPECT_EQ(kvx_record_cell_text(a, &sgr), "\x1b[0;37;40mA");
  EXPECT_EQ(kvx_record_cell_text(a + 1, &sgr), "B") << "same attributes: no SGR again";
  // Bold, underline, reverse; PC colour order (1 blue, 4 red, bright from 8).
  const uint64_t b = 'x' | CA_BOLD | CA_UNDER | CA_REV | (0x4Cull << CA_COLOR_SHIFT);
  EXPECT_EQ(kvx_record_cell_text(b, &sgr), "\x1b[0;1;4;7;91;41mx");
  // No explicit colour, the terminal's defaults.
  EXPECT_EQ(kvx_record_cell_text('y' | (0xFFull << CA_COLOR_SHIFT), &sgr), "\x1b[0my");
  // The Unicode value once the channel has filled it in; invisible cells
  // and control characters are blanks.
  const uint64_t euro = 0x80 | (0xFFull << CA_COLOR_SHIFT) | ca_from_unicode(0x20AC) | CA_CHANNEL;
  EXPECT_EQ(kvx_record_cell_text(euro, &sgr), "\xE2\x82\xAC");
  EXPECT_EQ(kvx_record_cell_text('s' | CA_INVIS | (0xFFull << CA_COLOR_SHIFT), &sgr), " ");
  EXPECT_EQ(kvx_record_cell_text(0x1b | (0xFFull << CA_COLOR_SHIFT), &sgr), " ");
  EXPECT_EQ(kvx_record_cell_text(0x9b | (0xFFull << CA_COLOR_SHIFT), &sgr), " ");
}

}  // namespace
