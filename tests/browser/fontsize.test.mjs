// Text size in the page against a real shell: Ctrl+= makes the text larger,
// the screen's rows and columns follow and the shell is told (`stty size`),
// a second page of the session takes the new size, the header's buttons do
// the same, and the choice is still there after a reload.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { OUTPUT_DIR, runTest, startKavrix, waitText } from './lib.mjs';

const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'), "PS1='kvx$ '\nunset PROMPT_COMMAND\n"),
});

const size = (page) => page.evaluate(() => window.kavrix.size());
const fontSize = (page) => page.evaluate(() => window.kavrix.state().fontSize);

// What `stty size` says once the page's size has reached the session.
let asked = 0;
async function sttySize(page) {
  await page.waitForFunction(() => !window.kavrix.state().resizing);
  const tag = `size${++asked}`;
  await page.keyboard.type(`clear; stty size | sed 's/^/${tag} /'`);
  await page.keyboard.press('Enter');
  const re = `^${tag} (\\d+) (\\d+)$`;
  await page.waitForFunction((src) => new RegExp(src, 'm').test(window.kavrix.text()), re, { timeout: 30000 });
  const [rows, cols] = (await page.evaluate(() => window.kavrix.text())).match(new RegExp(re, 'm')).slice(1).map(Number);
  return { rows, cols };
}

try {
  await runTest('fontsize', async (page) => {
    await page.setViewportSize({ width: 1000, height: 700 });
    await page.goto(`http://127.0.0.1:${kavrix.port}/`);
    await waitText(page, /^kvx\$/);
    assert.equal(await fontSize(page), 15);
    const first = await size(page);
    assert.deepEqual(await sttySize(page), first);

    const other = await page.context().browser().newPage();
    await other.setViewportSize({ width: 1200, height: 800 });
    await other.goto(await page.evaluate(() => window.kavrix.link()));
    await waitText(other, /^size1 /);
    assert.deepEqual(await size(other), first, 'a page that joins takes the session size');

    // Larger text: fewer rows and columns, and the shell knows.
    await page.locator('#terminal').click();
    for (let i = 0; i < 3; i++) await page.keyboard.press('Control+Equal');
    assert.equal(await fontSize(page), 18);
    await page.waitForFunction((s) => window.kavrix.size().cols < s.cols && window.kavrix.size().rows < s.rows &&
      !window.kavrix.state().resizing, first);
    const larger = await size(page);
    assert.deepEqual(await sttySize(page), larger);
    await other.waitForFunction((s) => window.kavrix.size().cols === s.cols && window.kavrix.size().rows === s.rows,
      larger);
    assert.equal(await page.locator('#font-size').textContent(), '18');
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'fontsize.png') });

    // The header's button, then Ctrl+- the other way.
    await page.locator('#font-smaller').click();
    assert.equal(await fontSize(page), 17);
    await page.locator('#terminal').click();
    await page.keyboard.press('Control+Minus');
    assert.equal(await fontSize(page), 16);
    await page.waitForFunction((s) => window.kavrix.size().cols > s.cols, larger);
    assert.deepEqual(await sttySize(page), await size(page));

    // Remembered: a reload keeps the size of the text.
    await page.reload();
    await waitText(page, /^kvx\$/);
    assert.equal(await fontSize(page), 16);
    const px = await page.locator('#terminal').evaluate((el) => getComputedStyle(el).fontSize);
    assert.equal(px, '16px');
    await other.close();
  });
} finally {
  await kavrix.stop();
}
