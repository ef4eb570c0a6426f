// A paste into a 3270 or 5250 screen, placed by the field rules before it
// is typed: the text fills input positions from the cursor on, protected
// positions are passed over (the rest of a line goes on in the next input
// field), a line end moves to the next row that has an input field (to its
// field at or after the column the paste began in, as forms keep their
// fields in columns), and what finds no input position before the end of
// the screen is dropped.  The page then types each run where it belongs.
import { cleanPaste } from './kvx-clipboard.js';

// `screen`: { rows, cols, isInput(i) } with i = row * cols + column, an
// input position being an unprotected cell that is no field attribute;
// `cursor`: { x, y }.  Returns { runs: [{ row, col, text }], dropped }:
// text to type from (row, col) on, in order, and how many characters found
// no place.
export function planBlockPaste(screen, cursor, text) {
  const { rows, cols } = screen;
  const size = rows * cols;
  const lines = cleanPaste(text).replace(/\r\n?/g, '\n').replace(/\n$/, '').split('\n');
  const isInput = (i) => i >= 0 && i < size && screen.isInput(i);
  const fieldStart = (i) => isInput(i) && (i % cols === 0 || !isInput(i - 1));
  // The column the paste's fields line up on: the start of the field the
  // cursor is in (the cursor's own column on a screen without fields).
  let start = cursor.y * cols + cursor.x;
  if (isInput(start)) while (start > cursor.y * cols && isInput(start - 1)) start--;
  const margin = start % cols;

  const runs = [];
  let dropped = 0;
  let run = null;
  const place = (i, ch) => {
    if (run && run.next === i) {
      run.text += ch;
    } else {
      run = { row: Math.floor(i / cols), col: i % cols, text: ch, next: i };
      runs.push(run);
    }
    run.next = i + 1;
  };
  // The next input position at or after i, or -1.
  const nextInput = (i) => {
    for (let j = Math.max(i, 0); j < size; j++) if (isInput(j)) return j;
    return -1;
  };
  // Where the line after one on `row` starts, or -1.
  const lineStart = (row) => {
    for (let r = row + 1; r < rows; r++) {
      let first = -1;
      for (let x = 0; x < cols; x++) {
        const i = r * cols + x;
        if (!fieldStart(i)) continue;
        if (x >= margin) return i;
        if (first < 0) first = i;
      }
      if (first >= 0) return first;
    }
    return -1;
  };

  let pos = cursor.y * cols + cursor.x;
  let row = cursor.y;
  for (let n = 0; n < lines.length; n++) {
    const chars = [...lines[n]];
    run = null;  // each line is typed from where it starts
    if (n > 0) {
      pos = pos < 0 ? -1 : lineStart(row);
      if (pos >= 0) row = Math.floor(pos / cols);
    }
    for (const ch of chars) {
      pos = pos < 0 ? -1 : nextInput(pos);
      if (pos < 0) {
        dropped++;
        continue;
      }
      place(pos, ch);
      row = Math.floor(pos / cols);
      pos++;
    }
  }
  return { runs: runs.map(({ row: r, col, text: t }) => ({ row: r, col, text: t })), dropped };
}
