// The Wyse family against the hosts' own view of these terminals: the
// terminfo entries of Debian's ncurses-term.  (1) Every key string the
// keyboard map shares with an entry (kf1.., the cursor keys, kbs, khome,
// ...) is the entry's, or the difference is listed here with its reason.
// (2) One screen-drawing script (clear, cursor addressing and motion, line
// and screen erases, line insertion and deletion, the attributes, protected
// text and line graphics), rendered by `tput -T <entry>`, gives through
// te-replay the same screen text as the same script rendered for the
// VT220 gives through the VT220 emulation.
#include <gtest/gtest.h>

#include "kvx_deps.h"
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "keyname.h"
#include "term.h"

namespace {

// Output of a shell command; `ok` is false when it exits with a failure.
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

// A capability of an entry as tput renders it; false when the entry lacks it.
bool Cap(const std::string& entry, const std::string& cap, std::string* out, const std::string& args = "") {
  bool ok = false;
  *out = Run("tput -T " + entry + " " + cap + " " + args + " 2>/dev/null", &ok);
  // The Televideo 950 entry writes its rmacs as ESC %%, meaning ESC % (the
  // terminal's graphics off); tput passes strings without parameters
  // through unprocessed.
  if (entry == "tvi950" && cap == "rmacs" && *out == "\033%%") *out = "\033%";
  return ok && !out->empty();
}

struct Member {
  const char* emulation;  // te-replay's name of the emulation
  int emode;
  const char* entry;  // terminfo entry standing for it
  int rows;
  const char* exclude;  // capabilities of the entry that do not apply
  bool shiftedAbove12;  // the entry's kf13-kf24 are the shifted F1-F12
};

// Members without entries of their own: the Wyse 50's stands for WYCOL (whose
// attribute codes are colours, without ESC H graphics or ESC ` features:
// only the cursor and editing capabilities apply), the ADDS Viewpoint's for
// ADDSVP, the IBM 3151's for its 25-row form, and the Wyse 60's for PC-term,
// whose tables lack the Wyse 60's home, banks and ESC H (used by its sgr0,
// so only the attributes that end with ESC G0 apply).
const Member kMembers[] = {
    {"adm1", 17, "adm1", 24, "", false},
    {"tvi912", 16, "tvi912", 24, "", false},
    {"tvi925", 15, "tvi925", 24, "", false},
    {"tvi950", 13, "tvi950", 24, "", false},
    {"wyse50", 14, "wy50", 24, "", false},
    {"addsvp", 34, "viewpoint", 24, "", false},
    {"wycol", 33, "wy50", 24, ",#box,smso,smul,rev,blink,dim,bold,invis,prot,", false},
    {"wyse60", 10, "wy60", 24, "", false},
    {"wyse60-25", 11, "wy60-25", 25, "", false},
    {"ibm3101", 18, "ibm3101", 24, "", false},
    {"ibm3151", 19, "ibm3151", 24, "", true},
    {"ibm3151-25", 20, "ibm3151", 25, "", true},
    {"pcterm", 12, "wy60", 24, ",home,#box,rev,blink,dim,bold,invis,prot,", false},
};

bool Excluded(const Member& m, const std::string& cap) {
  return std::string(m.exclude).find("," + cap + ",") != std::string::npos;
}

// ---- key strings

struct KeyCap {
  const char* cap;
  int code;
};

const KeyCap kKeyCaps[] = {
    {"kbs", TK_BACKSPACE}, {"kcuu1", TK_UP},  {"kcud1", TK_DOWN},  {"kcuf1", TK_RIGHT},  {"kcub1", TK_LEFT},
    {"khome", TK_HOME},    {"knp", TK_PGDN},  {"kpp", TK_PGUP},    {"kcbt", TK_S_TAB},   {"kprt", TK_C_PRINT},
    {"kdch1", TK_DEL},     {"kich1", TK_INS}, {"kHOM", TK_C_HOME}, {"kent", TK_C_ENTER}, {"krpl", TK_END},
};

// Where the keyboard map sends something else than the entry names, and why.
struct Difference {
  const char* entry;
  const char* cap;
  const char* ours;
  const char* why;
};

const Difference kDifferences[] = {
    {"wy50", "kdch1", "\177", "the PC Delete key is the Wyse 50 DEL key; DEL CHAR (ESC W) has no PC key"},
    {"tvi925", "kdch1", "\177", "the PC Delete key is the terminal's DEL key; CHAR DELETE has no PC key"},
    {"tvi950", "kdch1", "\177", "the PC Delete key is the terminal's DEL key; CHAR DELETE has no PC key"},
    {"wy50", "kich1", "\033q", "the PC Insert key is the INS key (insert mode on), not INS CHAR (ESC Q)"},
    {"tvi925", "kich1", "\033q", "the PC Insert key is the INS key (insert mode on), not CHAR INSERT"},
    {"tvi950", "kich1", "\033q", "the PC Insert key is the INS key (insert mode on), not CHAR INSERT"},
    {"wy60", "kich1", "\033q", "the PC Insert key is the INS key (insert mode on), not INS CHAR (ESC Q)"},
    {"wy60-25", "kich1", "\033q", "the PC Insert key is the INS key (insert mode on), not INS CHAR (ESC Q)"},
    {"wy60", "krpl", "\033T", "the PC End key is the Wyse 60 CLR LINE key; REPL has no PC key"},
    {"wy60-25", "krpl", "\033T", "the PC End key is the Wyse 60 CLR LINE key; REPL has no PC key"},
    {"ibm3151", "kich1", "\033P", "the entry's insert key adds a blank and a backspace to INS CHAR (ESC P)"},
};

const Difference* Explained(const std::string& entry, const std::string& cap) {
  for (const Difference& d : kDifferences)
    if (entry == d.entry && cap == d.cap) return &d;
  return nullptr;
}

std::string Key(Term& term, int code) {
  const char* s = TEemkey(term.t, code);
  return s ? s : "<none>";
}

// Every entry the comparisons read is on the machine (ncurses-term has
// most of them): otherwise they would fail as puzzling differences.
TEST(Terminfo, TheEntriesComparedWithAreInstalled) {
  for (const Member& m : kMembers) EXPECT_EQ(kvxtest::Need({m.entry}), "");
  EXPECT_EQ(kvxtest::Need({"vt220", "dumb", "infocmp", "tput"}), "");
}

TEST(Terminfo, KeyStringsAreTheEntrysOrTheDifferenceIsExplained) {
  for (const Member& m : kMembers) {
    // WYCOL and PC-term have keys of their own (and no entry).
    if (std::string(m.emulation) == "wycol" || std::string(m.emulation) == "pcterm") continue;
    Term term(m.emode, m.rows, 80);
    int compared = 0;
    std::vector<std::pair<std::string, int>> caps;
    for (const KeyCap& k : kKeyCaps) caps.push_back({k.cap, k.code});
    for (int n = 1; n <= 16; n++) {
      if (m.shiftedAbove12 && n > 12) break;
      caps.push_back({"kf" + std::to_string(n), TK_F1 + n - 1});
      caps.push_back({"kF" + std::to_string(n), TK_SF1 + n - 1});
    }
    if (m.shiftedAbove12)
      for (int n = 13; n <= 24; n++) caps.push_back({"kf" + std::to_string(n), TK_SF1 + n - 13});
    // kf0 is the first function key of the Viewpoint and the tenth of the
    // Televideo 912/925.
    caps.push_back({"kf0", std::string(m.entry) == "viewpoint" ? TK_F1 : TK_F1 + 9});
    for (const auto& [cap, code] : caps) {
      std::string want;
      if (!Cap(m.entry, cap, &want)) continue;
      compared++;
      std::string ours = Key(term, code);
      if (const Difference* d = Explained(m.entry, cap)) {
        EXPECT_EQ(ours, d->ours) << m.entry << " " << cap << ": " << d->why;
        EXPECT_NE(ours, want) << m.entry << " " << cap << " is listed as different but matches";
        continue;
      }
      EXPECT_EQ(ours, want) << m.entry << " " << cap << " (" << keyname(code) << ")";
    }
    // The ADM-1 entry names no key, the IBM 3101's only the cursor keys.
    EXPECT_GE(compared, std::string(m.entry) == "adm1"      ? 0
                        : std::string(m.entry) == "ibm3101" ? 4
                                                            : 5)
        << m.entry;
  }
}

// ---- the drawing script

struct Step {
  std::string cap;   // capability, or empty for text
  std::string args;  // its arguments, or the text
};

std::vector<Step> Script(int rows) {
  auto cup = [](int r, int c) { return Step{"cup", std::to_string(r) + " " + std::to_string(c)}; };
  auto text = [](const std::string& s) { return Step{"", s}; };
  std::vector<Step> s = {
      {"clear", ""},      cup(1, 2), text("Title line"), cup(3, 4), text("abcdefghij"), cup(3, 7),
      {"el", ""},         cup(5, 0), text("line five"),  cup(6, 0), text("line six"),   cup(7, 0),
      text("line seven"), cup(6, 0), {"il1", ""},        cup(9, 0), text("del me"),     cup(10, 0),
      text("keep"),       cup(9, 0), {"dl1", ""}};
  // Attributes: on, then the text one cell further, then off one cell
  // after it, so that terminals whose attributes take a cell show a blank
  // where the others show one too.
  const char* pairs[][2] = {{"smso", "rmso"}, {"smul", "rmul"}, {"rev", "sgr0"},   {"blink", "sgr0"},
                            {"dim", "sgr0"},  {"bold", "sgr0"}, {"invis", "sgr0"}, {"prot", "sgr0"}};
  int c = 0;
  for (auto& p : pairs) {
    std::string word = std::string("W") + std::to_string(c / 10);
    s.push_back(cup(12, c));
    s.push_back({std::string("@") + p[0], p[1]});  // the pair: kept or dropped together
    s.push_back(cup(12, c + 1));
    s.push_back(text(word));
    s.push_back(cup(12, c + 1 + (int)word.size()));
    s.push_back({p[1], ""});
    c += 10;
  }
  std::vector<Step> rest = {cup(14, 10),
                            text("AB"),
                            {"cub1", ""},
                            {"cub1", ""},
                            {"cub1", ""},
                            text("C"),
                            {"cuf1", ""},
                            {"cuf1", ""},
                            text("D"),
                            {"cuu1", ""},
                            text("E"),
                            {"cud1", ""},
                            {"cud1", ""},
                            text("F"),
                            cup(17, 0),
                            text("T"),
                            {"ht", ""},
                            text("U"),
                            {"ht", ""},
                            text("V"),
                            {"#box", ""},
                            cup(21, 0),
                            text("line twenty-one"),
                            cup(22, 0),
                            text("line twenty-two"),
                            cup(21, 5),
                            {"ed", ""},
                            {"home", ""},
                            text("H"),
                            cup(rows - 1, 0)};
  s.insert(s.end(), rest.begin(), rest.end());
  return s;
}

// The acsc mapping of an entry: line-drawing name to the character sent.
std::map<char, char> Acsc(const std::string& entry) {
  std::string acsc;
  std::map<char, char> m;
  if (!Cap(entry, "acsc", &acsc)) return m;
  for (size_t i = 0; i + 1 < acsc.size(); i += 2) m[acsc[i]] = acsc[i + 1];
  return m;
}

// The bytes of the script for an entry; `keep` says whether a capability
// is used (the same choice is made for both renderings).
std::string Render(const std::string& entry, const std::vector<Step>& script,
                   const std::function<bool(const std::string&)>& keep) {
  std::string out, bytes;
  bool pairDropped = false;
  for (const Step& st : script) {
    if (st.cap.empty()) {
      out += st.args;
      continue;
    }
    if (st.cap == "#box") {
      std::map<char, char> acs = Acsc(entry);
      std::string on, off;
      if (!keep("#box") || !Cap(entry, "smacs", &on) || !Cap(entry, "rmacs", &off)) continue;
      const char* rows[3] = {"lqqk", "x  x", "mqqj"};
      for (int r = 0; r < 3; r++) {
        std::string cupBytes;
        Cap(entry, "cup", &cupBytes, std::to_string(18 + r) + " 40");
        out += cupBytes;
        for (char ch : std::string(rows[r])) {
          if (ch == ' ') {
            out += ' ';
            continue;
          }
          out += on + std::string(1, acs.count(ch) ? acs[ch] : ch) + off;
        }
      }
      continue;
    }
    if (st.cap[0] == '@') {
      // An attribute pair: both or neither.
      std::string on = st.cap.substr(1), off = st.args;
      std::string onBytes, offBytes;
      pairDropped = !keep(on) || !Cap(entry, on, &onBytes) || !Cap(entry, off, &offBytes);
      if (!pairDropped) out += onBytes;
      continue;
    }
    if (pairDropped && (st.cap == "rmso" || st.cap == "rmul" || st.cap == "sgr0")) {
      pairDropped = false;
      continue;
    }
    if (Cap(entry, st.cap, &bytes, st.args)) out += bytes;
  }
  return out;
}

std::string Replay(const std::string& emulation, int rows, const std::string& bytes) {
  char path[] = "/tmp/kvx-terminfo-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return "mkstemp failed";
  if (write(fd, bytes.data(), bytes.size()) != (ssize_t)bytes.size()) return "write failed";
  close(fd);
  std::string out = Run(std::string(KVX_BINARY_DIR) + "/te-replay --emulation " + emulation + " --rows " +
                        std::to_string(rows) + " --cols 80 " + path);
  unlink(path);
  return out;
}

TEST(Terminfo, ScriptRenderedForTheEntryShowsWhatTheVT220Shows) {
  for (const Member& m : kMembers) {
    std::vector<Step> script = Script(m.rows);
    // A capability is used when the member's entry has it (and, for the
    // attribute and graphics ones, when they apply to the member); the
    // VT220 rendering leaves out the same ones.
    auto keep = [&](const std::string& cap) {
      if (Excluded(m, cap)) return false;
      std::string bytes;
      // Invisible text must be invisible in both renderings.
      if (cap == "invis") return Cap(m.entry, cap, &bytes) && Cap("vt220", cap, &bytes);
      if (cap == "#box") return Cap(m.entry, "smacs", &bytes) && Cap("vt220", "smacs", &bytes);
      return Cap(m.entry, cap, &bytes) || cap[0] == '#';
    };
    // Plain capabilities the entry lacks are dropped from both.
    std::vector<Step> both;
    for (const Step& st : script) {
      std::string bytes;
      if (!st.cap.empty() && st.cap[0] != '@' && st.cap[0] != '#' && st.cap != "rmso" && st.cap != "rmul" &&
          st.cap != "sgr0" && st.cap != "cup" &&
          (Excluded(m, st.cap) || !Cap(m.entry, st.cap, &bytes, st.args)))
        continue;
      both.push_back(st);
    }
    std::string ours = Replay(m.emulation, m.rows, Render(m.entry, both, keep));
    std::string vt = Replay("vt220", m.rows, Render("vt220", both, keep));
    EXPECT_EQ(ours, vt) << m.emulation << " with the " << m.entry << " entry";
    // The reference itself shows the script.
    EXPECT_NE(vt.find("  Title line"), std::string::npos) << m.entry;
    EXPECT_NE(vt.find("CABD"), std::string::npos) << m.entry;
  }
}

// TTY against the "dumb" entry (the entry for a terminal without cursor
// addressing): lines ended by the entry's cr and cud1, tabs, the bell, a
// line longer than the screen is wide, and more lines than the screen has.
TEST(Terminfo, TtyShowsWhatTheVT220ShowsForTheDumbEntry) {
  std::string cr, lf, bel;
  ASSERT_TRUE(Cap("dumb", "cr", &cr) && Cap("dumb", "cud1", &lf) && Cap("dumb", "bel", &bel));
  std::string bytes;
  for (int i = 1; i <= 30; i++) bytes += "line " + std::to_string(i) + "\tcolumn\t" + bel + "x" + cr + lf;
  bytes += std::string(100, 'w') + cr + lf + "end";
  std::string tty = Replay("tty", 24, bytes), vt = Replay("vt220", 24, bytes);
  EXPECT_EQ(tty, vt);
  EXPECT_NE(vt.find("line 30 column  x"), std::string::npos) << vt;
  EXPECT_NE(vt.find(std::string(80, 'w') + "\n" + std::string(20, 'w') + "\n"), std::string::npos) << vt;
}

}  // namespace
