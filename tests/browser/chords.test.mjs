// Key chords typed in the page reach a real shell as the bytes today's
// hosts expect, read back through `od -c` in raw mode: Ctrl, Shift and Alt
// with the cursor, editing and function keys in xterm's forms (bash's and
// vim's word motion), Alt with a character as ESC and the character, and
// the control chords.  On the xterm-like emulation and on a VT220, whose
// keys stay 7-bit until the host asks for 8-bit ones.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, runTest, startKavrix, waitText } from './lib.mjs';

const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'),
    "export LC_ALL=C.UTF-8\nPS1='kvx$ '\nunset PROMPT_COMMAND\n" +
    // Reads $1 bytes in raw mode once the terminal is raw (it says so first:
    // keys typed before `stty raw` would be echoed and line-buffered).
    "k() { stty raw -echo; printf 'raw-%s\\r\\n' $((40+2)); head -c $1 | od -c | head -2; stty sane; echo od-$((40+2)); }\n"),
});

const rows = async (page) => (await page.evaluate(() => window.kavrix.text())).split('\n');

async function command(page, text) {
  await page.keyboard.type(text);
  await page.keyboard.press('Enter');
}

// What `od -c` shows for the keys pressed while it reads `count` bytes from
// the terminal in raw mode, as od's fields; the keys go only once the
// terminal is raw.
async function odBytes(page, keys, count) {
  await command(page, 'clear');
  await page.waitForFunction(() => window.kavrix.text().split('\n')[0] === 'kvx$' &&
    window.kavrix.cursor().y === 0);
  await command(page, `k ${count}`);
  await waitText(page, /^raw-42$/);
  for (const key of keys) await page.keyboard.press(key);
  const end = Date.now() + 30000;
  for (;;) {
    const r = await rows(page);
    if (r.some((row) => /od-42$/.test(row))) {
      return r.filter((row) => /^00000[0-9]+ /.test(row))
        .flatMap((row) => row.replace(/^[0-7]+ +/, '').trim().split(/ +/));
    }
    if (Date.now() > end) throw new Error(`od did not finish:\n${r.join('\n')}`);
    await new Promise((res) => setTimeout(res, 50));
  }
}

// [keys, od's fields] for both emulations; `vt220` gives the fields where
// the VT220 differs.
const CHORDS = [
  [['Control+ArrowRight', 'Control+ArrowLeft'], ['033', '[', '1', ';', '5', 'C', '033', '[', '1', ';', '5', 'D']],
  [['Shift+ArrowUp', 'Alt+ArrowLeft'], ['033', '[', '1', ';', '2', 'A', '033', '[', '1', ';', '3', 'D']],
  [['Control+Home'], ['033', '[', '1', ';', '5', 'H'], ['033', '[', '1', ';', '5', '~']],
  [['Control+Shift+Delete', 'Shift+F5'], ['033', '[', '3', ';', '6', '~', '033', '[', '1', '5', ';', '2', '~']],
  [['Alt+b', 'Alt+Shift+B', 'Alt+.'], ['033', 'b', '033', 'B', '033', '.']],
  [['Control+Space', 'Control+/', 'Control+Shift+Digit6', 'Control+Alt+x'], ['\\0', '037', '036', '033', '030']],
  [['Shift+Tab', 'Alt+Backspace'], ['033', '[', 'Z', '033', '177']],
  [['F1', 'ArrowUp'], ['033', 'O', 'P', '033', '[', 'A']],
];

async function checkChords(page, emulate) {
  await page.goto(`http://127.0.0.1:${kavrix.port}/?rows=24&cols=80&emulate=${emulate}`);
  await waitText(page, /^kvx\$/, 60000);
  for (const [keys, want, vt220] of CHORDS) {
    const expected = emulate === EM.VT220 && vt220 ? vt220 : want;
    assert.deepEqual(await odBytes(page, keys, expected.length), expected, `${keys.join(' ')} (emulate=${emulate})`);
  }
}

try {
  await runTest('chords', async (page) => {
    await page.setViewportSize({ width: 1000, height: 700 });
    await checkChords(page, EM.XTERM);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'chords-xterm.png') });
    await checkChords(page, EM.VT220);
  });
} finally {
  await kavrix.stop();
}
