// The xterm (256 colours) member against Debian's xterm-256color entry: a
// walk over every string capability `infocmp -1x xterm-256color` lists.
// Each one the host sends (rendered by `tput`, with arguments where it
// takes them) is fed to the engine as te-replay feeds it and does what the
// entry says; each key the entry names is what the member's keyboard map
// sends for that key; the few left are listed with the reason they are
// harmless.  A capability in none of the three lists fails the walk, so a
// newer entry's additions do not pass unseen.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "keyname.h"
#include "kvx_deps.h"
#include "term.h"
#include "vid/xattr.h"

namespace {

constexpr const char* kEntry = "xterm-256color";

std::string Run(const std::string& cmd, bool* ok = nullptr) {
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return "";
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  if (ok) *ok = status == 0;
  return out;
}

// A capability as the host sends it, with its arguments.
std::string Tput(const std::string& cap, const std::string& args = "") {
  return Run(std::string("tput -T ") + kEntry + " " + cap + " " + args + " 2>/dev/null");
}

// The names of the entry's string capabilities.
std::set<std::string> StringCaps() {
  std::set<std::string> caps;
  std::istringstream in(Run(std::string("infocmp -1x ") + kEntry));
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] != '\t') continue;
    size_t eq = line.find('=');
    if (eq != std::string::npos) caps.insert(line.substr(1, eq - 1));
  }
  return caps;
}

// A capability's value as infocmp writes it (\E for ESC, % forms kept).
std::string RawCap(const std::string& cap) {
  std::istringstream in(Run(std::string("infocmp -1x ") + kEntry));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("\t" + cap + "=", 0) != 0) continue;
    std::string value = line.substr(cap.size() + 2);
    if (!value.empty() && value.back() == ',') value.pop_back();
    return value;
  }
  return "";
}

// ---- capabilities the host sends

struct Xterm : Term {
  Xterm() : Term(EMODE_XTERM256, 24, 80) {}
  int y() const { return t->vdestline; }
  int x() const { return t->vdestcol; }
  void at(int row, int col) { feed("\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H"); }
  std::string styles(int col, int row) const { return vid_xattrtext(t, cell(col, row)); }
  // Rows 0..n-1 as "1".."n".
  void numbered(int n) {
    feed("\x1b[H\x1b[2J");
    for (int i = 1; i <= n; i++) feed(std::to_string(i) + (i < n ? "\r\n" : ""));
  }
};

// A check: "" when the capability acted as the entry says, else what went
// wrong.
using Check = std::function<std::string(Xterm&)>;

std::string Expect(bool ok, const std::string& what) {
  return ok ? "" : what;
}
std::string Same(const std::string& got, const std::string& want, const std::string& what) {
  return got == want ? "" : what + ": got [" + got + "], want [" + want + "]";
}
std::string Cursor(Xterm& t, int y, int x) {
  return Expect(t.y() == y && t.x() == x, "cursor at " + std::to_string(t.y()) + "," + std::to_string(t.x()) +
                                              ", want " + std::to_string(y) + "," + std::to_string(x));
}

// A rendition on and off: cells written with it carry `on`, after the reset
// not.
Check Rendition(const std::string& on, const std::string& off, const std::function<bool(Xterm&, int)>& has) {
  return [=](Xterm& t) {
    t.feed(Tput(on) + "A" + Tput(off) + "B");
    return Expect(has(t, 0) && !has(t, 1), on + "/" + off);
  };
}
std::function<bool(Xterm&, int)> Bit(CHATTR bit) {
  return [=](Xterm& t, int col) { return (t.cell(col, 0) & bit) != 0; };
}
std::function<bool(Xterm&, int)> Style(const std::string& name) {
  return [=](Xterm& t, int col) { return t.styles(col, 0).find(name) != std::string::npos; };
}

const std::map<std::string, Check>& OutputChecks() {
  static const std::map<std::string, Check> checks = {
      {"acsc",
       [](Xterm& t) {
         // Every line-drawing character the entry names is drawn as one.
         const std::string acsc = Tput("acsc");
         std::string wrong;
         for (size_t i = 1; i < acsc.size(); i += 2) {
           t.feed("\x1b[H" + Tput("smacs") + std::string(1, acsc[i]) + Tput("rmacs"));
           const std::string shown = t.row(0);
           if (shown.empty() || static_cast<unsigned char>(shown[0]) < 0x80) wrong += acsc[i];
         }
         return Expect(wrong.empty(), "not drawn as line graphics: " + wrong);
       }},
      {"bel",
       [](Xterm& t) {
         t.feed(Tput("bel"));
         return Expect(t.bells == 1, "no bell");
       }},
      {"blink", Rendition("blink", "sgr0", Bit(CA_BLINK))},
      {"bold", Rendition("bold", "sgr0", Bit(CA_BOLD))},
      {"dim", Rendition("dim", "sgr0", Style("dim"))},
      {"invis", Rendition("invis", "sgr0", Bit(CA_INVIS))},
      {"rev", Rendition("rev", "sgr0", Bit(CA_REV))},
      {"smso", Rendition("smso", "rmso", Bit(CA_REV))},
      {"rmso", Rendition("smso", "rmso", Bit(CA_REV))},
      {"smul", Rendition("smul", "rmul", Bit(CA_UNDER))},
      {"rmul", Rendition("smul", "rmul", Bit(CA_UNDER))},
      {"sitm", Rendition("sitm", "ritm", Style("italic"))},
      {"ritm", Rendition("sitm", "ritm", Style("italic"))},
      {"smxx", Rendition("smxx", "rmxx", Style("strike"))},
      {"rmxx", Rendition("smxx", "rmxx", Style("strike"))},
      {"sgr0", Rendition("bold", "sgr0", Bit(CA_BOLD))},
      {"sgr",
       [](Xterm& t) {
         // p2 underline and p6 bold, then p1 standout with p9 line graphics.
         t.feed(Tput("sgr", "0 1 0 0 0 1 0 0 0") + "A" + Tput("sgr", "1 0 0 0 0 0 0 0 1") + "q" + Tput("sgr0") + "q");
         const CHATTR a = t.cell(0, 0), b = t.cell(1, 0);
         const std::string shown = t.row(0);
         return Expect((a & CA_UNDER) && (a & CA_BOLD) && !(a & CA_REV) && (b & CA_REV) && !(b & CA_BOLD) &&
                           shown.size() > 2 && static_cast<unsigned char>(shown[1]) >= 0x80 && shown.back() == 'q',
                       "sgr renditions: " + shown);
       }},
      {"op",
       [](Xterm& t) {
         t.feed("A" + Tput("setaf", "1") + Tput("setab", "200") + Tput("op") + "B");
         return Expect(ca_colorbyte(t.cell(0, 0)) == ca_colorbyte(t.cell(1, 0)) && t.styles(1, 0).empty(),
                       "op leaves colours");
       }},
      {"setaf",
       [](Xterm& t) {
         t.feed(Tput("setaf", "1") + "a" + Tput("setaf", "9") + "b" + Tput("setaf", "100") + "c");
         return Expect((t.cell(0, 0) & CA_FG) >> 24 == 4 && (t.cell(1, 0) & CA_FG) >> 24 == 12 &&
                           t.styles(2, 0) == "fg=100",
                       "setaf 1, 9, 100: " + t.styles(2, 0));
       }},
      {"setab",
       [](Xterm& t) {
         t.feed(Tput("setab", "2") + "a" + Tput("setab", "10") + "b" + Tput("setab", "231") + "c");
         return Expect((t.cell(0, 0) & CA_BG) >> 28 == 2 && (t.cell(1, 0) & CA_BG) >> 28 == 10 &&
                           t.styles(2, 0) == "bg=231",
                       "setab 2, 10, 231: " + t.styles(2, 0));
       }},
      {"cbt",
       [](Xterm& t) {
         t.at(0, 20);
         t.feed(Tput("cbt"));
         return Cursor(t, 0, 16);
       }},
      {"ht",
       [](Xterm& t) {
         t.feed(Tput("ht"));
         return Cursor(t, 0, 8);
       }},
      {"hts",
       [](Xterm& t) {
         t.feed(Tput("tbc"));
         t.at(0, 3);
         t.feed(Tput("hts") + "\r" + Tput("ht"));
         return Cursor(t, 0, 3);
       }},
      {"tbc",
       [](Xterm& t) {
         t.feed(Tput("tbc") + Tput("ht"));
         return Cursor(t, 0, 79);
       }},
      {"civis",
       [](Xterm& t) {
         t.feed(Tput("civis"));
         return Expect(!t.t->vCaret, "cursor shown");
       }},
      {"cnorm",
       [](Xterm& t) {
         t.feed(Tput("civis") + Tput("cvvis") + Tput("cnorm"));
         return Expect(t.t->vCaret && !t.t->_cursorblink, "cursor hidden or blinking");
       }},
      {"cvvis",
       [](Xterm& t) {
         t.feed(Tput("civis") + Tput("cvvis"));
         return Expect(t.t->vCaret && t.t->_cursorblink, "cursor hidden or steady");
       }},
      {"clear",
       [](Xterm& t) {
         t.numbered(5);
         t.feed(Tput("clear"));
         return Same(t.screen(), "", "screen") + Cursor(t, 0, 0);
       }},
      {"cr",
       [](Xterm& t) {
         t.feed("abc" + Tput("cr"));
         return Cursor(t, 0, 0);
       }},
      {"csr",
       [](Xterm& t) {
         t.at(5, 5);
         t.feed(Tput("csr", "2 5"));
         return Expect(t.t->_vscregion && t.t->_vscregtop == 2 && t.t->_vscregbot == 5, "region") + Cursor(t, 0, 0);
       }},
      {"cub",
       [](Xterm& t) {
         t.at(10, 10);
         t.feed(Tput("cub", "3"));
         return Cursor(t, 10, 7);
       }},
      {"cub1",
       [](Xterm& t) {
         t.at(10, 10);
         t.feed(Tput("cub1"));
         return Cursor(t, 10, 9);
       }},
      {"cud",
       [](Xterm& t) {
         t.at(10, 10);
         t.feed(Tput("cud", "3"));
         return Cursor(t, 13, 10);
       }},
      {"cud1",
       [](Xterm& t) {
         t.at(10, 10);
         t.feed(Tput("cud1"));
         return Cursor(t, 11, 10);
       }},
      {"cuf",
       [](Xterm& t) {
         t.at(10, 10);
         t.feed(Tput("cuf", "3"));
         return Cursor(t, 10, 13);
       }},
      {"cuf1",
       [](Xterm& t) {
         t.at(10, 10);
         t.feed(Tput("cuf1"));
         return Cursor(t, 10, 11);
       }},
      {"cup",
       [](Xterm& t) {
         t.feed(Tput("cup", "5 7"));
         return Cursor(t, 5, 7);
       }},
      {"cuu",
       [](Xterm& t) {
         t.at(10, 10);
         t.feed(Tput("cuu", "3"));
         return Cursor(t, 7, 10);
       }},
      {"cuu1",
       [](Xterm& t) {
         t.at(10, 10);
         t.feed(Tput("cuu1"));
         return Cursor(t, 9, 10);
       }},
      {"home",
       [](Xterm& t) {
         t.at(10, 10);
         t.feed(Tput("home"));
         return Cursor(t, 0, 0);
       }},
      {"hpa",
       [](Xterm& t) {
         t.at(3, 3);
         t.feed(Tput("hpa", "7"));
         return Cursor(t, 3, 7);
       }},
      {"vpa",
       [](Xterm& t) {
         t.at(3, 3);
         t.feed(Tput("vpa", "7"));
         return Cursor(t, 7, 3);
       }},
      {"nel",
       [](Xterm& t) {
         t.at(3, 3);
         t.feed(Tput("nel"));
         return Cursor(t, 4, 0);
       }},
      {"dch",
       [](Xterm& t) {
         t.feed("abcdef\r" + Tput("cuf1") + Tput("dch", "2"));
         return Same(t.row(0), "adef", "row");
       }},
      {"dch1",
       [](Xterm& t) {
         t.feed("abcdef\r" + Tput("cuf1") + Tput("dch1"));
         return Same(t.row(0), "acdef", "row");
       }},
      {"ech",
       [](Xterm& t) {
         t.feed("abcdef\r" + Tput("cuf1") + Tput("ech", "2"));
         return Same(t.row(0), "a  def", "row") + Cursor(t, 0, 1);
       }},
      {"ich",
       [](Xterm& t) {
         t.feed("abcdef\r" + Tput("cuf1") + Tput("ich", "2"));
         return Same(t.row(0), "a  bcdef", "row");
       }},
      {"el",
       [](Xterm& t) {
         t.feed("abcdef\r" + Tput("cuf", "2") + Tput("el"));
         return Same(t.row(0), "ab", "row");
       }},
      {"el1",
       [](Xterm& t) {
         t.feed("abcdef\r" + Tput("cuf", "2") + Tput("el1"));
         return Same(t.row(0), "   def", "row");
       }},
      {"ed",
       [](Xterm& t) {
         t.numbered(5);
         t.at(1, 0);
         t.feed(Tput("ed"));
         return Same(t.screen(), "1\n", "screen");
       }},
      {"dl",
       [](Xterm& t) {
         t.numbered(5);
         t.at(1, 0);
         t.feed(Tput("dl", "2"));
         return Same(t.screen(), "1\n4\n5\n", "screen");
       }},
      {"dl1",
       [](Xterm& t) {
         t.numbered(3);
         t.at(1, 0);
         t.feed(Tput("dl1"));
         return Same(t.screen(), "1\n3\n", "screen");
       }},
      {"il",
       [](Xterm& t) {
         t.numbered(3);
         t.at(1, 0);
         t.feed(Tput("il", "2"));
         return Same(t.screen(), "1\n\n\n2\n3\n", "screen");
       }},
      {"il1",
       [](Xterm& t) {
         t.numbered(3);
         t.at(1, 0);
         t.feed(Tput("il1"));
         return Same(t.screen(), "1\n\n2\n3\n", "screen");
       }},
      {"ind",
       [](Xterm& t) {
         t.numbered(24);
         t.feed(Tput("ind"));
         return Same(t.row(0), "2", "top row") + Same(t.row(22), "24", "row 22");
       }},
      {"indn",
       [](Xterm& t) {
         t.numbered(24);
         t.feed(Tput("indn", "2"));
         return Same(t.row(0), "3", "top row");
       }},
      {"ri",
       [](Xterm& t) {
         t.numbered(3);
         t.feed("\x1b[H" + Tput("ri"));
         return Same(t.screen(), "\n1\n2\n3\n", "screen");
       }},
      {"rin",
       [](Xterm& t) {
         t.numbered(3);
         t.feed(Tput("rin", "2"));
         return Same(t.screen(), "\n\n1\n2\n3\n", "screen");
       }},
      {"rep",
       [](Xterm& t) {
         t.feed(Tput("rep", "120 4"));  // 'x' four times
         return Same(t.row(0), "xxxx", "row");
       }},
      {"sc",
       [](Xterm& t) {
         t.at(3, 4);
         t.feed(Tput("sc") + Tput("home") + Tput("rc"));
         return Cursor(t, 3, 4);
       }},
      {"rc",
       [](Xterm& t) {
         t.at(6, 2);
         t.feed(Tput("sc") + Tput("cup", "1 1") + Tput("rc"));
         return Cursor(t, 6, 2);
       }},
      {"smacs",
       [](Xterm& t) {
         t.feed(Tput("smacs") + "q" + Tput("rmacs") + "q");
         const std::string row = t.row(0);
         return Same(row, "\xe2\x94\x80q", "a horizontal line, then q");
       }},
      {"rmacs",
       [](Xterm& t) {
         t.feed(Tput("smacs") + Tput("rmacs") + "q");
         return Same(t.row(0), "q", "row");
       }},
      {"smam",
       [](Xterm& t) {
         t.feed(Tput("rmam") + Tput("smam") + std::string(81, 'w'));
         return Same(t.row(1), "w", "wrapped row");
       }},
      {"rmam",
       [](Xterm& t) {
         t.feed(Tput("rmam") + std::string(79, 'w') + "xyz");
         return Same(t.row(1), "", "next row") + Expect(t.row(0).back() == 'z', "last column");
       }},
      {"smir",
       [](Xterm& t) {
         t.feed("abc\r" + Tput("smir") + "X");
         return Same(t.row(0), "Xabc", "row");
       }},
      {"rmir",
       [](Xterm& t) {
         t.feed("abc\r" + Tput("smir") + Tput("rmir") + "X");
         return Same(t.row(0), "Xbc", "row");
       }},
      {"smkx",
       [](Xterm& t) {
         t.feed(Tput("smkx"));
         return Expect(t.t->_appcur && t.t->_appkey, "application keys");
       }},
      {"rmkx",
       [](Xterm& t) {
         t.feed(Tput("smkx") + Tput("rmkx"));
         return Expect(!t.t->_appcur && !t.t->_appkey, "normal keys");
       }},
      {"smcup",
       [](Xterm& t) {
         // The shell screen, then a program's own with its title, then back:
         // the shell screen as it was, its title, and no rows kept.
         t.feed("\x1b]2;shell\x07" "shell text\r\n$ ");
         const uint64_t kept = t.t->sbadded;
         t.feed(Tput("smcup") + "\x1b]2;program\x07" "\x1b[H\x1b[2J");
         const std::string inside = t.screen();
         for (int i = 0; i < 40; i++) t.feed("program line " + std::to_string(i) + "\r\n");
         t.feed(Tput("rmcup"));
         return Same(inside, "", "the program's screen") + Same(t.screen(), "shell text\n$\n", "shell screen") +
                Cursor(t, 1, 2) + Same(t.title, "shell", "title") +
                Expect(t.t->sbadded == kept, "rows went to the scrollback");
       }},
      {"rmcup",
       [](Xterm& t) {
         t.feed("before" + Tput("smcup") + "during" + Tput("rmcup"));
         return Same(t.screen(), "before\n", "screen") + Expect(t.t->_vcurpage == 0, "alternate screen shown");
       }},
      {"smglp",
       [](Xterm& t) {
         t.feed(Tput("smglp", "5"));
         return Expect(t.t->_decvssm && t.t->_vscregleft == 5, "left margin 5");
       }},
      {"smglr",
       [](Xterm& t) {
         t.feed(Tput("smglr", "5 20"));
         return Expect(t.t->_decvssm && t.t->_vscregleft == 5 && t.t->_vscregright == 20, "margins 5-20");
       }},
      {"smgrp",
       [](Xterm& t) {
         t.feed(Tput("smgrp", "40"));
         return Expect(t.t->_decvssm && t.t->_vscregright == 40, "right margin 40");
       }},
      {"mgc",
       [](Xterm& t) {
         t.feed(Tput("smglr", "5 20") + Tput("mgc"));
         return Expect(!t.t->_decvssm && t.t->_vscregleft == 0 && t.t->_vscregright == 79, "margins cleared");
       }},
      {"flash",
       [](Xterm& t) {
         // The screen in reverse video for a moment, then back.
         const std::string flash = Tput("flash");
         const size_t on = flash.find("\x1b[?5h");
         t.feed(flash.substr(0, on + 5));
         const bool reversed = t.t->_revvideo;
         t.feed(flash.substr(on + 5));
         return Expect(on != std::string::npos && reversed && !t.t->_revvideo, "no flash");
       }},
      {"is2",
       [](Xterm& t) {
         t.feed("\x1b[4h\x1b=" + Tput("is2"));
         return Expect(!t.t->_vinsmode && !t.t->_appkey && !t.t->col132, "modes after is2");
       }},
      {"rs2",
       [](Xterm& t) {
         t.feed("\x1b[4h\x1b=\x1b[?3h" + Tput("rs2"));
         return Expect(!t.t->_vinsmode && !t.t->_appkey && !t.t->col132, "modes after rs2");
       }},
      {"rs1",
       [](Xterm& t) {
         t.feed("text\x1b[4h" + Tput("rs1"));
         return Same(t.screen(), "", "screen") + Expect(!t.t->_vinsmode, "insert mode") + Cursor(t, 0, 0);
       }},
      {"mc0",
       [](Xterm& t) {
         t.feed(Tput("mc0"));
         return Expect(t.screenPrints == 1, "no print of the screen");
       }},
      {"mc5",
       [](Xterm& t) {
         t.feed(Tput("mc5") + "to the printer" + Tput("mc4") + "on screen");
         return Same(t.printed, "to the printer", "printed") + Same(t.row(0), "on screen", "row");
       }},
      {"mc4",
       [](Xterm& t) {
         t.feed(Tput("mc5") + "x" + Tput("mc4") + "y");
         return Same(t.row(0), "y", "row");
       }},
      {"u7",
       [](Xterm& t) {
         // The cursor report, 1-based row then column.
         t.at(4, 9);
         t.feed(Tput("u7"));
         return Same(t.sent, "\x1b[5;10R", "report");
       }},
      {"u6",
       [](Xterm& t) {
         // The form of the report u7 asks for: what the engine sends.
         t.at(0, 0);
         t.feed(Tput("u7"));
         return Same(RawCap("u6"), "\\E[%i%d;%dR", "u6") + Same(t.sent, "\x1b[1;1R", "report");
       }},
      {"u9",
       [](Xterm& t) {
         // Device attributes, in the form u8 matches: ESC [ ? digits and ; c.
         t.feed(Tput("u9"));
         const std::string& s = t.sent;
         bool ok = s.size() > 4 && s.compare(0, 3, "\x1b[?") == 0 && s.back() == 'c';
         for (size_t i = 3; ok && i + 1 < s.size(); i++) ok = (s[i] >= '0' && s[i] <= '9') || s[i] == ';';
         return Expect(ok, "device attributes");
       }},
      {"u8",
       [](Xterm& t) {
         t.feed(Tput("u9"));
         return Expect(t.sent.rfind("\x1b[?", 0) == 0 && !t.sent.empty() && t.sent.back() == 'c', "device attributes");
       }},
      {"BE",
       [](Xterm& t) {
         t.feed(Tput("BE"));
         return Expect(t.t->_bracketpaste, "bracketed paste");
       }},
      {"BD",
       [](Xterm& t) {
         t.feed(Tput("BE") + Tput("BD"));
         return Expect(!t.t->_bracketpaste, "bracketed paste");
       }},
      {"E3",
       [](Xterm& t) {
         t.numbered(30);
         const bool had = t.t->_sb->sblastline > 0;
         t.feed(Tput("E3"));
         return Expect(had && t.t->_sb->sblastline == 0, "scrollback kept") + Same(t.row(0), "7", "screen");
       }},
      {"Ms",
       [](Xterm& t) {
         // Taken whole, however long, with nothing shown: the clipboard is
         // the page's (not reached yet).
         t.feed("\x1b]2;title\x07");
         t.feed(Tput("Ms", "c aGVsbG8=") + "\x1b]52;c;" + std::string(1 << 20, 'A') + "\x07" + "after");
         return Same(t.row(0), "after", "row") + Same(t.title, "title", "title");
       }},
      {"Ss",
       [](Xterm& t) {
         t.feed(Tput("Ss", "4") + "x");
         return Expect(t.t->_cursorstyle == 4, "cursor style") + Same(t.row(0), "x", "row");
       }},
      {"Se",
       [](Xterm& t) {
         t.feed(Tput("Ss", "5") + Tput("Se"));
         return Expect(t.t->_cursorstyle == 2, "cursor style");
       }},
      {"XM",
       [](Xterm& t) {
         t.feed(Tput("XM", "1"));
         const bool on = t.t->_mousemode == 1000 && t.t->_mouseenc == 1006;
         t.feed(Tput("XM", "0"));
         return Expect(on && !t.t->_mousemode && !t.t->_mouseenc, "mouse modes");
       }},
  };
  return checks;
}

// ---- keys

struct KeyCap {
  const char* cap;
  const char* key;  // keyname() of the key
};

// The cursor and keypad keys as the entry writes them are the ones sent in
// application mode (smkx), which curses programs turn on.
const KeyCap kKeys[] = {
    {"kbs", "backspace"}, {"kcbt", "s-tab"}, {"kcub1", "left"},   {"kcud1", "down"},   {"kcuf1", "right"},
    {"kcuu1", "up"},      {"kdch1", "del"},  {"kend", "end"},     {"khome", "home"},   {"kich1", "ins"},
    {"knp", "pgdn"},      {"kpp", "pgup"},   {"kent", "kpenter"}, {"kind", "s-down"},  {"kri", "s-up"},
    {"kDC", "s-del"},     {"kEND", "s-end"}, {"kHOM", "s-home"},  {"kIC", "s-ins"},    {"kLFT", "s-left"},
    {"kNXT", "s-pgdn"},   {"kPRV", "s-pgup"}, {"kRIT", "s-right"}, {"kDN", "s-down"},  {"kUP", "s-up"},
    {"ka1", "kp7"},       {"ka2", "kp8"},    {"ka3", "kp9"},      {"kb1", "kp4"},      {"kb2", "kp5"},
    {"kb3", "kp6"},       {"kc1", "kp1"},    {"kc2", "kp2"},      {"kc3", "kp3"},      {"kpADD", "kp+"},
    {"kpCMA", "kp,"},     {"kpDIV", "kp/"},  {"kpDOT", "kp."},    {"kpMUL", "kp*"},    {"kpSUB", "kp-"},
    {"kpZRO", "kp0"},     {"kbeg", "five"},  {"kp5", "five"},
};

// Modified cursor and editing keys: kXXXn, n the xterm modifier 3-7.
const std::pair<const char*, const char*> kModified[] = {
    {"kDC", "del"},    {"kDN", "down"},   {"kEND", "end"},  {"kHOM", "home"}, {"kIC", "ins"},
    {"kLFT", "left"},  {"kNXT", "pgdn"},  {"kPRV", "pgup"}, {"kRIT", "right"}, {"kUP", "up"},
};
// The key name prefix of xterm's modifiers 3-7: Alt, Alt+Shift, Ctrl,
// Ctrl+Shift, Ctrl+Alt.
const char* const kModPrefix[] = {"a-", "as-", "c-", "cs-", "ca-"};

std::vector<std::pair<std::string, std::string>> KeyCaps() {
  std::vector<std::pair<std::string, std::string>> caps;
  for (const KeyCap& k : kKeys) caps.push_back({k.cap, k.key});
  for (const auto& [cap, key] : kModified)
    for (int m = 3; m <= 7; m++) caps.push_back({cap + std::to_string(m), kModPrefix[m - 3] + std::string(key)});
  // F1-F12, then with Shift, Ctrl, Ctrl+Shift, Alt, and Alt+Shift (F1-F3).
  const char* const fam[] = {"f", "sf", "cf", "csf", "af", "asf"};
  for (int n = 1; n <= 63; n++) caps.push_back({"kf" + std::to_string(n), fam[(n - 1) / 12] + std::to_string((n - 1) % 12 + 1)});
  return caps;
}

// ---- the rest, and why they are harmless

const std::map<std::string, std::string> kHarmless = {
    {"initc", "sets a palette colour (OSC 4): the page keeps the person's colour scheme; the request is consumed"},
    {"oc", "restores the palette (OSC 104): nothing was changed"},
    {"Cs", "sets the cursor's colour (OSC 12): the page draws the cursor over the cell in its own colour; consumed"},
    {"Cr", "restores the cursor's colour (OSC 112): nothing was changed"},
    {"meml", "HP memory lock: no curses function sends it; consumed (ESC l does nothing else on xterm members)"},
    {"memu", "HP memory unlock: as meml"},
    {"smm", "meta mode (8-bit input for Alt): the page's Alt sends ESC first, which curses reads the same; consumed"},
    {"rmm", "meta mode off: as smm"},
    {"PS", "what a terminal sends before pasted text: the page sends it when the host set BE (kvx-clipboard.js)"},
    {"PE", "what a terminal sends after pasted text: as PS"},
    {"kmous", "the start of a mouse report: the page sends no mouse events yet, so a host that asks (XM) gets none"},
    {"xm", "the form of a mouse report: as kmous"},
};

TEST(Xterm256Terminfo, TheEntryIsInstalled) {
  EXPECT_EQ(kvxtest::Need({kEntry, "infocmp", "tput"}), "");
}

TEST(Xterm256Terminfo, EveryStringCapabilityIsWalked) {
  const std::set<std::string> caps = StringCaps();
  ASSERT_GT(caps.size(), 150u) << "infocmp -1x " << kEntry;
  std::set<std::string> keys;
  for (const auto& [cap, key] : KeyCaps()) keys.insert(cap);
  std::string unwalked, stale;
  for (const std::string& cap : caps)
    if (!OutputChecks().count(cap) && !keys.count(cap) && !kHarmless.count(cap)) unwalked += " " + cap;
  for (const auto& [cap, check] : OutputChecks())
    if (!caps.count(cap)) stale += " " + cap;
  for (const auto& [cap, why] : kHarmless)
    if (!caps.count(cap)) stale += " " + cap;
  EXPECT_EQ(unwalked, "") << "capabilities of the entry neither checked nor listed";
  EXPECT_EQ(stale, "") << "checked or listed but not in the entry";
}

TEST(Xterm256Terminfo, WhatTheHostSendsActsAsTheEntrySays) {
  for (const auto& [cap, check] : OutputChecks()) {
    Xterm t;
    EXPECT_EQ(check(t), "") << cap << " = " << Tput(cap);
  }
}

TEST(Xterm256Terminfo, KeysSendWhatTheEntryNames) {
  Xterm t;
  t.feed(Tput("smkx"));
  for (const auto& [cap, key] : KeyCaps()) {
    const int code = keyid(key.c_str());
    ASSERT_GE(code, 0) << key;
    const char* s = TEemkey(t.t, code);
    EXPECT_EQ(std::string(s ? s : "<none>"), Tput(cap)) << cap << " (" << key << ")";
  }
}

}  // namespace
