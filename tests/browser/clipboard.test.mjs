// Copy and paste in the page against a real shell: a row of wide
// characters selected with the mouse is copied as the screen shows it (each
// character once, trailing blanks trimmed), a wrapped line comes whole with
// a triple click, a word with a double click, Ctrl+Shift+C copies, the
// right-click menu is given the selection to copy; a paste of lines asks
// first (cancelled: nothing sent), and goes to the host bracketed when it
// asked for that (read back through `od -c`), without control characters.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { OUTPUT_DIR, runTest, startKavrix, waitText } from './lib.mjs';

const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'),
    "export LC_ALL=C.UTF-8\nPS1='kvx$ '\nunset PROMPT_COMMAND\n"),
});

const rows = (page) => page.evaluate(() => window.kavrix.text().split('\n'));
const command = async (page, text) => {
  await page.keyboard.type(text);
  await page.keyboard.press('Enter');
};
const clipboard = (page) => page.evaluate(() => navigator.clipboard.readText());

// The page position of cell (x, y).
async function cellPoint(page, x, y) {
  const grid = await page.locator('#terminal .kvx-grid').boundingBox();
  const size = await page.evaluate(() => window.kavrix.size());
  const w = grid.width / size.cols;
  const h = grid.height / size.rows;
  return { x: grid.x + (x + 0.5) * w, y: grid.y + (y + 0.5) * h };
}

async function drag(page, from, to) {
  const a = await cellPoint(page, ...from);
  const b = await cellPoint(page, ...to);
  await page.mouse.move(a.x, a.y);
  await page.mouse.down();
  await page.mouse.move(b.x, b.y, { steps: 4 });
  await page.mouse.up();
}

try {
  await runTest('clipboard', async (page) => {
    await page.context().grantPermissions(['clipboard-read', 'clipboard-write'],
      { origin: `http://127.0.0.1:${kavrix.port}` });
    await page.setViewportSize({ width: 1000, height: 700 });
    await page.goto(`http://127.0.0.1:${kavrix.port}/?rows=24&cols=80`);
    await waitText(page, /^kvx\$/);
    await command(page, 'clear');
    await page.waitForFunction(() => window.kavrix.cursor().y === 0 && window.kavrix.text().startsWith('kvx$'));

    // A row of wide characters, dragged over from its first cell to the last
    // column: copied on selection.
    await command(page, "printf 'wide: \\u6f22\\u5b57\\u30c6\\u30b9\\u30c8 ok   \\n'; printf 'x%.0s' {1..100}; echo");
    await waitText(page, /^wide: /);
    const wideRow = (await rows(page)).findIndex((r) => r.startsWith('wide: '));
    await drag(page, [0, wideRow], [79, wideRow]);
    await page.waitForFunction(() => navigator.clipboard.readText().then((t) => t.startsWith('wide')));
    assert.equal(await clipboard(page), 'wide: 漢字テスト ok');
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'clipboard-selection.png') });

    // A row the host made double width is drawn so (its line attribute
    // comes with the cells).
    await command(page, "printf '\\e#6double\\n'");
    await page.waitForFunction(() => [...document.querySelectorAll('#terminal .kvx-line.dw')]
      .some((el) => el.textContent.startsWith('double')));

    // A triple click takes the wrapped line whole, without a break.
    const wrapped = wideRow + 1;
    const p = await cellPoint(page, 5, wrapped);
    await page.mouse.click(p.x, p.y, { clickCount: 3 });
    await page.waitForFunction(() => navigator.clipboard.readText().then((t) => t.startsWith('xxx')));
    assert.equal(await clipboard(page), 'x'.repeat(100));

    // A double click takes a word; Ctrl+Shift+C copies the selection again.
    const q = await cellPoint(page, 2, wideRow);
    await page.mouse.dblclick(q.x, q.y);
    await page.waitForFunction(() => navigator.clipboard.readText().then((t) => t === 'wide:'));
    await page.evaluate(() => navigator.clipboard.writeText('something else'));
    await page.keyboard.press('Control+Shift+C');
    await page.waitForFunction(() => navigator.clipboard.readText().then((t) => t === 'wide:'));

    // The right-click menu is the browser's, over the typing area, which
    // then holds the selection, selected: its Copy copies it.
    await page.mouse.click(q.x, q.y, { button: 'right' });
    assert.equal(await page.evaluate(() => {
      const a = document.activeElement;
      return a.value.slice(a.selectionStart, a.selectionEnd);
    }), 'wide:');

    // Two lines pasted into the shell: the page asks; cancelled, nothing goes.
    const before = (await page.evaluate(() => window.kavrix.state())).keysSent;
    await page.evaluate(() => navigator.clipboard.writeText('echo one\necho two\n'));
    await page.locator('#terminal').click();
    await page.keyboard.press('Control+Shift+V');
    const question = page.locator('dialog[open]');
    await question.waitFor();
    assert.match(await question.locator('h2').textContent(), /^Paste 2 lines/);
    assert.equal(await question.locator('pre').textContent(), 'echo one\necho two');
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'clipboard-paste-question.png') });
    await question.locator('button[data-answer="0"]').click();
    await page.waitForFunction(() => !document.querySelector('dialog[open]'));
    assert.equal((await page.evaluate(() => window.kavrix.state())).keysSent, before);

    // The host asks for bracketed paste: the text comes between the marks,
    // line ends as Enter, its control characters left out.
    await command(page, 'clear');
    await command(page, "printf '\\e[?2004h'; stty raw -echo; head -c 16 | od -c | head -2; stty sane; printf '\\e[?2004l'");
    await page.waitForFunction(() => window.kavrix.state().modes.bracketed);
    await page.evaluate(() => navigator.clipboard.writeText('a\u0007\nb\u001bc'));
    await page.keyboard.press('Control+Shift+V');
    await page.locator('dialog[open] button[data-answer="1"]').click();
    await waitText(page, /0000020$/);  // raw mode: no carriage return before it
    const od = (await rows(page)).find((r) => r.startsWith('0000000 ')).replace(/^0000000 +/, '');
    assert.deepEqual(od.trim().split(/ +/), ['033', '[', '2', '0', '0', '~', 'a', '\\r', 'b', 'c', '033', '[', '2', '0', '1', '~']);
    assert.equal((await page.evaluate(() => window.kavrix.state())).pastes, 1);
  });
} finally {
  await kavrix.stop();
}
