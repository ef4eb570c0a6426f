// The header and the panels around a 3270 screen at 1280 x 800: a connect
// to a closed port says so once, naming the host and the port (in the
// error dialog, then in the page), and neither the header nor the status
// line still says it is connecting; the connect panel and the message
// banner refit the screen when they open and close, so its key bar stays
// in the window; after a header button the typing goes to the terminal
// again (Enter reaches the host, not the button).  Screenshots of each
// state go to the test output.
import assert from 'node:assert/strict';
import net from 'node:net';
import path from 'node:path';
import { AID, FIELD, screen3270, start3270Host, until } from './block-hosts.mjs';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, focusSettled, runTest, startKavrix, waitText } from './lib.mjs';

const kavrix = await startKavrix();
const base = `http://127.0.0.1:${kavrix.port}`;
const DESKTOP = { viewport: { width: 1280, height: 800 } };
const shot = (page, name) => page.screenshot({ path: path.join(OUTPUT_DIR, `${name}.png`) });

const closedPort = () => new Promise((resolve) => {
  const probe = net.createServer().listen(0, '127.0.0.1', () => {
    const { port } = probe.address();
    probe.close(() => resolve(port));
  });
});

// How many shown elements of the page say `text` (the innermost ones).
const saying = (page, text) => page.evaluate((t) => [...document.querySelectorAll('body *')]
  .filter((el) => el.getClientRects().length && el.textContent.includes(t) &&
    ![...el.children].some((c) => c.textContent.includes(t))).length, text);

const bottomOfBar = (page) => page.evaluate(() => document.querySelector('.kvx-keybar').getBoundingClientRect().bottom);

try {
  await runTest('header-refused', async (page) => {
    const port = await closedPort();
    await page.goto(`${base}/?commtype=0&node=127.0.0.1&port=${port}&emulate=${EM.IBM3270_MODEL2}`);
    const dialog = page.locator('dialog.kvx-dialog-fatal');
    await dialog.waitFor({ timeout: 30000 });
    const message = `Connection to 127.0.0.1 port ${port} failed`;
    assert.equal(await dialog.locator('.kvx-dialog-message').textContent(), message);
    assert.equal(await saying(page, `port ${port}`), 1, 'said once while the dialog is open');
    // The session waits for the answer before it says more: the page knows.
    assert.match(await page.locator('.kvx-oia').textContent(), /DISCONNECTED/);
    assert.equal(await page.locator('#state').textContent(), 'Disconnected');
    await shot(page, 'header-refused-dialog');
    await dialog.locator('button[data-answer="1"]').click();
    await page.waitForFunction(() => document.getElementById('state').dataset.state === 'disconnected');
    assert.equal(await page.locator('#message').textContent(), message);
    assert.equal(await saying(page, `port ${port}`), 1, 'said once after it');
    assert.equal(await page.locator('#state').textContent(), 'Disconnected');
    assert.doesNotMatch(await page.locator('.kvx-oia').textContent(), /CONNECTING/);
    assert.equal(await page.isVisible('#reconnect'), true);
    assert.ok(await bottomOfBar(page) <= 800, 'the banner refitted the screen');
    await shot(page, 'header-refused');
  }, DESKTOP);

  await runTest('header-panels', async (page) => {
    const screen = screen3270({
      alternate: true,
      fields: [
        { row: 0, col: 1, attr: FIELD.PROTECTED, text: 'TOP' },
        { row: 2, col: 10, attr: FIELD.INPUT, text: '' },
        { row: 2, col: 30, attr: FIELD.PROTECTED, text: '' },
        { row: 42, col: 1, attr: FIELD.PROTECTED, text: 'BOTTOM ROW' },
      ],
      cursor: { row: 2, col: 10 },
    });
    const host = await start3270Host([screen]);
    try {
      await page.goto(`${base}/?commtype=0&node=127.0.0.1&port=${host.port}&emulate=${EM.IBM3270_MODEL4}`);
      await waitText(page, /BOTTOM ROW/, 20000);
      await page.waitForFunction(() => window.kavrix.status()?.rows === 43 && window.kavrix.status().keyboard === '');
      const fitted = (await page.evaluate(() => window.kavrix.state())).shownFontSize;

      // The connect panel pushes the screen down: it gets smaller, and back.
      await page.locator('#connect-toggle').click();
      await page.locator('#connect-panel').waitFor();
      await page.waitForFunction((f) => window.kavrix.state().shownFontSize < f, fitted);
      const panel = await page.locator('#connect-panel').boundingBox();
      const grid = await page.locator('.kvx-grid').boundingBox();
      assert.ok(grid.y >= panel.y + panel.height, 'the screen under the panel');
      assert.ok(await bottomOfBar(page) <= 800, 'the key bar still in the window');
      await shot(page, 'header-panel-open');
      await page.keyboard.press('Escape');
      await page.waitForFunction((f) => window.kavrix.state().shownFontSize === f, fitted);
      assert.equal(await page.evaluate(() => document.activeElement?.className), 'kvx-input');

      // After a header button, Enter goes to the host.
      await page.locator('#font-larger').click();
      await page.locator('#font-smaller').click();
      await focusSettled(page);
      assert.equal(await page.evaluate(() => document.activeElement?.className), 'kvx-input');
      await page.keyboard.press('Enter');
      await until('the Enter record', () => host.received.length >= 1);
      assert.equal(host.received[0][0], AID.ENTER);
      // The same after a popover closes.
      await page.locator('#sessions-toggle').click();
      await page.locator('#sessions-panel').waitFor();
      await page.keyboard.press('Escape');
      assert.equal(await page.evaluate(() => document.activeElement?.className), 'kvx-input');
    } finally {
      host.close();
    }
  }, DESKTOP);
} finally {
  await kavrix.stop();
}
