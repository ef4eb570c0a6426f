// Host printing in the page against a real shell: a job the host prints
// brings the printer badge, the badge opens the list of jobs, and the job
// downloads as PDF and as text; the menu's Print screen makes a job of the
// screen.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { OUTPUT_DIR, runTest, startKavrix, waitText } from './lib.mjs';

const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'), "PS1='kvx$ '\nunset PROMPT_COMMAND\n"),
});

const command = async (page, text) => {
  await page.keyboard.type(text);
  await page.keyboard.press('Enter');
};

const downloaded = async (page, link) => {
  const [download] = await Promise.all([page.waitForEvent('download'), link.click()]);
  return { name: download.suggestedFilename(), bytes: fs.readFileSync(await download.path()) };
};

try {
  await runTest('print', async (page) => {
    await page.setViewportSize({ width: 1000, height: 700 });
    await page.goto(`http://127.0.0.1:${kavrix.port}/?rows=24&cols=80`);
    await waitText(page, /^kvx\$/);
    const badge = page.locator('header .tools [data-item="print-jobs"]');
    assert.equal(await badge.count(), 0, 'no badge before a job');

    await command(page, "printf 'shown\\e[5i%s\\r\\n\\e[4i\\n' \"$(echo PRINTED TEXT | tr A-Z a-z)\"");
    await badge.waitFor();
    assert.match(await badge.textContent(), /1$/);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'print-badge.png') });

    await badge.click();
    const list = page.locator('#print-jobs');
    await list.waitFor();
    const job = list.locator('li');
    assert.equal(await job.count(), 1);
    assert.match(await job.locator('.name').textContent(), /print-1\.txt — 1 page/);
    assert.equal(await job.locator('a', { hasText: 'Open' }).getAttribute('target'), '_blank');
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'print-list.png') });

    const pdf = await downloaded(page, job.locator('a', { hasText: 'PDF' }));
    assert.equal(pdf.name, 'print-1.pdf');
    assert.equal(pdf.bytes.subarray(0, 5).toString(), '%PDF-');
    const text = await downloaded(page, job.locator('a', { hasText: 'Text' }));
    assert.equal(text.name, 'print-1.txt');
    assert.equal(text.bytes.toString(), 'printed text\n');

    // Print screen from the menu: a second job, of the screen.
    await page.keyboard.press('Escape');
    await page.locator('#menu-toggle').click();
    await page.locator('#header-menu button', { hasText: 'Print screen' }).click();
    await page.waitForFunction(() => /2$/.test(document.querySelector('header .tools [data-item="print-jobs"]')?.textContent ?? ''));
    await badge.click();
    const screen = await downloaded(page, list.locator('li').first().locator('a', { hasText: 'Text' }));
    assert.match(screen.bytes.toString(), /^kvx\$ printf .*\nshown\n/);
  });
} finally {
  await kavrix.stop();
}
