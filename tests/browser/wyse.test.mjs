// A Wyse 50 session in the page: the local shell runs with TERM=wy50, a
// screen drawn with that terminal's own capabilities shows in the grid, the
// host-written status line and function-key labels show under it, and the
// shifted keys' labels while Shift is held.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, need, runTest, startKavrix, waitText } from './lib.mjs';

// Readline's bracketed paste (an ANSI sequence it sends whatever the
// terminal) is off: a Wyse would show it as text.
const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'),
    "PS1='kvx$ '\nunset PROMPT_COMMAND\nbind 'set enable-bracketed-paste off'\n"),
});

async function typeLine(page, text) {
  await page.evaluate(() => window.kavrix.focus());
  await page.keyboard.type(text);
  await page.keyboard.press('Enter');
}

try {
  await runTest('wyse', async (page) => {
    assert.equal(need('wy50', 'tput'), '');
    await page.goto(`http://127.0.0.1:${kavrix.port}/?emulate=${EM.WYSE50}&rows=24&cols=80`);
    await waitText(page, /^kvx\$/, 60000);
    assert.equal(await page.isVisible('#labels'), false, 'no status line until the host writes one');

    await typeLine(page, 'echo "TERM is $TERM"; tput clear; tput cup 5 10; echo "at 5,10"; tput cup 7 0');
    await waitText(page, /^ {10}at 5,10$/);
    await typeLine(page, 'clear; echo "TERM is $TERM"');
    await waitText(page, /^TERM is wy50$/);

    // The host writes its status line and two function-key labels.
    // The host writes its status line and the labels of F2 and Shift+F2
    // (labels 1 and 9, in columns 11-18).
    await typeLine(page, "printf '\\033z(Host status\\r'; printf '\\033z1F2 label\\r\\033z9Shift F2\\r'");
    await page.waitForFunction(() => /F2 label/.test(window.kavrix.labels()), null, { timeout: 30000 });
    assert.equal(await page.isVisible('#labels'), true);
    assert.equal(await page.evaluate(() => window.kavrix.labels()), 'Host statusF2 label');
    await page.keyboard.down('Shift');
    await page.waitForFunction(() => /^ {11}Shift F2$/.test(window.kavrix.labels()), null, { timeout: 10000 });
    await page.keyboard.up('Shift');
    await page.waitForFunction(() => /F2 label/.test(window.kavrix.labels()), null, { timeout: 10000 });
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'wyse.png') });
  });
} finally {
  await kavrix.stop();
}
