// Typing in the page against the real server and a real shell: a command
// line, history with Up, a character beyond ASCII, text from an input
// method, the bytes of cursor and function keys in normal and application
// cursor mode (read back through `od -c`), Ctrl+C interrupting a command,
// Ctrl+W reaching the shell, and a paste.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { OUTPUT_DIR, runTest, startKavrix, waitText } from './lib.mjs';

const kavrix = await startKavrix({
  // Bracketed paste off: the paste below shows a line end typed as Enter
  // (the page brackets pastes for hosts that ask, tested with the clipboard).
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'),
    "export LC_ALL=C.UTF-8\nPS1='kvx$ '\nunset PROMPT_COMMAND\nbind 'set enable-bracketed-paste off'\n"),
});

const screenText = (page) => page.evaluate(() => window.kavrix.text());
const rows = async (page) => (await screenText(page)).split('\n');

// Waits until a row (after the row holding `after`, when given) satisfies `test`.
async function waitForRow(page, test, { after, timeout = 30000 } = {}) {
  const end = Date.now() + timeout;
  for (;;) {
    const r = await rows(page);
    const from = after === undefined ? 0 : r.findLastIndex((row) => row.includes(after)) + 1;
    if (after === undefined || from > 0) {
      const hit = r.slice(from).find((row) => (typeof test === 'string' ? row === test : test.test(row)));
      if (hit !== undefined) return hit;
    }
    if (Date.now() > end) throw new Error(`no row ${test} after ${after}:\n${r.join('\n')}`);
    await new Promise((res) => setTimeout(res, 50));
  }
}

async function command(page, text) {
  await page.keyboard.type(text);
  await page.keyboard.press('Enter');
}

// The clear screen makes the rows of each step easy to find.
async function clear(page) {
  await command(page, 'clear');
  await page.waitForFunction(() => window.kavrix.text().split('\n')[0] === 'kvx$' &&
    window.kavrix.cursor().y === 0);
}

// What `od -c` shows for the keys pressed while it reads `count` bytes from
// the terminal in raw mode.
async function odBytes(page, keys, count) {
  await clear(page);
  await command(page, `stty raw -echo; head -c ${count} | od -c | head -1; stty sane; echo od-$((40+2))`);
  await page.waitForFunction(() => window.kavrix.cursor().y === 1);
  for (const key of keys) await page.keyboard.press(key);
  await waitForRow(page, /od-42$/);  // raw output left the column where it was
  const r = await rows(page);
  return r.find((row) => /^0000000 /.test(row)).replace(/^0000000 +/, '').trim().split(/ +/);
}

try {
  await runTest('keyboard', async (page) => {
    await page.setViewportSize({ width: 1000, height: 700 });
    await page.goto(`http://127.0.0.1:${kavrix.port}/?rows=24&cols=80`);
    await waitText(page, /^kvx\$/, 60000);
    await page.waitForFunction(() => window.kavrix.cursor().x === 5);

    // A command line, and the same again from the history.
    await command(page, 'echo kavrix-$((6*7))');
    await waitForRow(page, 'kavrix-42', { after: 'echo kavrix' });
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'keyboard-typed.png') });
    await page.keyboard.press('ArrowUp');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => window.kavrix.text().split('\n').filter((r) => r === 'kavrix-42').length === 2);

    // A character beyond ASCII, and text committed by an input method.
    await clear(page);
    await command(page, 'printf %s é | od -An -tx1');
    await waitForRow(page, /^ c3 a9$/);
    await clear(page);
    await page.keyboard.type('echo ');
    const cdp = await page.context().newCDPSession(page);
    await cdp.send('Input.imeSetComposition', { text: 'にほ', selectionStart: 2, selectionEnd: 2 });
    await cdp.send('Input.imeSetComposition', { text: 'にほん', selectionStart: 3, selectionEnd: 3 });
    await cdp.send('Input.insertText', { text: '日本' });
    await page.keyboard.press('Enter');
    await waitForRow(page, '日本', { after: 'echo' });

    // Cursor and function keys: normal mode, then application cursor mode.
    assert.deepEqual(await odBytes(page, ['ArrowUp', 'F1', 'Delete'], 10),
      ['033', '[', 'A', '033', 'O', 'P', '033', '[', '3', '~']);
    await command(page, "printf '\\e[?1h'");
    assert.deepEqual(await odBytes(page, ['ArrowUp', 'ArrowLeft'], 6), ['033', 'O', 'A', '033', 'O', 'D']);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'keyboard-application-cursor.png') });
    await command(page, "printf '\\e[?1l'");
    assert.deepEqual(await odBytes(page, ['Home', 'Backspace', 'Control+A', 'Tab', 'Enter', 'F12'], 12),
      ['033', '[', 'H', '177', '001', '\\t', '\\r', '033', '[', '2', '4', '~']);

    // Ctrl+C interrupts a running command.
    await clear(page);
    await command(page, "sh -c 'echo sleep-$((1+1)); exec sleep 30'; echo not-$((2+3))");
    await waitForRow(page, 'sleep-2');
    await page.keyboard.press('Control+C');
    await command(page, 'echo after-$((1+1))');
    await waitForRow(page, 'after-2', { after: 'echo after' });
    assert.ok(!(await rows(page)).includes('not-5'), 'the command was not interrupted');

    // Ctrl+W goes to the shell (it rubs out a word) and the page stays.
    await page.keyboard.type('echo one two');
    await page.keyboard.press('Control+W');
    await page.keyboard.press('Enter');
    await waitForRow(page, 'one', { after: 'echo one' });

    // A paste arrives as keys, line ends as Enter.
    await clear(page);
    await page.evaluate(() => {
      const data = new DataTransfer();
      data.setData('text/plain', 'echo pasted-$((3*3))\n');
      document.querySelector('.kvx-input').dispatchEvent(
        new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
    });
    await waitForRow(page, 'pasted-9', { after: 'echo pasted' });
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'keyboard.png') });
  });
} finally {
  await kavrix.stop();
}
