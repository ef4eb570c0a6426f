// Colours of the 5250 screen attributes: the 19-entry colour table (same
// order as the window's emulation colour table) and, per attribute 0x1F
// (window background) to 0x3F, a foreground and background index and the
// display flags.
#pragma once

#include "te5250_defs.h"

class CColor {
 public:
  static constexpr int kColors = 19;
  static constexpr int kAttrs = 33;  // attributes 0x1F..0x3F
  static constexpr int kFirstAttr = 0x1F;

  CColor();
  void Reset();

  static bool ValidAttr(int attr) { return attr >= kFirstAttr && attr < kFirstAttr + kAttrs; }
  static bool ValidColor(int color) { return color >= 0 && color < kColors; }
  static bool Hidden(int attr) { return attr == 0x27 || attr == 0x2F || attr == 0x37 || attr == 0x3F; }

  // Foreground and background of an attribute as colours and its flags;
  // an attribute out of range gives those of 0x20.
  ATTRIBDATA Data(int attr) const;
  int Fg(int attr) const { return m_ColorArray[Index(attr)][0]; }
  int Bg(int attr) const { return m_ColorArray[Index(attr)][1]; }
  unsigned Flags(int attr) const { return m_AttribArray[Index(attr)]; }
  // Default foreground index of an attribute (the table before settings).
  static int DefaultFg(int attr);

  COLORREF m_RGBMap[kColors];
  int m_ColorArray[kAttrs][2];
  unsigned m_AttribArray[kAttrs];

 private:
  static int Index(int attr) { return ValidAttr(attr) ? attr - kFirstAttr : 0x20 - kFirstAttr; }
};

// The default emulation colour table (black, dark blue, ... white, three
// blacks), COLORREF with red in the low byte.
extern const COLORREF k5250DefaultRGB[CColor::kColors];
