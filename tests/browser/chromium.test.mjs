// The browser test rig itself: Debian's chromium starts headless and renders.
import assert from 'node:assert/strict';
import { runTest } from './lib.mjs';

await runTest('chromium', async (page) => {
  await page.setContent('<pre id="t">kavrix</pre>');
  assert.equal(await page.textContent('#t'), 'kavrix');
});
