// The host's title and bell in the page against a real shell: the tab's
// title follows `printf '\e]0;hello\a'` (a page attaching later gets it
// too) and goes back to the host's name with a new connect; a bell flashes
// the terminal, a burst of bells flashes once.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, runTest, startKavrix, waitText } from './lib.mjs';

const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'), "PS1='kvx$ '\nunset PROMPT_COMMAND\n"),
});

const command = async (page, text) => {
  await page.keyboard.type(text);
  await page.keyboard.press('Enter');
};

try {
  await runTest('title-bell', async (page) => {
    await page.setViewportSize({ width: 1000, height: 700 });
    await page.goto(`http://127.0.0.1:${kavrix.port}/?rows=24&cols=80`);
    await waitText(page, /^kvx\$/);
    assert.equal(await page.title(), 'Local shell');

    await command(page, "printf '\\e]0;hello\\a'");
    await page.waitForFunction(() => document.title === 'hello');
    assert.equal(await page.locator('#host-title').textContent(), 'hello');
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'title.png') });

    // A page that attaches now is told the title at once.
    const other = await page.context().browser().newPage();
    await other.goto(await page.evaluate(() => window.kavrix.link()));
    await other.waitForFunction(() => document.title === 'hello');

    // The bell: one flash, and one for a burst.
    assert.equal((await page.evaluate(() => window.kavrix.state())).bells, 0);
    await command(page, "printf 'ring\\a\\n'");
    await page.waitForFunction(() => window.kavrix.state().bells === 1);
    assert.equal(await page.locator('#viewport').evaluate((el) => el.classList.contains('kvx-bell')), true);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'bell.png') });
    await other.waitForFunction(() => window.kavrix.state().bells === 1);
    await command(page, "printf '\\a\\a\\a\\a\\a'; echo rung");
    await waitText(page, /^rung$/);
    await page.waitForFunction(() => window.kavrix.state().bells === 2);
    await page.waitForTimeout(300);  // a second flash would have come by now
    assert.equal((await page.evaluate(() => window.kavrix.state())).bells, 2);

    // A new connect: the previous host's title is gone.
    await page.locator('#connect-toggle').click();
    await page.locator('#emulate').selectOption(String(EM.VT220));
    await page.locator('#connect-submit').click();
    await page.waitForFunction(() => document.title === 'Local shell');
    await other.waitForFunction(() => document.title === 'Local shell');
    assert.equal(await page.locator('#host-title').isVisible(), false);
    await other.close();
  });
} finally {
  await kavrix.stop();
}
