// Shared sessions in the page against a real shell: a second tab of the same
// browser lists the device's sessions and attaches to the first tab's, a
// page in another browser opens the first tab's link; all show the same
// screen and what each types reaches the others; a link to a session that
// is not there says so.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, runTest, startKavrix, waitText } from './lib.mjs';

const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'), "PS1='kvx$ '\nunset PROMPT_COMMAND\n"),
});

const base = `http://127.0.0.1:${kavrix.port}`;
const command = async (page, text) => {
  await page.locator('#terminal').click();
  await page.keyboard.type(text);
  await page.keyboard.press('Enter');
};
const sessionId = (page) => page.evaluate(() => window.kavrix.state().session.id);

try {
  await runTest('shared', async (other) => {
    const device = await other.context().browser().newContext();
    const first = await device.newPage();
    await first.setViewportSize({ width: 1000, height: 700 });
    await first.goto(`${base}/?commtype=7&emulate=${EM.VT220}&rows=24&cols=80`);
    await waitText(first, /^kvx\$/);
    const id = await sessionId(first);

    // A second tab of the same browser starts a session of its own, then
    // finds the first one in the list and attaches to it.
    const second = await device.newPage();
    await second.setViewportSize({ width: 1000, height: 700 });
    await second.goto(`${base}/?rows=24&cols=80`);
    await waitText(second, /^kvx\$/);
    assert.notEqual(await sessionId(second), id);
    await second.locator('#sessions-toggle').click();
    const entry = second.locator(`#sessions-list button[data-session="${id}"]`);
    await entry.waitFor();
    assert.equal(await second.locator('#sessions-list li').count(), 2);
    assert.match(await second.locator('#sessions-list li.current').textContent(), /this tab/);
    await second.screenshot({ path: path.join(OUTPUT_DIR, 'shared-sessions.png') });
    await entry.click();
    await second.waitForFunction((want) => window.kavrix.state().session?.id === want &&
      window.kavrix.state().hostConnected, id);

    // Another browser opens the first tab's link, which Share copies.
    await device.grantPermissions(['clipboard-read', 'clipboard-write'], { origin: base });
    await first.locator('#share').click();
    await first.waitForFunction(() => navigator.clipboard.readText().then((t) => t.includes('session=')));
    const link = await first.evaluate(() => navigator.clipboard.readText());
    assert.equal(link, await first.evaluate(() => window.kavrix.link()));
    assert.ok(link.includes(`session=${id}`), link);
    await other.setViewportSize({ width: 1000, height: 700 });
    await other.goto(link);
    await waitText(other, /^kvx\$/);
    assert.equal(await sessionId(other), id);
    assert.equal((await other.evaluate(() => window.kavrix.state())).joined, true);

    // Whoever types, everyone sees it.
    await command(first, 'echo from-first-$((1+1))');
    for (const p of [first, second, other]) await waitText(p, /^from-first-2$/);
    await command(other, 'echo from-other-$((2+2))');
    for (const p of [first, second, other]) await waitText(p, /^from-other-4$/);
    await command(second, 'echo from-second-$((3+3))');
    for (const p of [first, second, other]) await waitText(p, /^from-second-6$/);
    const screen = await first.evaluate(() => window.kavrix.text());
    assert.equal(await other.evaluate(() => window.kavrix.text()), screen);
    assert.equal(await second.evaluate(() => window.kavrix.text()), screen);
    await other.screenshot({ path: path.join(OUTPUT_DIR, 'shared-by-link.png') });

    // The tab that joined from the list takes the session up again after a
    // reload, as it is (its own address names another host: no matter).
    await second.reload();
    await second.waitForFunction((want) => window.kavrix.state().session?.id === want &&
      /^from-second-6$/m.test(window.kavrix.text()), id, { timeout: 30000 });
    assert.equal(await first.evaluate(() => window.kavrix.text()), screen);
    assert.equal((await second.evaluate(() => window.kavrix.choice())).emulate, EM.VT220);

    // A link to no session.
    const stray = await device.newPage();
    await stray.goto(`${base}/?session=0123456789abcdef0123456789abcdef01234567&kvxport=${kavrix.port}`);
    await stray.waitForFunction(() => document.getElementById('state').dataset.state === 'ended');
    assert.equal(await stray.locator('#message').textContent(), 'That session has ended.');
    assert.equal(await stray.locator('#restart').isVisible(), true);
    await device.close();
  });
} finally {
  await kavrix.stop();
}
