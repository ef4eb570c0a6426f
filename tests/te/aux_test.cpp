// The auxiliary port's diversion in the engine: what the device receives
// (through a stand-in for the owner's port), where a diversion ends (CSI 4 i
// in its 7- and 8-bit forms and with leading zeros, DC4 on the Wyse-type
// emulations), bytes split across reads, a port that cannot be opened, and
// the dialog path's answer-back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "em/teaux.h"
#include "term.h"

namespace {

struct Device {
  std::string bytes;
  int opens = 0, closes = 0;
  bool fail = false;
};
Device* g_device = nullptr;

// A terminal whose auxiliary port is configured and reaches `device`.
void Attach(Term& term, Device& device) {
  g_device = &device;
  std::strcpy(term.t->aux_devport, "/dev/ttyS0");
  term.t->hooks.aux_open = [](te*) {
    g_device->opens++;
    return g_device->fail ? -1 : 5;
  };
  term.t->hooks.aux_write = [](te*, const char* b, int n) {
    g_device->bytes.append(b, (size_t)n);
    return n;
  };
  term.t->hooks.aux_close = [](te*) { g_device->closes++; };
}

TEST(AuxPort, AnsiDiversionSendsTheTextAndNotItsEnd) {
  for (bool bytewise : {false, true}) {
    Term term(35);
    Device device;
    Attach(term, device);
    std::string host = "before\x1b[5ito the device\r\n\x1b[5x\x1b[4i after";
    if (bytewise)
      term.feedBytewise(host);
    else
      term.feed(host);
    EXPECT_EQ(device.bytes, "to the device\r\n\x1b[5x") << bytewise;
    EXPECT_EQ(term.row(0), "before after") << bytewise;
    EXPECT_EQ(term.t->auxmode, 0);
    EXPECT_EQ(device.opens, 1);
    EXPECT_EQ(device.closes, 1) << "CSI 4 i closes the port";
  }
}

TEST(AuxPort, EndsOnEightBitCSIAndLeadingZerosButNotOnOtherParameters) {
  struct Case {
    const char* host;
    const char* device;
    const char* screen;
  } cases[] = {
      {"\x1b[5ia\x9b"
       "4ib",
       "a", "b"},
      {"\x1b[5ia\x1b[004ib", "a", "b"},
      {"\x1b[5ia\x1b[14ib\x1b[4ic", "a\x1b[14ib", "c"},
      {"\x1b[5ia\x1b[0;4ib\x1b[4ic", "a\x1b[0;4ib", "c"},
      {"\x1b[5ia\x1bxb\x1b[4ic", "a\x1bxb", "c"},
  };
  for (const Case& c : cases) {
    Term::Options o = Term::make(3, 24, 80);  // VT220
    o.utf8 = false;
    Term term(o);
    Device device;
    Attach(term, device);
    term.feed(c.host);
    EXPECT_EQ(device.bytes, c.device) << c.host;
    EXPECT_EQ(term.row(0), c.screen) << c.host;
  }
}

TEST(AuxPort, SplitAcrossReadsAndDiversionsStartedByEitherCommand) {
  Term term(35);
  Device device;
  Attach(term, device);
  // Started by CSI 7 i (the other diversion bit), ended in three reads.
  term.feed("\x1b[7ione");
  term.feed("\x1b[");
  term.feed("4");
  EXPECT_EQ(term.t->auxmode, 1);
  term.feed("itwo");
  EXPECT_EQ(device.bytes, "one");
  EXPECT_EQ(term.t->auxmode, 0) << "the terminator ends a diversion of either kind";
  EXPECT_EQ(term.row(0), "two");
}

TEST(AuxPort, WyseDiversionEndsOnDC4WithoutClosingThePort) {
  Term term(14);  // Wyse 50
  Device device;
  Attach(term, device);
  term.feed(
      "\x1b"
      "d#printed\x14shown");
  EXPECT_EQ(device.bytes, "printed");
  EXPECT_EQ(term.row(0), "shown");
  EXPECT_EQ(device.closes, 0);
  term.feed(
      "\x1b"
      "d%more\x1b[4iagain");
  EXPECT_EQ(device.bytes, "printedmore");
  EXPECT_EQ(device.closes, 1);
  EXPECT_EQ(term.row(0), "shownagain");
  // DC4 is an ordinary byte for the device on the ANSI emulations.
  Term ansi(35);
  Device d2;
  Attach(ansi, d2);
  ansi.feed(
      "\x1b[5ia\x14"
      "b\x1b[4i");
  EXPECT_EQ(d2.bytes,
            "a\x14"
            "b");
}

TEST(AuxPort, PortThatCannotOpenEndsTheDiversionAndTheTextShows) {
  Term term(35);
  Device device;
  device.fail = true;
  Attach(term, device);
  term.feed("\x1b[5ishown anyway");
  EXPECT_EQ(term.row(0), "shown anyway");
  EXPECT_EQ(term.t->auxmode, 0);
  EXPECT_EQ(device.opens, 1) << "one try, not one per byte";
  EXPECT_EQ(term.t->aux_fd, -1);
}

TEST(AuxPort, WithoutAPortMediaCopyIsNoDiversion) {
  Term term(35);
  Device device;
  Attach(term, device);
  term.t->aux_devport[0] = 0;
  term.t->hooks.printer = nullptr;
  term.feed("\x1b[5ishown");
  EXPECT_EQ(term.row(0), "shown");
  EXPECT_EQ(device.opens, 0);
}

TEST(AuxPort, DialogPathAnswersBackAndStripsParity) {
  Term term(35);
  term.t->_vmaskpar = 1;
  sl_wru(term.t, "id\\r");
  term.t->wruchar = 5;
  dispcapt(term.t, 0x05);
  EXPECT_EQ(term.sent, "id\r");
  dispcapt(term.t, 'a' | 0x80);
  EXPECT_EQ(term.row(0), "a");
}

}  // namespace
