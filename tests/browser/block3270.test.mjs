// IBM 3270 in the page: a host written here plays the recorded TSO log-on
// (tests/fixtures/3270/tn3270-login.trc); the page, opened with a bookmark's
// address for model 2 and then model 4, shows the log-on prompt; the test
// clicks the user id field, types the user id through the page's keyboard
// and presses Enter; the record the host receives is the recorded one, and
// the next screen (TSO/E LOGON) appears with no stale rows.  A screenshot
// of each model goes to the test output.  Then one page goes from a local
// shell to the 3270 host and back.
import assert from 'node:assert/strict';
import path from 'node:path';
import { traceRecords } from './block-trace.mjs';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, SOURCE_DIR, TELNET, runTest, startKavrix, startTelnetHost, waitText } from './lib.mjs';

const { DO, WILL, TTYPE, EOR_OPTION, BINARY, SEND, IS } = TELNET;

// A TN3270 host on 127.0.0.1 that plays `host` records: negotiates the
// terminal type, then end of record and binary both ways, each step once
// the terminal has answered the last; plays the first two records once it
// has agreed to all, and the rest when the test says.
async function startHost(records) {
  const state = { received: [], peer: null };
  const host = await startTelnetHost((peer) => {
    state.peer = peer;
    let playing = false;
    peer.onRecord = (rec) => state.received.push(rec);
    peer.onVerb = (verb, option) => {
      if (verb === WILL && option === TTYPE) peer.sub(TTYPE, [SEND]);
      if (!playing && peer.agreed(EOR_OPTION) && peer.agreed(BINARY)) {
        playing = true;
        peer.record(records[0]);
        peer.record(records[1]);
      }
    };
    peer.onSub = (option, bytes) => {
      if (option !== TTYPE || bytes[0] !== IS) return;
      for (const option of [EOR_OPTION, BINARY]) {
        peer.ask(DO, option);
        peer.ask(WILL, option);
      }
    };
    peer.ask(DO, TTYPE);
  });
  return {
    port: host.port,
    state,
    rest: () => { for (const r of records.slice(2, 5)) state.peer.record(r); },
    close: host.close,
  };
}

// Clicks the cell at (row, col) of the screen.
async function clickCell(page, row, col) {
  const box = await page.locator('.kvx-grid').boundingBox();
  const size = await page.evaluate(() => window.kavrix.status());
  await page.mouse.click(box.x + ((col + 0.5) * box.width) / size.cols, box.y + ((row + 0.5) * box.height) / size.rows);
}

const trace = traceRecords(path.join(SOURCE_DIR, 'tests/fixtures/3270/tn3270-login.trc'));
const recorded = trace.terminal[0].toString('hex');
const kavrix = await startKavrix();

try {
  for (const [emulate, model, alternate] of [[EM.IBM3270_MODEL2, 2, 24], [EM.IBM3270_MODEL4, 4, 43]]) {
    await runTest(`block3270-model${model}`, async (page) => {
      await page.setViewportSize({ width: 1100, height: 900 });
      const host = await startHost(trace.host);
      try {
        await page.goto(`http://127.0.0.1:${kavrix.port}/?commtype=0&node=127.0.0.1&port=${host.port}&emulate=${emulate}`);
        await waitText(page, /ENTER USERID -/, 20000);
        const status = await page.evaluate(() => window.kavrix.status());
        assert.equal(status.model, model === 2 ? 'IBM-3278-2-E' : 'IBM-3278-4-E');
        assert.equal(status.rows, 24);  // the log-on screen is written with Erase/Write
        assert.equal((await page.evaluate(() => window.kavrix.text())).split('\n').length, 24,
          `no rows of the ${alternate}-row screen left`);
        await page.waitForFunction(() => window.kavrix.status()?.keyboard === '');
        await clickCell(page, 0, 26);
        await page.waitForFunction(() => window.kavrix.cursor().x === 26);
        await page.keyboard.type('testusr');
        await page.keyboard.press('Enter');
        const end = Date.now() + 15000;
        while (host.state.received.length === 0 && Date.now() < end) await new Promise((r) => setTimeout(r, 50));
        assert.equal(host.state.received[0]?.toString('hex'), recorded, 'the Enter record as recorded');
        host.rest();
        await waitText(page, /TSO\/E LOGON/, 20000);
        await waitText(page, /Userid +===> TESTUSR/, 20000);
        await page.screenshot({ path: path.join(OUTPUT_DIR, `block3270-model${model}.png`) });
      } finally {
        host.close();
      }
    });
  }

  // One page from a local shell to a 3270 host and back through the connect
  // panel: the screen and keyboard change with the host (one typing area, a
  // look back at the shell's scrollback ends), a one-line paste goes into
  // the 3270 field without a question, and the shell types again after.
  await runTest('block3270-switch', async (page) => {
    await page.setViewportSize({ width: 1100, height: 900 });
    const base = `http://127.0.0.1:${kavrix.port}`;
    await page.context().grantPermissions(['clipboard-read', 'clipboard-write'], { origin: base });
    const host = await startHost(trace.host);
    const areas = () => page.locator('#terminal textarea').count();
    try {
      await page.goto(`${base}/?rows=24&cols=80`);
      await page.waitForFunction(() => window.kavrix.state().hostConnected, null, { timeout: 30000 });
      await page.locator('#terminal').click();
      await page.keyboard.type('seq 1 100');
      await page.keyboard.press('Enter');
      await waitText(page, /^100$/, 20000);
      await page.waitForFunction(() => window.kavrix.state().kept > 0);
      await page.keyboard.press('Shift+PageUp');
      await page.waitForFunction(() => window.kavrix.state().back > 0);

      await page.locator('#connect-toggle').click();
      await page.locator('#protocol').selectOption('0');
      await page.locator('#node').fill('127.0.0.1');
      await page.locator('#port').fill(String(host.port));
      await page.locator('#emulate').selectOption(String(EM.IBM3270_MODEL2));
      await page.locator('#connect-submit').click();
      await waitText(page, /ENTER USERID -/, 20000);
      assert.equal((await page.evaluate(() => window.kavrix.state())).back, 0);
      assert.equal(await page.locator('#live').isVisible(), false);
      assert.equal(await areas(), 1);
      await page.waitForFunction(() => window.kavrix.status()?.keyboard === '');
      await clickCell(page, 0, 26);
      await page.waitForFunction(() => window.kavrix.cursor().x === 26);
      assert.equal(await areas(), 1);
      await page.evaluate(() => navigator.clipboard.writeText('testusr'));
      await page.keyboard.press('Control+Shift+V');
      await page.waitForFunction(() => window.kavrix.state().pastes === 1);
      assert.equal((await page.evaluate(() => window.kavrix.state())).dialog, false);
      await page.keyboard.press('Enter');
      const end = Date.now() + 15000;
      while (host.state.received.length === 0 && Date.now() < end) await new Promise((r) => setTimeout(r, 50));
      assert.equal(host.state.received[0]?.toString('hex'), recorded, 'the pasted user id as typed');

      await page.locator('#connect-toggle').click();
      await page.locator('#protocol').selectOption('7');
      await page.locator('#emulate').selectOption(String(EM.XTERM));
      await page.locator('#connect-submit').click();
      // Connected to the new host: until the session answers, the 3270 host still counts.
      await page.waitForFunction(() => window.kavrix.state().hostConnected && !window.kavrix.state().hostConnecting &&
        !window.kavrix.status(), null, { timeout: 30000 });
      assert.equal(await areas(), 1);
      assert.equal(await page.locator('#terminal.kvx-block').count(), 0);
      await page.locator('#terminal').click();
      await page.keyboard.type('echo switched-$((6*7))');
      await page.keyboard.press('Enter');
      await waitText(page, /^switched-42$/, 20000);
      assert.equal(await areas(), 1);
    } finally {
      host.close();
    }
  });
} finally {
  await kavrix.stop();
}
