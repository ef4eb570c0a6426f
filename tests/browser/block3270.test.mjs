// IBM 3270 in the page: a host written here plays the recorded TSO log-on
// (tests/fixtures/3270/tn3270-login.trc); the page, opened with a bookmark's
// address for model 2 and then model 4, shows the log-on prompt; the test
// clicks the user id field, types the user id through the page's keyboard
// and presses Enter; the record the host receives is the recorded one, and
// the next screen (TSO/E LOGON) appears with no stale rows.  A screenshot
// of each model goes to the test output.  Then one page goes from a local
// shell to the 3270 host and back.
import assert from 'node:assert/strict';
import net from 'node:net';
import path from 'node:path';
import { frame, traceRecords } from './block-trace.mjs';
import { OUTPUT_DIR, SOURCE_DIR, runTest, startKavrix } from './lib.mjs';

// A TN3270 host on 127.0.0.1 that plays `host` records: the first two, then
// (after the terminal's first record) the rest.
function startHost(records) {
  const state = { received: [], inbound: Buffer.alloc(0), socket: null };
  const server = net.createServer((socket) => {
    state.socket = socket;
    socket.on('data', (d) => {
      state.inbound = Buffer.concat([state.inbound, d]);
      // Records of the terminal: bytes up to IAC EOR after the negotiation.
      let text = state.inbound;
      let start = text.lastIndexOf(Buffer.from([0xff, 0xfd, 0x00])) + 3;
      if (start < 3) return;
      const recs = [];
      let cur = [];
      for (let i = start; i < text.length; i++) {
        if (text[i] === 0xff && text[i + 1] === 0xef) { recs.push(Buffer.from(cur)); cur = []; i++; }
        else if (text[i] === 0xff && text[i + 1] === 0xff) { cur.push(0xff); i++; }
        else if (text[i] === 0xff && text[i + 1] >= 0xfb && text[i + 1] <= 0xfe) i += 2;
        else cur.push(text[i]);
      }
      state.received = recs;
    });
    socket.on('error', () => {});
    // TN3270: terminal type, end of record and binary both ways.
    socket.write(Buffer.from([0xff, 0xfd, 0x18]));
    setTimeout(() => socket.write(Buffer.from([0xff, 0xfa, 0x18, 0x01, 0xff, 0xf0])), 100);
    setTimeout(() => socket.write(Buffer.from([0xff, 0xfd, 0x19, 0xff, 0xfb, 0x19, 0xff, 0xfd, 0x00, 0xff, 0xfb, 0x00])), 200);
    setTimeout(() => { socket.write(frame(records[0])); socket.write(frame(records[1])); }, 500);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({
    port: server.address().port,
    state,
    rest: () => { for (const r of records.slice(2, 5)) state.socket.write(frame(r)); },
    close: () => { state.socket?.destroy(); server.close(); },
  })));
}

async function waitText(page, pattern, timeout = 20000) {
  await page.waitForFunction((source) => new RegExp(source, 'm').test(window.kavrix.text()), pattern.source,
    { timeout }).catch(async (err) => {
    throw new Error(`${err.message}\nwaiting for ${pattern} on:\n${await page.evaluate(() => window.kavrix.text())}`);
  });
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
  for (const [emulate, model, alternate] of [[24, 2, 24], [26, 4, 43]]) {
    await runTest(`block3270-model${model}`, async (page) => {
      await page.setViewportSize({ width: 1100, height: 900 });
      const host = await startHost(trace.host);
      try {
        await page.goto(`http://127.0.0.1:${kavrix.port}/?commtype=0&node=127.0.0.1&port=${host.port}&emulate=${emulate}`);
        await waitText(page, /ENTER USERID -/);
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
        await waitText(page, /TSO\/E LOGON/);
        await waitText(page, /Userid +===> TESTUSR/);
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
      await waitText(page, /^100$/);
      await page.waitForFunction(() => window.kavrix.state().kept > 0);
      await page.keyboard.press('Shift+PageUp');
      await page.waitForFunction(() => window.kavrix.state().back > 0);

      await page.locator('#connect-toggle').click();
      await page.locator('#protocol').selectOption('0');
      await page.locator('#node').fill('127.0.0.1');
      await page.locator('#port').fill(String(host.port));
      await page.locator('#emulate').selectOption('24');
      await page.locator('#connect-submit').click();
      await waitText(page, /ENTER USERID -/);
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
      await page.locator('#emulate').selectOption('30');
      await page.locator('#connect-submit').click();
      // Connected to the new host: until the session answers, the 3270 host still counts.
      await page.waitForFunction(() => window.kavrix.state().hostConnected && !window.kavrix.state().hostConnecting &&
        !window.kavrix.status(), null, { timeout: 30000 });
      assert.equal(await areas(), 1);
      assert.equal(await page.locator('#terminal.kvx-block').count(), 0);
      await page.locator('#terminal').click();
      await page.keyboard.type('echo switched-$((6*7))');
      await page.keyboard.press('Enter');
      await waitText(page, /^switched-42$/);
      assert.equal(await areas(), 1);
    } finally {
      host.close();
    }
  });
} finally {
  await kavrix.stop();
}
