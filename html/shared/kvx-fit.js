// How large the text of a screen may be so that the screen fits the area
// the page gives it.  A block-mode screen (3270, 5250) has the size its
// host gives it, so its text is made to fit: as large as fits, never so
// small that a cell is narrower than MIN_CELL_PX (there the person pans or
// zooms instead).  A character-mode screen follows the area with its rows
// and columns, and its text only shrinks where the session's screen is
// larger than the area (another browser of a shared session set it).

// The narrowest cell a fitted screen gets, in CSS pixels.
export const MIN_CELL_PX = 4;
// The largest text a fitted block-mode screen gets, in CSS pixels.
export const MAX_FIT_PX = 32;
// Fitted sizes are multiples of this.
export const FIT_STEP = 0.25;

// The largest size of hi, hi - step, hi - 2 * step, ... down to lo for
// which `fits(size)` holds (which it then does for every smaller size);
// lo when none does.  `fits` is asked about hi first.
export function largestFitting(fits, lo, hi, step = FIT_STEP) {
  if (hi <= lo || fits(hi)) return Math.max(hi, lo);
  const n = Math.floor((hi - lo) / step + 1e-9);  // sizes hi - k * step, k = 1..n, are at least lo
  let good = n + 1;  // lo, taken to fit
  let bad = 0;
  while (good - bad > 1) {
    const m = (good + bad) >> 1;
    if (fits(hi - m * step)) good = m;
    else bad = m;
  }
  return good > n ? lo : hi - good * step;
}

// Text size with which a cell is `cell` pixels wide, given that it is
// `width` pixels wide at text size `size`.
export function sizeForCell(cell, width, size) {
  return width > 0 ? (cell * size) / width : size;
}
