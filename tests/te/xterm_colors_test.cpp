// Exact colours, text styles and the alternate screen, as te-replay shows
// them: one table of host output, each case fed to the te-replay tool (the
// xterm (256 colours) member unless the case names another) and its screen
// text, exact colours and styles (--colors), cursor and the rows it kept
// above the screen compared with what the case expects; where libvterm
// knows what the case does, libvterm's rendering of the same bytes too.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vterm_ref.h"

namespace {

constexpr int kRows = 4, kCols = 12;

struct Case {
  const char* name;
  const char* bytes;
  std::vector<std::string> text;    // the rows, trailing blanks trimmed, empty rows left out at the end
  std::vector<std::string> colors;  // "row: spans" of te-replay --colors
  int cursorY, cursorX;
  // libvterm knows what the case does, as xterm does it: its rendering must
  // agree.  Not: dim and the underline colour (libvterm keeps neither),
  // mode 47 (unknown to it), a colour space in the colon form, components
  // above 255 (it takes them modulo 256) and REP, which it neither wraps
  // nor counts in characters when they are wide.
  bool vterm;
  const char* emulation = "xterm256";
  std::vector<std::string> kept = {};  // rows te-replay prints above the screen
};

// What te-replay printed, taken apart.
struct Replay {
  std::vector<std::string> kept, text, colors;
  int cursorY = -1, cursorX = -1;
};

std::string RunReplay(const Case& c) {
  char path[] = "/tmp/kvxcolors.XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return "";
  std::string bytes = c.bytes;
  if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) bytes.clear();
  close(fd);
  std::string cmd = std::string(KVX_BINARY_DIR) + "/te-replay --emulation " + c.emulation + " --rows " +
                    std::to_string(kRows) + " --cols " + std::to_string(kCols) +
                    " --scrollback 20 --colors --cursor " + path;
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  unlink(path);
  return out;
}

Replay Parse(const std::string& out) {
  Replay r;
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  size_t colors = 0;
  while (colors < lines.size() && lines[colors] != "colors:") colors++;
  // The screen's rows are the last kRows before "colors:"; those above are
  // the scrollback's.
  const size_t first = colors >= static_cast<size_t>(kRows) ? colors - kRows : 0;
  r.kept.assign(lines.begin(), lines.begin() + static_cast<long>(first));
  r.text.assign(lines.begin() + static_cast<long>(first), lines.begin() + static_cast<long>(colors));
  while (!r.text.empty() && r.text.back().empty()) r.text.pop_back();
  for (size_t i = colors + 1; i < lines.size(); i++) {
    if (std::sscanf(lines[i].c_str(), "cursor: row %d, col %d", &r.cursorY, &r.cursorX) == 2) break;
    // "  2: spans" → "2: spans"
    size_t at = lines[i].find_first_not_of(' ');
    r.colors.push_back(at == std::string::npos ? lines[i] : lines[i].substr(at));
  }
  return r;
}

std::string Join(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& l : v) s += "[" + l + "]\n";
  return s;
}

const Case kCases[] = {
    // ---- exact colours
    {"TrueColourForeground", "\x1b[38;2;255;128;0mX", {"X"}, {"0: 0-0:fg=#ff8000"}, 0, 1, true},
    {"TrueColourBackground", "\x1b[48;2;1;2;3mX", {"X"}, {"0: 0-0:bg=#010203"}, 0, 1, true},
    {"IndexedColours", "\x1b[38;5;196mA\x1b[48;5;22mB", {"AB"}, {"0: 0-0:fg=196 1-1:fg=196,bg=22"}, 0, 2, true},
    {"ColonFormsWithAndWithoutColourSpace", "\x1b[38:2::10:20:30mA\x1b[38:2:40:50:60mB\x1b[48:5:100mC",
     {"ABC"}, {"0: 0-0:fg=#0a141e 1-1:fg=#28323c 2-2:fg=#28323c,bg=100"}, 0, 3, false},
    {"TheFirstSixteenAreTheCellsOwnColours", "\x1b[38;5;1mA\x1b[48;5;12mB", {"AB"}, {}, 0, 2, true},
    {"DefaultAndSixteenColourSgrEndExactOnes", "\x1b[38;2;1;2;3;48;5;99mA\x1b[39mB\x1b[32;49mC\x1b[0mD",
     {"ABCD"}, {"0: 0-0:fg=#010203,bg=99 1-1:bg=99"}, 0, 4, true},
    {"OutOfRangeColoursAreIgnored", "\x1b[38;2;300;0;0mA\x1b[38;5;256mB", {"AB"}, {}, 0, 2, false},
    {"ErasedCellsTakeTheRenditionInForce", "\x1b[48;2;0;0;255mA\x1b[K", {"A"}, {"0: 0-11:bg=#0000ff"}, 0, 1, true},
    {"WideCharacterKeepsItsColourOnBothHalves", "\x1b[38;2;9;9;9m\xe4\xb8\xad\x1b[0mx", {"\xe4\xb8\xadx"},
     {"0: 0-1:fg=#090909"}, 0, 3, true},
    {"SavedCursorKeepsExactColours", "\x1b[38;5;200m\x1b" "7\x1b[0mA\x1b" "8B", {"B"}, {"0: 0-0:fg=200"}, 0, 1, true},

    // ---- text styles and their resets
    {"ItalicAndItsReset", "\x1b[3mA\x1b[23mB", {"AB"}, {"0: 0-0:italic"}, 0, 2, true},
    {"StrikeThroughAndItsReset", "\x1b[9mA\x1b[29mB", {"AB"}, {"0: 0-0:strike"}, 0, 2, true},
    {"DimAndBoldEndTogether", "\x1b[1;2mA\x1b[22mB\x1b[2mC\x1b[0mD", {"ABCD"}, {"0: 0-0:dim 2-2:dim"}, 0, 4,
     false},
    {"DoubleAndCurlyUnderline", "\x1b[4:2mA\x1b[4:3mB\x1b[24mC\x1b[4:3mD\x1b[4:0mE", {"ABCDE"},
     {"0: 0-0:ul-double 1-1:ul-curly 3-3:ul-curly"}, 0, 5, true},
    {"Sgr21IsDoubleUnderlineOnXterm", "\x1b[21mA\x1b[24mB", {"AB"}, {"0: 0-0:ul-double"}, 0, 2, true},
    {"Sgr21KeepsTheLinuxConsolesPlainUnderline", "\x1b[21mA", {"A"}, {}, 0, 1, false, "linux"},
    {"UnderlineColourAndItsReset", "\x1b[4;58;2;255;0;0mA\x1b[59mB\x1b[58:5:33mC", {"ABC"},
     {"0: 0-0:ul=#ff0000 2-2:ul=33"}, 0, 3, false},
    {"StylesTogetherAndResetAll", "\x1b[3;9;38;5;40mA\x1b[mB", {"AB"}, {"0: 0-0:fg=40,italic,strike"}, 0, 2, true},
    {"XtermColourMemberKeepsThemToo", "\x1b[3;38;2;1;1;1mA", {"A"}, {"0: 0-0:fg=#010101,italic"}, 0, 1, true,
     "mac"},

    // ---- REP and the scrollback's erase
    {"RepeatsTheLastCharacter", "ab\x1b[3b", {"abbbb"}, {}, 0, 5, true},
    {"RepeatsAWideCharacterAndItsColour", "\x1b[38;5;77m\xe4\xb8\xad\x1b[2b", {"\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad"},
     {"0: 0-5:fg=77"}, 0, 6, false},
    {"RepeatWrapsAtTheRightMargin", "\x1b[1;11Hxy\x1b[2b", {"          xy", "yy"}, {}, 1, 2, false},
    {"EraseSavedLinesKeepsTheScreen", "1\r\n2\r\n3\r\n4\r\n5\r\n6\x1b[3J", {"3", "4", "5", "6"}, {}, 3, 1, false,
     "xterm256", {}},
    {"RowsScrolledOffAreKept", "1\r\n2\r\n3\r\n4\r\n5\r\n6", {"3", "4", "5", "6"}, {}, 3, 1, true, "xterm256",
     {"1", "2"}},

    // ---- the alternate screen as xterm keeps it
    {"Mode47LeavesTheShellScreenAndNoRows",
     "one\r\ntwo\x1b" "7\x1b[?47h\x1b[H\x1b[2Jtop\r\nA\r\nB\r\nC\r\nD\r\nE\x1b[2J\x1b[?47l\x1b" "8",
     {"one", "two"}, {}, 1, 3, true},
    {"Mode47NeitherClearsNorMovesTheCursor", "ab\x1b[?47hX\x1b[?47lc\x1b[?47h", {"  X"}, {}, 0, 4, false},
    {"Mode1047ClearsOnTheWayOut", "ab\x1b[?1047hXYZ\x1b[?1047lc\x1b[?1047h", {}, {}, 0, 6, true},
    {"Mode1049SavesClearsAndRestores",
     "shell\r\n\x1b[1;32m\x1b[?1049h\x1b[0m\x1b[Hfull\r\n1\r\n2\r\n3\r\n4\r\n5\x1b[?1049lz",
     {"shell", "z"}, {}, 1, 1, true},
    {"Mode1049ClearsTheAlternateScreenOnEntry", "\x1b[?1049hold\x1b[?1049l\x1b[?1049h", {}, {}, 0, 0, true},
    {"ShellScreenKeepsItsColoursAcrossTheAlternateScreen",
     "\x1b[48;2;10;20;30mX\x1b[?1049h\x1b[0mY\x1b[?1049l", {"X"}, {"0: 0-0:bg=#0a141e"}, 0, 1, true},
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class XtermColors : public ::testing::TestWithParam<Case> {};

TEST_P(XtermColors, TeReplayShowsIt) {
  const Case& c = GetParam();
  const Replay got = Parse(RunReplay(c));
  EXPECT_EQ(Join(got.text), Join(c.text)) << c.bytes;
  EXPECT_EQ(Join(got.colors), Join(c.colors));
  EXPECT_EQ(got.cursorY, c.cursorY);
  EXPECT_EQ(got.cursorX, c.cursorX);
  EXPECT_EQ(Join(got.kept), Join(c.kept));
  if (!c.vterm) return;
  kvxtest::VtermRef ref(kRows, kCols);
  ref.Feed(c.bytes);
  const kvxtest::ComparableScreen want = ref.Screen();
  std::vector<std::string> text = want.text;
  while (!text.empty() && text.back().empty()) text.pop_back();
  EXPECT_EQ(Join(got.text), Join(text)) << "libvterm's screen";
  std::vector<std::string> colors;
  const std::vector<std::string> rows = ref.Colors();
  for (size_t y = 0; y < rows.size(); y++)
    if (!rows[y].empty()) colors.push_back(std::to_string(y) + ": " + rows[y]);
  EXPECT_EQ(Join(got.colors), Join(colors)) << "libvterm's colours";
  EXPECT_EQ(got.cursorY, want.cursorY) << "libvterm's cursor";
  EXPECT_EQ(got.cursorX, want.cursorX) << "libvterm's cursor";
}

INSTANTIATE_TEST_SUITE_P(HostOutput, XtermColors, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

}  // namespace
