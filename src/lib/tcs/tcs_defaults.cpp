// Built-in translation tables: what a table holds when the code-page file
// or its section is missing.  The DEC tables name characters above 767 that
// the code-page file's Unicode table must name the same way (the generator
// pins them).
#include <array>

#include "tcs.h"

namespace {

using CpTable = std::array<TCS, TCS_CPTOTCS_SIZE>;

// DEC special graphics from 0x60 on: diamond, checkerboard, control
// pictures, degree, plus-minus, corners, scan lines, lines, less/greater or
// equal, pi, not equal, pound, centred dot.
constexpr TCS kSgRow96[16] = {516, 689, 811, 812, 813, 814, 760, 753, 815, 816, 729, 703, 730, 704, 709, 817};
constexpr TCS kSgRow112[16] = {818, 708, 820, 821, 707, 692, 705, 706,
                               691, 755, 754, 739, 822, 668, 762, 544};
constexpr TCS kDmn[96] = {
    544, 685, 667, 668, 544, 669, 544, 533, 804,  772, 678, 686, 544, 544, 544, 544,  // 32
    760, 753, 765, 774, 544, 742, 532, 762, 1098, 777, 679, 687, 684, 683, 544, 680,  // 48
    768, 769, 770, 779, 654, 655, 658, 640, 780,  656, 781, 782, 783, 784, 785, 786,  // 64
    544, 677, 788, 789, 790, 791, 665, 805, 792,  793, 803, 794, 666, 806, 544, 737,  // 80
    645, 672, 643, 797, 644, 646, 657, 647, 650,  642, 648, 649, 653, 673, 652, 651,  // 96
    544, 676, 661, 674, 659, 798, 660, 807, 834,  663, 675, 662, 641, 664, 544, 544,  // 112
};

constexpr CpTable make_cptotcs() {
  CpTable t{};
  for (int i = 0; i < 256; i++) t[i] = static_cast<TCS>(512 + i);
  t[21] = 757;
  return t;
}

constexpr std::array<uint8_t, TCS_TCSTOCP_SIZE> make_tcstocp() {
  std::array<uint8_t, TCS_TCSTOCP_SIZE> t{};
  for (int i = 0; i < 256; i++) t[i] = static_cast<uint8_t>(i);
  t[21] = 245;
  return t;
}

// The VT200's special graphics: ASCII up to 0x5E, then the VT100's set.
constexpr CpTable make_vt200dsg() {
  CpTable t{};
  for (int i = 32; i < 95; i++) t[i] = static_cast<TCS>(512 + i);
  t[95] = 544;
  for (int i = 0; i < 16; i++) {
    t[96 + i] = kSgRow96[i];
    t[112 + i] = kSgRow112[i];
  }
  return t;
}

constexpr CpTable make_vt200dmn() {
  CpTable t{};
  for (int i = 0; i < 96; i++) t[32 + i] = kDmn[i];
  return t;
}

constexpr CpTable make_vt100sg() {
  CpTable t{};
  t[95] = 544;
  for (int i = 0; i < 16; i++) {
    t[96 + i] = kSgRow96[i];
    t[112 + i] = kSgRow112[i];
  }
  return t;
}

}  // namespace

constinit const std::array<TCS, TCS_CPTOTCS_SIZE> TCSDefaultCPtoTCS = make_cptotcs();
constinit const std::array<uint8_t, TCS_TCSTOCP_SIZE> TCSDefaultTCStoCP = make_tcstocp();
constinit const std::array<TCS, TCS_CPTOTCS_SIZE> TCSDefaultVT200DSG = make_vt200dsg();
constinit const std::array<TCS, TCS_CPTOTCS_SIZE> TCSDefaultVT200DMN = make_vt200dmn();
constinit const std::array<TCS, TCS_CPTOTCS_SIZE> TCSDefaultVT100SG = make_vt100sg();
