// Automatic log-in in the browser: the connect panel takes the steps for a
// telnet host (wait for "login:", send the user, wait for "Password:", send
// the password), the page asks for the password when it connects, and the
// session logs in on a small log-in host written here, which notes anything
// that comes before its prompt.  A new session on the same host finds the
// steps stored and logs in again; the password is stored nowhere.
import assert from 'node:assert/strict';
import path from 'node:path';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, TELNET, runTest, startKavrix, startTelnetHost, waitText } from './lib.mjs';

const PASSWORD = 'Tab-secret-42';
const { DO, WILL, WONT, TTYPE, SEND, IS } = TELNET;

// Each connection: a welcome, the terminal type asked for as telnetd does,
// then (once the terminal has answered) "login: ", a line, "Password: ", a
// line, and a prompt.
async function startLoginHost() {
  const logins = [];
  const host = await startTelnetHost((peer) => {
    const log = { early: '', user: null, password: null };
    logins.push(log);
    let stage = 'welcome';
    let line = '';
    const login = () => {
      if (stage !== 'welcome') return;
      stage = 'user';
      peer.send('login: ');
    };
    peer.onVerb = (verb, option) => {
      if (option !== TTYPE) return;
      if (verb === WILL) peer.sub(TTYPE, [SEND]);
      if (verb === WONT) login();
    };
    peer.onSub = (option, bytes) => {
      if (option === TTYPE && bytes[0] === IS) login();
    };
    peer.onData = (bytes) => {
      const text = bytes.toString('latin1');
      if (stage === 'welcome') { log.early += text; return; }
      line += text;
      const end = line.indexOf('\r');
      if (end < 0) return;
      const got = line.slice(0, end);
      line = line.slice(end + 1).replace(/^\n|^\0/, '');
      if (stage === 'user') {
        log.user = got;
        stage = 'password';
        peer.send('\r\nPassword: ');
      } else if (stage === 'password') {
        log.password = got;
        stage = 'shell';
        peer.send(`\r\nLogged in as ${log.user}\r\n$ `);
      }
    };
    peer.send('Welcome to the test host\r\n');
    peer.ask(DO, TTYPE);
  });
  return { port: host.port, logins, close: host.close };
}

async function answerPassword(page) {
  const dialog = page.locator('dialog.kvx-dialog-entry');
  await dialog.waitFor({ timeout: 30000 });
  assert.equal(await dialog.locator('.kvx-dialog-save').count(), 0, 'nothing offers to save the password');
  await dialog.locator('input.kvx-dialog-input').fill(PASSWORD);
  await dialog.locator('button[data-answer="1"]').click();
}

const kavrix = await startKavrix();
const host = await startLoginHost();
try {
  await runTest('autologin', async (page) => {
    await page.setViewportSize({ width: 1000, height: 700 });
    const address = `http://127.0.0.1:${kavrix.port}/?commtype=0&node=127.0.0.1&port=${host.port}&emulate=${EM.XTERM}&rows=24&cols=80`;
    await page.goto(address);
    await waitText(page, /login: *$/);  // no log-in yet

    // The steps, written in the panel.
    await page.click('#connect-toggle');
    const steps = [['wait', 'login:'], ['send', 'tester'], ['wait', 'Password:'], ['password', '']];
    for (const [kind, text] of steps) {
      await page.click('#autologin-add');
      const row = page.locator('.kvx-login-steps li').last();
      await row.locator('.kvx-login-kind').selectOption(kind);
      if (text) await row.locator('.kvx-login-text').fill(text);
    }
    assert.equal(await page.isChecked('#autologin-enabled'), true);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'autologin-panel.png') });
    await page.click('#connect-submit');
    await answerPassword(page);
    await waitText(page, /^Logged in as tester *$/);
    const login = host.logins.at(-1);
    assert.deepEqual(login, { early: '', user: 'tester', password: PASSWORD });
    // Every host byte is on the screen.
    const screen = await page.evaluate(() => window.kavrix.text());
    assert.match(screen, /^Welcome to the test host *$/m);
    assert.match(screen, /^login: *$/m);
    assert.match(screen, /^Password: *$/m);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'autologin.png') });

    // Cursor steps: rows from the top, or from the bottom on a 5250 screen.
    const cursors = await page.evaluate(async () => {
      const { macroForSteps } = await import('./kvx-autologin.js');
      const steps = [{ kind: 'cursor', row: 6, col: 54 }, { kind: 'cursor', row: 24, col: 1 }];
      return [macroForSteps(steps), macroForSteps(steps, { rowsFromBottom: 24 })];
    });
    assert.deepEqual(cursors, ['E 1\nc 53 5\nc 0 23\n', 'E 1\nc 53 18\nc 0 0\n']);

    // Stored with the host, without the password.
    const stored = await page.evaluate(() => localStorage.getItem('kavrix.autologin'));
    assert.ok(stored.includes('tester') && !stored.includes(PASSWORD), stored);

    // A new session on the same host (the tab forgets its session): the
    // steps are there, the password is asked for again.
    const before = host.logins.length;
    await page.evaluate(() => sessionStorage.clear());
    await page.goto(address);
    await answerPassword(page);
    await waitText(page, /^Logged in as tester *$/);
    assert.ok(host.logins.length > before);
    assert.deepEqual(host.logins.at(-1), { early: '', user: 'tester', password: PASSWORD });
    await page.click('#connect-toggle');
    assert.equal(await page.locator('.kvx-login-steps li').count(), 4);
    assert.equal(await page.locator('.kvx-login-steps li .kvx-login-text').first().inputValue(), 'login:');
  });
} finally {
  host.close();
  await kavrix.stop();
}
