// The page on a phone: 390 x 844 with touch.  The header's tools are in
// its menu, and Host… there opens the connect panel; on a shell the touch
// bar's sticky Ctrl then "c" interrupts `sleep 100`; on a 3270 screen (a
// host written here) a tap places the cursor, the touch bar's PF3 and, on
// its second page, PF13 reach the host as their AIDs, and a tapped
// "PF3=Exit" presses PF3; on the recorded 5250 sign-on the touch bar's
// Field Exit takes the operator from the user field to the password and
// its Enter signs on as recorded.  Screenshots of each state go to the
// test output.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { AID, FIELD, screen3270, start3270Host, start5250Host, until } from './block-hosts.mjs';
import { traceRecords } from './block-trace.mjs';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, SOURCE_DIR, runTest, startKavrix, waitText } from './lib.mjs';

const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'), "PS1='kvx$ '\nunset PROMPT_COMMAND\n"),
});
const base = `http://127.0.0.1:${kavrix.port}`;
const PHONE = { viewport: { width: 390, height: 844 }, hasTouch: true, isMobile: true };
const shot = (page, name) => page.screenshot({ path: path.join(OUTPUT_DIR, `${name}.png`) });

// Taps the centre of an element.
async function tap(page, selector) {
  const box = await page.locator(selector).boundingBox();
  assert.ok(box, `${selector} shown`);
  assert.ok(box.x >= 0 && box.x + box.width <= 390.5, `${selector} inside the width: ${JSON.stringify(box)}`);
  await page.touchscreen.tap(box.x + box.width / 2, box.y + box.height / 2);
}

// Taps the cell at (row, col) of the screen.
async function tapCell(page, row, col) {
  const box = await page.locator('.kvx-grid').boundingBox();
  const { rows, cols } = await page.evaluate(() => window.kavrix.status());
  await page.touchscreen.tap(box.x + ((col + 0.5) * box.width) / cols, box.y + ((row + 0.5) * box.height) / rows);
}

try {
  await runTest('touch-header', async (page) => {
    await page.goto(`${base}/`);
    await waitText(page, /^kvx\$/);
    assert.equal(await page.locator('#connect-toggle').isVisible(), false, 'the tools are folded');
    await shot(page, 'touch-shell');
    await tap(page, '#menu-toggle');
    const entries = await page.locator('#header-menu button').allTextContents();
    for (const want of ['Host…', 'Sessions', 'Share', 'Settings', 'Larger text', 'Smaller text', 'Key help']) {
      assert.ok(entries.includes(want), `the menu has ${want}: ${entries}`);
    }
    for (const box of await page.locator('#header-menu button').evaluateAll((els) => els.map((e) => {
      const r = e.getBoundingClientRect();
      return { left: r.left, right: r.right, bottom: r.bottom };
    }))) assert.ok(box.left >= 0 && box.right <= 390 && box.bottom <= 844, `entry inside: ${JSON.stringify(box)}`);
    await shot(page, 'touch-menu');
    await tap(page, '#header-menu button:text-is("Host…")');
    await page.locator('#connect-panel').waitFor();
    assert.equal(await page.locator('#header-menu').isVisible(), false);
    assert.ok(await page.evaluate(() => document.getElementById('connect-panel').contains(document.activeElement)),
      'the panel has the focus');
    const panel = await page.locator('#connect-panel').boundingBox();
    assert.ok(panel.x >= 0 && panel.x + panel.width <= 390.5, 'the panel fits the width');
    await shot(page, 'touch-connect-panel');
  }, PHONE);

  await runTest('touch-shell-ctrl', async (page) => {
    await page.goto(`${base}/`);
    await waitText(page, /^kvx\$/);
    await tap(page, '#terminal');
    assert.equal(await page.evaluate(() => document.activeElement?.className), 'kvx-input', 'a tap types there');
    await page.keyboard.type('sleep 100; echo slept');
    await page.keyboard.press('Enter');
    await waitText(page, /^kvx\$ sleep 100; echo slept$/);
    await tap(page, '#touchbar [data-modifier="ctrl"]');
    assert.equal(await page.locator('#touchbar [data-modifier="ctrl"]').getAttribute('aria-pressed'), 'true');
    await shot(page, 'touch-ctrl');
    await page.keyboard.press('c');
    assert.equal(await page.locator('#touchbar [data-modifier="ctrl"]').getAttribute('aria-pressed'), 'false',
      'Ctrl goes with one key');
    await waitText(page, /^\^C$/, 10000);
    await page.keyboard.type('echo back-$((6*7))');
    await page.keyboard.press('Enter');
    await waitText(page, /^back-42$/, 10000);
    assert.doesNotMatch(await page.evaluate(() => window.kavrix.text()), /^slept$/m);
    // The bar's arrows go as the terminal's keys: Up brings the last command back.
    await tap(page, '#touchbar [data-key="ArrowUp"]');
    await waitText(page, /^kvx\$ echo back-\$\(\(6\*7\)\)$/, 10000);
  }, PHONE);

  await runTest('touch-3270', async (page) => {
    const screen = screen3270({
      fields: [
        { row: 0, col: 1, attr: FIELD.PROTECTED, text: 'TOUCH TEST' },
        { row: 4, col: 10, attr: FIELD.PROTECTED, text: 'Name . . .' },
        { row: 4, col: 22, attr: FIELD.INPUT, text: '' },
        { row: 4, col: 40, attr: FIELD.PROTECTED, text: '' },
        { row: 22, col: 1, attr: FIELD.PROTECTED, text: 'F1=Help  PF3=Exit  F12=Cancel' },
      ],
      cursor: { row: 0, col: 0 },
    });
    const host = await start3270Host([screen]);
    const unlocked = () => page.waitForFunction(() => window.kavrix.status()?.keyboard === '');
    try {
      await page.goto(`${base}/?commtype=0&node=127.0.0.1&port=${host.port}&emulate=${EM.IBM3270_MODEL2}`);
      await waitText(page, /PF3=Exit/, 20000);
      await unlocked();
      await tapCell(page, 4, 25);
      await page.waitForFunction(() => window.kavrix.cursor().x === 25 && window.kavrix.cursor().y === 4);
      await shot(page, 'touch-3270');

      await tap(page, '#touchbar [data-key="PF3"]');
      await until('the PF3 record', () => host.received.length >= 1);
      assert.equal(host.received[0][0], AID.PF3, 'PF3 from the touch bar');

      host.send(screen);
      await unlocked();
      await tap(page, '#touchbar .kvx-touch-page');
      await tap(page, '#touchbar [data-key="PF13"]');
      await until('the PF13 record', () => host.received.length >= 2);
      assert.equal(host.received[1][0], 0xc1, 'PF13 from the second page');

      host.send(screen);
      await unlocked();
      const spot = page.locator('.kvx-hotspot[data-key="PF3"]');
      assert.equal(await spot.getAttribute('title'), 'PF3 \u2014 F3');
      await tap(page, '.kvx-hotspot[data-key="PF3"]');
      await until('the hotspot\'s record', () => host.received.length >= 3);
      assert.equal(host.received[2][0], AID.PF3, 'PF3 from the tapped "PF3=Exit"');
    } finally {
      host.close();
    }
  }, PHONE);

  await runTest('touch-5250', async (page) => {
    const trace = traceRecords(path.join(SOURCE_DIR, 'tests/fixtures/5250/blazemeter-tn5250-login.trc'));
    const host = await start5250Host(trace);
    try {
      await page.goto(`${base}/?commtype=0&node=127.0.0.1&port=${host.port}&emulate=${EM.IBM5250}`);
      await waitText(page, /Sign On/, 20000);
      await page.waitForFunction(() => window.kavrix.status()?.keyboard === '');
      await tapCell(page, 5, 52);
      await page.waitForFunction(() => window.kavrix.cursor().x === 52 && window.kavrix.cursor().y === 5);
      await page.keyboard.type('TESTUSR');
      await tap(page, '#touchbar [data-key="FIELDEXIT"]');
      await page.waitForFunction(() => window.kavrix.cursor().y === 6 && window.kavrix.cursor().x === 52);
      await page.keyboard.type('TESTPSW');
      await shot(page, 'touch-5250');
      await tap(page, '#touchbar [data-key="ENTERREC"]');
      await until('the sign-on record', () => host.received.length >= 1);
      assert.equal(host.received[0].subarray(10).toString('hex'), trace.terminal[0].subarray(10).toString('hex'),
        'the sign-on as recorded');
    } finally {
      host.close();
    }
  }, PHONE);
} finally {
  await kavrix.stop();
}
