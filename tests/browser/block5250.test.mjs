// IBM 5250 in the page: a host written here plays the recorded IBM i sign-on
// (tests/fixtures/5250/blazemeter-tn5250-login.trc).  The page, opened with
// a bookmark's address for a 5250 station, announces the page's default
// model and shows the Sign On screen as the reference has it; a key typed
// on a protected position shows input inhibited with the operator error
// code in the status line until Reset (Escape, or the key bar's Reset); the
// operator signs on with the page's keyboard (user, Tab, password, Enter)
// and the record the host receives is the recorded one; the station answers
// the host's query by itself; the Main Menu appears as the reference has it
// with the cursor where the host put it; option 1 and Enter go out as
// recorded.  The connect panel offers the 5250 models and connects with the
// one chosen.  The page's automatic log-in signs on by itself.  A screenshot
// goes to the test output.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { traceRecords } from './block-trace.mjs';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, SOURCE_DIR, TELNET, runTest, startKavrix, startTelnetHost, waitText } from './lib.mjs';

const FIXTURES = path.join(SOURCE_DIR, 'tests/fixtures/5250');
const { DO, WILL, TTYPE, NEW_ENVIRON, EOR_OPTION, BINARY, SEND, IS } = TELNET;

// A TN5250 host on 127.0.0.1: negotiates as the recorded host did (NEW-
// ENVIRON, terminal type, then end of record and binary both ways), each
// step as the station answers the last; then plays `trace`: host records in
// their recorded order, each run of them once the terminal has sent as
// many records as the recording had by then.  Without a trace it only
// negotiates.
async function startHost(trace = null) {
  const state = { terminalType: null, received: [], peer: null };
  let sent = 0;  // records of the sequence played
  const play = () => {
    if (!trace) return;
    let hostIndex = trace.sequence.slice(0, sent).filter((s) => s === '<').length;
    while (sent < trace.sequence.length) {
      if (trace.sequence[sent] === '<') {
        state.peer.record(trace.host[hostIndex++]);
      } else if (trace.sequence.slice(0, sent + 1).filter((s) => s === '>').length > state.received.length) {
        return;
      }
      sent++;
    }
  };
  const host = await startTelnetHost((peer) => {
    state.peer = peer;
    let playing = false;
    peer.onRecord = (rec) => {
      state.received.push(rec);
      play();
    };
    peer.onVerb = (verb, option) => {
      // NEW-ENVIRON: SEND VAR, USERVAR.
      if (verb === WILL && option === NEW_ENVIRON) peer.sub(NEW_ENVIRON, [SEND, 0x00, 0x03]);
      if (verb === WILL && option === TTYPE) peer.sub(TTYPE, [SEND]);
      // Records begin once the station agreed to binary both ways.
      if (!playing && peer.agreed(BINARY)) {
        playing = true;
        play();
      }
    };
    peer.onSub = (option, bytes) => {
      if (option !== TTYPE || bytes[0] !== IS || state.terminalType !== null) return;
      state.terminalType = bytes.subarray(1).toString('latin1');
      for (const option of [EOR_OPTION, BINARY]) {
        peer.ask(DO, option);
        peer.ask(WILL, option);
      }
    };
    peer.ask(DO, NEW_ENVIRON);
    peer.ask(DO, TTYPE);
  });
  return { port: host.port, state, close: host.close };
}

async function until(what, test, timeout = 15000) {
  const end = Date.now() + timeout;
  while (!test()) {
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

// The screen's first 24 rows equal a reference file (trailing blanks aside).
async function waitScreen(page, file) {
  const want = fs.readFileSync(path.join(FIXTURES, file), 'latin1').split('\n').slice(0, 24)
    .map((row) => row.replace(/\s+$/, ''));
  const rows = () => page.evaluate(() => window.kavrix.text().split('\n').slice(0, 24)
    .map((row) => row.replace(/[\x00-\x1f]/g, ' ').replace(/\s+$/, '')));
  await page.waitForFunction((expected) => {
    const got = window.kavrix.text().split('\n').slice(0, 24)
      .map((row) => row.replace(/[\x00-\x1f]/g, ' ').replace(/\s+$/, ''));
    return got.join('\n') === expected;
  }, want.join('\n'), { timeout: 15000 }).catch(async (err) => {
    throw new Error(`${err.message}\n${file} wanted, the page shows:\n${(await rows()).join('\n')}`);
  });
}

async function clickCell(page, row, col) {
  const box = await page.locator('.kvx-grid').boundingBox();
  const size = await page.evaluate(() => window.kavrix.status());
  await page.mouse.click(box.x + ((col + 0.5) * box.width) / size.cols, box.y + ((row + 0.5) * box.height) / size.rows);
}

const waitStatus = (page, test, arg) => page.waitForFunction(test, arg, { timeout: 10000 });

const trace = traceRecords(path.join(FIXTURES, 'blazemeter-tn5250-login.trc'));
// Records compared after the 10-byte header (whose sequence bytes belong to
// the recording).
const body = (rec) => rec.subarray(10).toString('hex');
const kavrix = await startKavrix();

try {
  await runTest('block5250-signon', async (page) => {
    await page.setViewportSize({ width: 1100, height: 900 });
    const host = await startHost(trace);
    try {
      await page.goto(`http://127.0.0.1:${kavrix.port}/?commtype=0&node=127.0.0.1&port=${host.port}&emulate=${EM.IBM5250}`);
      await waitScreen(page, 'blazemeter-tn5250-login.expected-signon-screen.txt');
      assert.equal(host.state.terminalType, 'IBM-3179-2', 'the page\'s default model');
      await waitStatus(page, () => {
        const s = window.kavrix.status();
        return s?.keyboard === '' && s.row === 5 && s.col === 52;
      });
      const status = await page.evaluate(() => window.kavrix.status());
      assert.equal(status.emulator, '5250');
      assert.equal(status.model, 'IBM-3179-2');
      assert.equal(status.link, 'TN5250');
      assert.deepEqual(await page.evaluate(() => window.kavrix.cursor()), { x: 52, y: 5, visible: true });

      // A key on a protected position: input inhibited, error 0005, until Reset.
      await clickCell(page, 0, 10);
      await page.waitForFunction(() => window.kavrix.cursor().x === 10 && window.kavrix.cursor().y === 0);
      await page.keyboard.type('x');
      await waitStatus(page, () => window.kavrix.status()?.keyboard === 'X II' && window.kavrix.status().error === '0005');
      assert.match(await page.locator('.kvx-oia').textContent(), /X II.*0005/);
      await page.keyboard.press('Escape');
      await waitStatus(page, () => window.kavrix.status()?.keyboard === '' && window.kavrix.status().error === '');
      // Again, ended by the key bar's Reset.
      await page.keyboard.type('y');
      await waitStatus(page, () => window.kavrix.status()?.error === '0005');
      await page.click('.kvx-keybar button[data-key="ERRORRESET"]');
      await waitStatus(page, () => window.kavrix.status()?.keyboard === '' && window.kavrix.status().error === '');

      // Sign on: the user field, Tab to the password, Enter.
      await clickCell(page, 5, 52);
      await page.waitForFunction(() => window.kavrix.cursor().x === 52 && window.kavrix.cursor().y === 5);
      await page.keyboard.type('TESTUSR');
      await page.keyboard.press('Tab');
      await page.keyboard.type('TESTPSW');
      await page.keyboard.press('Enter');
      await until('the sign-on record', () => host.state.received.length >= 1);
      assert.equal(body(host.state.received[0]), body(trace.terminal[0]), 'the sign-on record as recorded');
      // The query reply: the station's own, sent without the operator.
      await until('the query reply', () => host.state.received.length >= 2);
      assert.equal(body(host.state.received[1]).slice(4, 14), '88003ad970');

      await waitScreen(page, 'blazemeter-tn5250-login.expected-main-menu-screen.txt');
      await page.waitForFunction(() => window.kavrix.cursor().x === 6 && window.kavrix.cursor().y === 19);
      await waitStatus(page, () => window.kavrix.status()?.keyboard === '');
      await page.keyboard.type('1');
      await page.keyboard.press('Enter');
      await until('the menu record', () => host.state.received.length >= 3);
      assert.equal(body(host.state.received[2]), body(trace.terminal[2]), 'option 1 as recorded');
      await waitText(page, /User Tasks/, 15000);
      await page.screenshot({ path: path.join(OUTPUT_DIR, 'block5250-signon.png') });

      // The connect panel: the 5250 models, the one shown chosen; another
      // model connects with its own terminal type.
      const other = await startHost();
      try {
        await page.click('#connect-toggle');
        const options = await page.locator('#emulate option').evaluateAll((els) => els.map((o) => o.value));
        for (const value of [2, 1, 0].map((model) => `${EM.IBM5250}:${model}`)) assert.ok(options.includes(value), `option ${value}`);
        assert.equal(await page.locator('#emulate').inputValue(), `${EM.IBM5250}:2`);
        await page.fill('#port', String(other.port));
        await page.selectOption('#emulate', `${EM.IBM5250}:1`);
        await page.click('#connect-submit');
        await until('the 3477 station', () => other.state.terminalType !== null);
        assert.equal(other.state.terminalType, 'IBM-3477-FC');
        assert.match(page.url(), new RegExp(`emulate=${EM.IBM5250}&em5250idx=1`));
        await waitStatus(page, () => window.kavrix.status()?.model === 'IBM-3477-FC');
      } finally {
        other.close();
      }
    } finally {
      host.close();
    }
  });
  // The page's automatic log-in on a 5250 host: its cursor steps count rows
  // from the top as the person sees them; the macro signs on by itself and
  // the host receives the recorded record.
  await runTest('block5250-autologin', async (page) => {
    const host = await startHost(trace);
    try {
      const steps = [
        { kind: 'screen', text: 'Sign On', row: 1, col: 36 },
        { kind: 'cursor', row: 6, col: 53 },
        { kind: 'type', text: 'TESTUSR' },
        { kind: 'cursor', row: 7, col: 53 },
        { kind: 'type', text: 'TESTPSW' },
        { kind: 'key', text: 'Enter' },
      ];
      await page.addInitScript(([key, login]) => {
        localStorage.setItem('kavrix.autologin', JSON.stringify({ [key]: login }));
      }, [`0|127.0.0.1|${host.port}`, { enabled: true, steps }]);
      await page.goto(`http://127.0.0.1:${kavrix.port}/?commtype=0&node=127.0.0.1&port=${host.port}&emulate=${EM.IBM5250}`);
      await until('the sign-on record', () => host.state.received.length >= 1);
      assert.equal(body(host.state.received[0]), body(trace.terminal[0]), 'the macro\'s sign-on as recorded');
      await waitScreen(page, 'blazemeter-tn5250-login.expected-main-menu-screen.txt');
    } finally {
      host.close();
    }
  });
} finally {
  await kavrix.stop();
}
