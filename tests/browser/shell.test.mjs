// The browser application against the real server and a real shell: the
// page creates a session on its own, the shell's prompt appears in the DOM
// rows, the cursor is drawn after it in the shell's colours, the connected
// state shows, the channel comes back after a drop, and a reload takes the
// same session up again.  The browser prefers a dark colour scheme, which
// the page's default scheme follows.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { OUTPUT_DIR, runTest, startKavrix } from './lib.mjs';

const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'), "PS1='kvx$ '\nunset PROMPT_COMMAND\n"),
});

const promptShown = () => /^kvx\$/m.test(window.kavrix?.text() ?? '');

try {
  await runTest('shell', async (page) => {
    await page.setViewportSize({ width: 1000, height: 700 });
    await page.goto(`http://127.0.0.1:${kavrix.port}/?rows=24&cols=80`);
    await page.waitForFunction(promptShown, null, { timeout: 60000 });

    // The prompt is real text of a DOM row, in light grey on black.
    const rows = page.locator('#terminal .kvx-row');
    assert.equal(await rows.count(), 24);
    const promptRow = await page.evaluate(() => window.kavrix.text().split('\n').findIndex((r) => r.startsWith('kvx$')));
    assert.ok(promptRow >= 0);
    assert.match(await rows.nth(promptRow).textContent(), /^kvx\$ +$/);
    const colours = await rows.nth(promptRow).locator('span').first().evaluate((el) => {
      const s = getComputedStyle(el);
      return [s.color, s.backgroundColor];
    });
    assert.deepEqual(colours, ['rgb(170, 170, 170)', 'rgb(0, 0, 0)']);

    // The cursor stands after the prompt and is drawn there.
    await page.waitForFunction(() => window.kavrix.cursor()?.x === 5);
    const cursor = page.locator('#terminal .kvx-cursor');
    assert.equal(await cursor.isVisible(), true);
    assert.equal(await cursor.getAttribute('data-x'), '5');
    assert.equal(await cursor.getAttribute('data-y'), String(promptRow));
    const cursorBox = await cursor.boundingBox();
    const rowBox = await rows.nth(promptRow).boundingBox();
    assert.ok(Math.abs(cursorBox.y - rowBox.y) < 2, `cursor at ${cursorBox.y}, row at ${rowBox.y}`);
    assert.ok(cursorBox.x > rowBox.x + 4 * cursorBox.width, 'cursor after the prompt');

    assert.equal(await page.locator('#state').getAttribute('data-state'), 'connected');
    assert.equal(await page.locator('#state').textContent(), 'Connected');
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'shell.png') });

    // A dropped channel comes back and is given the screen again.
    const first = await page.evaluate(() => window.kavrix.state());
    await page.evaluate(() => window.kavrix.dropChannel());
    await page.waitForFunction(
      () => window.kavrix.state().reconnects === 1 && window.kavrix.state().channel === 'open',
      null, { timeout: 60000 });
    await page.waitForFunction(() => window.kavrix.state().hostConnected, null, { timeout: 30000 });
    await page.waitForFunction(promptShown);
    assert.equal((await page.evaluate(() => window.kavrix.state())).session.id, first.session.id);

    // A reload takes the same session up again (the host is still there).
    await page.reload();
    await page.waitForFunction(promptShown, null, { timeout: 60000 });
    const again = await page.evaluate(() => window.kavrix.state());
    assert.equal(again.session.id, first.session.id);
    assert.equal(await page.evaluate(() => localStorage.getItem('kavrix.deviceId')).then((d) => d.length), 32);

    // The host goes away: the page says so and offers to connect again,
    // which starts a new shell in the same session.
    await page.evaluate((id) => fetch(`/load_config?session=${id}`, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ kcf: { commtype: 7 }, disconnectFromHost: true }),
    }), again.session.id);
    await page.waitForFunction(() => document.getElementById('state').dataset.state === 'disconnected');
    const button = page.locator('#reconnect');
    assert.equal(await button.isVisible(), true);
    await button.click();
    await page.waitForFunction(() => document.getElementById('state').dataset.state === 'connected',
      null, { timeout: 30000 });
    assert.equal(await button.isVisible(), false);
    await page.waitForFunction(promptShown, null, { timeout: 30000 });

    // The session's own console page shows the same screen.
    const consolePage = await page.context().browser().newPage();
    await consolePage.goto(`http://127.0.0.1:${again.session.port}/?session=${again.session.id}`);
    await consolePage.waitForFunction(promptShown, null, { timeout: 30000 });
    assert.equal(await consolePage.evaluate(() => window.kavrix.text()),
      await page.evaluate(() => window.kavrix.text()));
    await consolePage.close();
  }, { colorScheme: 'dark' });
} finally {
  await kavrix.stop();
}
