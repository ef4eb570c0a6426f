// Recent hosts in the page against the real server: a choice that
// connected comes first in the connect panel, one click connects to it
// again, a remembered one can be forgotten, the host field offers the
// remembered names, and only the last ten are kept.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, runTest, startKavrix } from './lib.mjs';

const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'), "PS1='kvx$ '\nunset PROMPT_COMMAND\n"),
});

// A new choice is connected once the page has stopped connecting: until the
// session answers, the old host still counts as connected.
const connected = (page, emulate) => page.waitForFunction((e) => {
  const state = window.kavrix.state();
  return state.hostConnected && !state.hostConnecting &&
    window.kavrix.choice().emulate === e && /^kvx\$/m.test(window.kavrix.text());
}, emulate, { timeout: 30000 });
const recentLabels = (page) => page.locator('#connect-panel .recent-choice').allTextContents();

try {
  await runTest('recent', async (page) => {
    await page.setViewportSize({ width: 1000, height: 700 });
    await page.goto(`http://127.0.0.1:${kavrix.port}/?rows=24&cols=80`);
    await connected(page, EM.XTERM);

    // Connected: the choice is the first recent host.
    await page.locator('#connect-toggle').click();
    assert.deepEqual(await recentLabels(page), ['Local shell · xterm (colour)']);
    await page.locator('#emulate').selectOption(String(EM.VT220));
    await page.locator('#connect-submit').click();
    await connected(page, EM.VT220);
    await page.locator('#connect-toggle').click();
    assert.deepEqual(await recentLabels(page), ['Local shell · VT220', 'Local shell · xterm (colour)']);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'recent.png') });

    // One click connects again.
    await page.locator('#connect-panel .recent-choice').nth(1).click();
    await connected(page, EM.XTERM);
    assert.equal(await page.locator('#connect-panel').isVisible(), false);
    await page.locator('#connect-toggle').click();
    assert.deepEqual(await recentLabels(page), ['Local shell · xterm (colour)', 'Local shell · VT220']);

    // Forgotten.
    await page.locator('#connect-panel .recent-forget').nth(1).click();
    assert.deepEqual(await recentLabels(page), ['Local shell · xterm (colour)']);

    // Ten at most, newest first; the host field offers the names.
    await page.evaluate(async (emulate) => {
      const { rememberChoice } = await import('/kvx-recent.js');
      for (let i = 1; i <= 11; i++) rememberChoice({ commtype: 0, node: `host${i}.example`, port: 23, emulate });
    }, EM.XTERM);
    await page.locator('#connect-toggle').click();
    await page.locator('#connect-toggle').click();
    const labels = await recentLabels(page);
    assert.equal(labels.length, 10);
    assert.equal(labels[0], 'Telnet host11.example:23 · xterm (colour)');
    assert.equal(labels[9], 'Telnet host2.example:23 · xterm (colour)');
    const names = await page.locator('#recent-nodes option').evaluateAll((os) => os.map((o) => o.value));
    assert.equal(names.length, 10);
    assert.ok(names.includes('host11.example'));
  });
} finally {
  await kavrix.stop();
}
