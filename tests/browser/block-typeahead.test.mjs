// A 3270 session of a custom size and keys typed ahead, in the page.  The
// address asks for model 2 at 40 x 132: the host is told IBM-DYNAMIC, its
// Erase/Write Alternate fills 40 x 132, and the connect panel shows the
// size beside the 3270 model (and hides it for a 5250 model).  Keys typed
// before the host first unlocks the keyboard wait, the status line saying
// how many, and reach the host once it does; SysReq on plain TN3270 is a
// Test Request read, and the key bar has Test Request and Cursor Select.
import assert from 'node:assert/strict';
import path from 'node:path';
import { ebcdic, start3270Host, until } from './block-hosts.mjs';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, runTest, startKavrix, waitText } from './lib.mjs';

const kavrix = await startKavrix();
const base = `http://127.0.0.1:${kavrix.port}`;

// SBA in 14 bits (the screen has more than 4096 cells).
const sba14 = (pos) => [0x11, (pos >> 8) & 0x3f, pos & 0xff];

try {
  await runTest('block-typeahead', async (page) => {
    const host = await start3270Host([]);
    try {
      await page.goto(`${base}/?commtype=0&node=127.0.0.1&port=${host.port}&emulate=${EM.IBM3270_MODEL2}` +
        '&size3270=40x132');
      await until('the terminal type', () => host.state.terminalType !== null, 20000);
      assert.equal(host.state.terminalType, 'IBM-DYNAMIC');
      await page.waitForFunction(() => window.kavrix.status()?.link === 'TN3270');

      // Typed before the host has written anything: they wait.
      await page.locator('.kvx-grid').click();
      await page.keyboard.type('ok');
      await page.keyboard.press('Enter');
      await page.waitForFunction(() => window.kavrix.status()?.typeahead === 3);
      assert.equal(await page.locator('.kvx-oia-typeahead').textContent(), 'TA 3');
      assert.equal(host.received.length, 0);

      // The first write unlocks: 40 x 132, a field at the bottom right.
      const last = 40 * 132 - 1;
      host.send([0x7e, 0xc3, 0x1d, 0x60, ...ebcdic('WIDE'), ...sba14(39 * 132), ...ebcdic('BOTTOM'),
        ...sba14(last - 10), 0x1d, 0x40, 0x13]);
      await until('the typed record', () => host.received.length >= 1);
      const field = last - 9;
      assert.equal(host.received[0].toString('hex'),
        Buffer.from([0x7d, (field + 2) >> 8, (field + 2) & 0xff, 0x11, field >> 8, field & 0xff,
          ...ebcdic('ok')]).toString('hex'));
      await waitText(page, /BOTTOM/);
      const status = await page.evaluate(() => window.kavrix.status());
      assert.equal(status.rows, 40);
      assert.equal(status.cols, 132);
      assert.equal(status.model, 'IBM-DYNAMIC');
      await page.waitForFunction(() => window.kavrix.status()?.typeahead === 0);
      assert.equal(await page.locator('.kvx-oia-typeahead').count(), 0);
      await page.screenshot({ path: path.join(OUTPUT_DIR, 'block-typeahead-40x132.png') });

      // SysReq on plain TN3270: a Test Request read, at once.
      host.send([0xf1, 0xc2]);
      await page.waitForFunction(() => window.kavrix.status()?.keyboard === '');
      await page.keyboard.press('Shift+Pause');
      await until('the Test Request read', () => host.received.length >= 2);
      assert.equal(host.received[1].subarray(0, 4).toString('hex'), '016c6102');

      // The key bar reaches Test Request and Cursor Select too.
      host.send([0xf1, 0xc2]);
      await page.waitForFunction(() => window.kavrix.status()?.keyboard === '');
      const bar = page.locator('.kvx-keybar');
      assert.equal(await bar.locator('[data-key="SYSREQ"]').count(), 1);
      assert.equal(await bar.locator('[data-key="ATTN"]').count(), 1);
      await bar.locator('[data-extra="key3270-TSTREQ"]').click();
      await until('the Test Request read from the bar', () => host.received.length >= 3);
      assert.equal(host.received[2].subarray(0, 4).toString('hex'), '016c6102');
      assert.equal(await bar.locator('[data-extra="key3270-CURSEL"]').textContent(), 'Cursor Select');

      // The connect panel: the size beside the model, none for 5250.
      await page.locator('#connect-toggle').click();
      const size = page.locator('[data-size3270]');
      assert.equal(await size.isVisible(), true);
      assert.equal(await page.locator('#rows3270').inputValue(), '40');
      assert.equal(await page.locator('#cols3270').inputValue(), '132');
      const options = await page.locator('#emulate option').evaluateAll((os) => os.map((o) => [o.value, o.text]));
      const station5250 = options.find(([, text]) => /5250/.test(text));
      await page.locator('#emulate').selectOption(station5250[0]);
      assert.equal(await size.isVisible(), false);
    } finally {
      await host.close();
    }
  }, { viewport: { width: 1280, height: 900 } });
} finally {
  await kavrix.stop();
}
