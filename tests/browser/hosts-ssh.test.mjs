// SSH in the browser against OpenSSH's sshd on 127.0.0.1 with a throwaway
// user: a bookmark's address without a password makes the session ask, in
// the page's dialogs, whether to trust the unknown host key (with its
// SHA-256 fingerprint) and for the password; the login then runs a command.
// The connect panel with a typed password logs in again without a question,
// and the password is not readable back from the session's settings.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { OUTPUT_DIR, runTest, startKavrix, waitText } from './lib.mjs';
import * as rig from './hosts-rig.mjs';

const why = rig.missing('/usr/sbin/sshd', 'ssh-keygen');
if (why) {
  console.log(`SKIP hosts-ssh: ${why}`);
  process.exit(0);
}

async function typeLine(page, line) {
  await page.evaluate(() => window.kavrix.focus());
  await page.keyboard.type(line);
  await page.keyboard.press('Enter');
}

const kavrix = await startKavrix();
try {
  const account = rig.makeUser('kvxbs');
  const sshd = await rig.startSshd();

  await runTest('hosts-ssh', async (page) => {
    await page.setViewportSize({ width: 1000, height: 700 });
    await page.goto(`http://127.0.0.1:${kavrix.port}/?commtype=5&node=127.0.0.1&sshport=${sshd.port}` +
      `&user=${account.user}&rows=24&cols=80`);

    // The unknown host key, in a yes/no dialog.
    const question = page.locator('dialog.kvx-dialog-yesno');
    await question.waitFor({ timeout: 30000 });
    // While the session asks, the page says that it is connecting.
    assert.equal(await page.locator('#state').textContent(), 'Connecting to host');
    assert.equal(await page.isVisible('#reconnect'), false);
    assert.equal(await question.locator('h2').textContent(), 'Question');
    const asked = await question.locator('.kvx-dialog-message').textContent();
    assert.match(asked, /The server is unknown\. Do you trust the host key/);
    assert.ok(asked.includes(sshd.fingerprint), `${asked} lacks ${sshd.fingerprint}`);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'hosts-ssh-hostkey.png') });
    await question.locator('button[data-answer="1"]').click();

    // The password, typed into the entry dialog.
    const entry = page.locator('dialog.kvx-dialog-entry');
    await entry.waitFor({ timeout: 30000 });
    assert.equal(await entry.locator('h2').textContent(), 'Password entry');
    const input = entry.locator('input.kvx-dialog-input');
    assert.equal(await input.getAttribute('type'), 'password');
    await input.fill(account.password);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'hosts-ssh-password.png') });
    await input.press('Enter');

    await page.waitForFunction(() => window.kavrix.state().hostConnected, null, { timeout: 30000 });
    await waitText(page, /\$ *$/);
    await typeLine(page, 'echo ssh-$((6*7))');
    await waitText(page, /^ssh-42 *$/);
    assert.equal(await page.locator('#title').textContent(),
      `SSH ${account.user}@127.0.0.1:${sshd.port}, 80 x 24`);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'hosts-ssh.png') });
    assert.ok(fs.readFileSync(path.join(kavrix.dir, '.ssh/known_hosts'), 'utf8').includes(sshd.hostKey.split(' ')[1]));

    // The panel with the password typed in: no question this time.
    await page.click('#connect-toggle');
    assert.equal(await page.inputValue('#user'), account.user);
    assert.equal(await page.inputValue('#port'), String(sshd.port));
    // Typed as a person types it, while the shell's screen stays live behind.
    await page.click('#password');
    await page.keyboard.type(account.password);
    assert.equal(await page.inputValue('#password'), account.password);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'hosts-ssh-panel.png') });
    await page.keyboard.press('Enter');
    assert.equal(await page.inputValue('#password'), '', 'the panel forgets the password once sent');
    await page.waitForFunction(() => !window.kavrix.text().includes('ssh-42'), null, { timeout: 30000 });
    await page.waitForFunction(() => window.kavrix.state().hostConnected, null, { timeout: 30000 });
    await waitText(page, /\$ *$/);
    await typeLine(page, 'echo again-$((7*8))');
    await waitText(page, /^again-56 *$/);

    // The recent hosts keep the choice, and the page keeps no password anywhere.
    const recent = JSON.parse(await page.evaluate(() => localStorage.getItem('kavrix.recent')));
    assert.deepEqual([recent[0].commtype, recent[0].node, recent[0].port, recent[0].user],
      [5, '127.0.0.1', sshd.port, account.user]);
    const stored = await page.evaluate(() => JSON.stringify({ ...localStorage }) + JSON.stringify({ ...sessionStorage }));
    assert.ok(!stored.includes(account.password));
    assert.equal(await page.locator('dialog').count(), 0);
    assert.equal(new URL(page.url()).searchParams.has('password'), false);

    // What the session's settings give back holds no password.
    const values = await page.evaluate(async () => {
      const { id } = window.kavrix.state().session;
      const r = await fetch(`/get_config_values?session=${id}`, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify(['password', 'passwordHash']),
      });
      return (await r.json()).content;
    });
    assert.equal(values.password, '');
    assert.match(values.passwordHash, /^key_/);
  });
} finally {
  await kavrix.stop();
  await rig.cleanup();
}
