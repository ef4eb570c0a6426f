// Looking back in the page against the real server and a real shell: 300
// lines of output, Shift+Page Up and the wheel back to the first of them
// (read from the page's rows), the page marked as not live with a way
// back, host output meanwhile kept for the return, a key returning to live,
// a second page of the same session staying live throughout, and the wheel
// on the alternate screen sending cursor keys.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { OUTPUT_DIR, runTest, startKavrix, waitText } from './lib.mjs';

const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'), "PS1='kvx$ '\nunset PROMPT_COMMAND\n"),
});

const text = (page) => page.evaluate(() => window.kavrix.text());
const state = (page) => page.evaluate(() => window.kavrix.state());

try {
  await runTest('scrollback', async (page) => {
    await page.setViewportSize({ width: 1000, height: 700 });
    await page.goto(`http://127.0.0.1:${kavrix.port}/?rows=24&cols=80`);
    await waitText(page, /^kvx\$/);

    // A second page of the same session, attached by its link.
    const link = await page.evaluate(() => window.kavrix.link());
    const other = await page.context().browser().newPage();
    await other.setViewportSize({ width: 1000, height: 700 });
    await other.goto(link);
    await waitText(other, /^kvx\$/);

    // The late output waits for the file "go" that the test makes later.
    await page.keyboard.type("seq -f 'line %g' 1 300; (until [ -e go ]; do sleep 0.1; done; echo late-output) &");
    await page.keyboard.press('Enter');
    await waitText(page, /^line 300$/);
    await waitText(page, /^kvx\$ *$/);
    await page.waitForFunction(() => window.kavrix.state().kept >= 280);
    assert.equal((await state(page)).back, 0);
    assert.equal(await page.locator('#live').isVisible(), false);

    // Page by page back to the top: the first lines are on the page.
    const kept = (await state(page)).kept;
    await page.locator('#terminal').click();
    for (let i = 0; i < 20 && (await state(page)).back < kept; i++) {
      await page.keyboard.press('Shift+PageUp');
      await page.waitForFunction(() => !window.kavrix.channel || window.kavrix.state().back > 0);
    }
    await page.waitForFunction((k) => window.kavrix.state().back === k && window.kavrix.state().settled, kept);
    let shown = (await text(page)).split('\n');
    assert.ok(shown.includes('line 1') && shown.includes('line 2'), shown.join('\n'));
    // The way back says how far back the view stands; no cursor is shown.
    await page.waitForFunction((k) => document.getElementById('live').textContent.startsWith(`${k} rows back`) &&
      !document.getElementById('live').hidden, kept);
    assert.equal(await page.locator('#terminal .kvx-cursor').isVisible(), false);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'scrollback.png') });

    // The other page stayed live.
    assert.equal((await state(other)).back, 0);
    assert.match(await text(other), /^kvx\$ *$/m);

    // The scroll bar shows the top; dragging its thumb halfway down moves the
    // view to about the middle of what is kept.
    const bar = await page.locator('#scrollbar').boundingBox();
    await page.waitForFunction(() => document.querySelector('#scrollbar .kvx-thumb').offsetTop === 0);
    const thumb = await page.locator('#scrollbar .kvx-thumb').boundingBox();
    await page.mouse.move(thumb.x + thumb.width / 2, thumb.y + thumb.height / 2);
    await page.mouse.down();
    await page.mouse.move(thumb.x + thumb.width / 2, thumb.y + thumb.height / 2 + (bar.height - thumb.height) / 2,
      { steps: 5 });
    await page.mouse.up();
    await page.waitForFunction((k) => {
      const s = window.kavrix.state();
      return s.back > k / 4 && s.back < (3 * k) / 4 && s.settled;
    }, kept);
    // Pressed quickly: the moves gather while one request is on its way.
    for (let i = 0; i < 7; i++) await page.keyboard.press('Shift+PageUp');
    await page.waitForFunction((k) => window.kavrix.state().back === k && window.kavrix.state().settled, kept);

    // The wheel moves the view a few rows at a time, both ways.
    const box = await page.locator('#terminal').boundingBox();
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.mouse.wheel(0, 200);
    await page.waitForFunction((k) => window.kavrix.state().back < k, kept);
    const afterWheel = (await state(page)).back;
    await page.mouse.wheel(0, -100);
    await page.waitForFunction((b) => window.kavrix.state().back > b, afterWheel);

    // Output meanwhile goes to the live screen: this page keeps its view
    // (which stays on its rows), the other page shows it.
    fs.writeFileSync(path.join(kavrix.dir, 'go'), '');
    await waitText(other, /late-output$/, 10000);
    shown = (await text(page)).split('\n');
    assert.ok(!shown.includes('late-output'));
    assert.ok(shown.some((row) => /^line \d+$/.test(row)));

    // Back to live: the output is there.
    await page.locator('#live').click();
    await page.waitForFunction(() => window.kavrix.state().back === 0);
    await waitText(page, /late-output$/);
    await page.waitForFunction(() => document.getElementById('live').hidden);
    assert.equal(await text(page), await text(other));

    // A key returns to live and reaches the host.
    await page.mouse.wheel(0, -300);
    await page.waitForFunction(() => window.kavrix.state().back > 0);
    await page.keyboard.type('echo typed-$((6*7))');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => window.kavrix.state().back === 0);
    await waitText(page, /^typed-42$/);

    // A full-screen program: no scrollback, the wheel sends Up and Down.
    await page.keyboard.type("printf '\\e[?1049h'; od -c >od.txt; printf '\\e[?1049l'; cat od.txt");
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => window.kavrix.state().modes.alternate && window.kavrix.state().kept === 0);
    await page.mouse.wheel(0, -60);
    await page.mouse.wheel(0, 60);
    await page.keyboard.press('Enter');
    await page.keyboard.press('Control+D');
    await page.waitForFunction(() => !window.kavrix.state().modes.alternate);
    await waitText(page, /^0000000 +033 +\[ +A/);
    assert.equal((await state(page)).back, 0);
    await other.close();
  });
} finally {
  await kavrix.stop();
}
