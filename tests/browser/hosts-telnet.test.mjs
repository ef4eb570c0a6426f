// Telnet hosts in the browser: the page, opened with a bookmark's address,
// logs into a real inetutils telnetd (behind socat) as a throwaway user and
// runs a command; the connect panel then takes the same session to the host
// through stunnel (telnet over TLS) and logs in again.  A refused connection
// and a server certificate that fails verification show their message,
// naming the host and port, in the page's error dialog and then in the
// page, and the session connects again afterwards.
import assert from 'node:assert/strict';
import path from 'node:path';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, runTest, startKavrix, waitText } from './lib.mjs';
import * as rig from './hosts-rig.mjs';

const why = rig.missing('/usr/sbin/telnetd', 'socat', 'stunnel4', 'openssl');
if (why) {
  console.log(`SKIP hosts-telnet: ${why}`);
  process.exit(0);
}

async function typeLine(page, line) {
  await page.evaluate(() => window.kavrix.focus());
  await page.keyboard.type(line);
  await page.keyboard.press('Enter');
}

// login(1) and the shell of the throwaway user, then a command.
async function loginAndRun(page, account) {
  await waitText(page, /login: *$/);
  await typeLine(page, account.user);
  await waitText(page, /Password: *$/);
  await typeLine(page, account.password);
  await waitText(page, /^\$ *$/);  // typed-ahead input would be flushed by login
  await typeLine(page, 'echo telnet-$((6*7))');
  await waitText(page, /^telnet-42 *$/);
}

async function connectWithPanel(page, { protocol, node, port, verify = false }) {
  await page.click('#connect-toggle');
  await page.selectOption('#protocol', String(protocol));
  await page.fill('#node', node);
  await page.fill('#port', String(port));
  if (verify) await page.check('#verify');
  await page.click('#connect-submit');
  assert.equal(await page.isVisible('#connect-panel'), false);
}

// The error dialog with `message`, acknowledged; the page keeps the message
// and offers to connect again.
async function expectError(page, message, shot) {
  const dialog = page.locator('dialog.kvx-dialog-fatal');
  await dialog.waitFor({ timeout: 30000 });
  assert.equal(await dialog.locator('.kvx-dialog-message').textContent(), message);
  await page.screenshot({ path: path.join(OUTPUT_DIR, shot) });
  await dialog.locator('button[data-answer="1"]').click();
  await page.waitForFunction(() => document.getElementById('state').dataset.state === 'disconnected');
  assert.equal(await page.locator('#message').textContent(), message);
  assert.equal(await page.isVisible('#reconnect'), true);
}

const kavrix = await startKavrix();
try {
  const account = rig.makeUser('kvxbt');
  const telnetPort = await rig.startTelnetd();
  const certificate = rig.makeCertificate();
  const tlsPort = await rig.startStunnel(telnetPort, certificate);

  await runTest('hosts-telnet', async (page) => {
    await page.setViewportSize({ width: 1000, height: 700 });
    const base = `http://127.0.0.1:${kavrix.port}/`;
    await page.goto(`${base}?commtype=0&node=127.0.0.1&port=${telnetPort}&emulate=${EM.XTERM}&rows=24&cols=80`);
    await loginAndRun(page, account);
    assert.equal(await page.locator('#state').getAttribute('data-state'), 'connected');
    assert.equal(await page.locator('#title').textContent(), `Telnet 127.0.0.1:${telnetPort}, 80 x 24`);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'hosts-telnet.png') });
    const session = (await page.evaluate(() => window.kavrix.state())).session.id;

    // The panel takes the session to the same host over TLS; the address
    // becomes the bookmark of the new host.
    await connectWithPanel(page, { protocol: 8, node: 'localhost', port: tlsPort });
    await page.waitForFunction(() => !window.kavrix.text().includes('telnet-42'));
    await loginAndRun(page, account);
    const params = new URL(page.url()).searchParams;
    assert.equal(params.get('commtype'), '8');
    assert.equal(params.get('port'), String(tlsPort));
    assert.equal((await page.evaluate(() => window.kavrix.state())).session.id, session);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'hosts-telnet-tls.png') });

    // A refused connection.
    const closedPort = await rig.freePort();
    await connectWithPanel(page, { protocol: 0, node: '127.0.0.1', port: closedPort });
    await expectError(page, `Connection to 127.0.0.1 port ${closedPort} failed`, 'hosts-telnet-refused.png');

    // A certificate that does not verify (self-signed, no CA configured).
    await connectWithPanel(page, { protocol: 8, node: '127.0.0.1', port: tlsPort, verify: true });
    await expectError(page, `Connection to 127.0.0.1 port ${tlsPort}: SSL: Certificate verification failed ` +
      '(self-signed certificate)', 'hosts-telnet-verify.png');

    // The session still connects.
    await connectWithPanel(page, { protocol: 0, node: '127.0.0.1', port: telnetPort });
    await page.waitForFunction(() => window.kavrix.state().hostConnected, null, { timeout: 30000 });
    await loginAndRun(page, account);
    assert.equal(await page.isVisible('#message'), false);
  });
} finally {
  await kavrix.stop();
  await rig.cleanup();
}
