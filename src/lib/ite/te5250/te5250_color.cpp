// The 5250 attribute colour table and its defaults.
#include "te5250_color.h"

const COLORREF k5250DefaultRGB[CColor::kColors] = {
    0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080, 0xFF008080,
    0xFFC0C0C0, 0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00, 0xFF0000FF, 0xFFFF00FF,
    0xFF00FFFF, 0xFFFFFFFF, 0xFF000000, 0xFF000000, 0xFF000000,
};

namespace {

enum : int { BLACK = 0, BLUE = 9, GREEN = 10, CYAN = 11, RED = 12, MAGENTA = 13, YELLOW = 14, WHITE = 15 };

struct AttrDefault {
  int fg;
  unsigned flags;
};

// Attributes 0x1F..0x3F in order.
constexpr AttrDefault kDefaults[CColor::kAttrs] = {
    {BLACK, ATTR_BACKGROUND},                   // 0x1F window background
    {GREEN, 0},                                 // 0x20
    {GREEN, ATTR_REVERSE},                      // 0x21
    {WHITE, 0},                                 // 0x22
    {WHITE, ATTR_REVERSE},                      // 0x23
    {GREEN, ATTR_UNDERSCORE},                   // 0x24
    {GREEN, ATTR_REVERSE | ATTR_UNDERSCORE},    // 0x25
    {WHITE, ATTR_UNDERSCORE},                   // 0x26
    {BLACK, 0},                                 // 0x27 non-display
    {RED, 0},                                   // 0x28
    {RED, ATTR_REVERSE},                        // 0x29
    {RED, ATTR_BLINK},                          // 0x2A
    {RED, ATTR_REVERSE | ATTR_BLINK},           // 0x2B
    {RED, ATTR_UNDERSCORE},                     // 0x2C
    {RED, ATTR_REVERSE | ATTR_UNDERSCORE},      // 0x2D
    {RED, ATTR_UNDERSCORE | ATTR_BLINK},        // 0x2E
    {BLACK, 0},                                 // 0x2F non-display
    {CYAN, ATTR_COLUMN_SEP},                    // 0x30
    {CYAN, ATTR_REVERSE | ATTR_COLUMN_SEP},     // 0x31
    {YELLOW, ATTR_COLUMN_SEP},                  // 0x32
    {YELLOW, ATTR_REVERSE | ATTR_COLUMN_SEP},   // 0x33
    {CYAN, ATTR_UNDERSCORE},                    // 0x34
    {CYAN, ATTR_REVERSE | ATTR_UNDERSCORE},     // 0x35
    {YELLOW, ATTR_UNDERSCORE},                  // 0x36
    {BLACK, 0},                                 // 0x37 non-display
    {MAGENTA, 0},                               // 0x38
    {MAGENTA, ATTR_REVERSE},                    // 0x39
    {BLUE, 0},                                  // 0x3A
    {BLUE, ATTR_REVERSE},                       // 0x3B
    {MAGENTA, ATTR_UNDERSCORE},                 // 0x3C
    {MAGENTA, ATTR_REVERSE | ATTR_UNDERSCORE},  // 0x3D
    {BLUE, ATTR_UNDERSCORE},                    // 0x3E
    {BLACK, 0},                                 // 0x3F non-display
};

}  // namespace

CColor::CColor() {
  Reset();
}

void CColor::Reset() {
  for (int i = 0; i < kColors; i++) m_RGBMap[i] = k5250DefaultRGB[i];
  for (int i = 0; i < kAttrs; i++) {
    m_ColorArray[i][0] = kDefaults[i].fg;
    m_ColorArray[i][1] = BLACK;
    m_AttribArray[i] = kDefaults[i].flags;
  }
}

int CColor::DefaultFg(int attr) {
  return ValidAttr(attr) ? kDefaults[attr - kFirstAttr].fg : GREEN;
}

ATTRIBDATA CColor::Data(int attr) const {
  const int i = Index(attr);
  ATTRIBDATA d;
  const int fg = m_ColorArray[i][0], bg = m_ColorArray[i][1];
  d.m_Foreground = ValidColor(fg) ? m_RGBMap[fg] : m_RGBMap[GREEN];
  d.m_Background = ValidColor(bg) ? m_RGBMap[bg] : m_RGBMap[BLACK];
  d.m_Attributes = m_AttribArray[i];
  return d;
}
