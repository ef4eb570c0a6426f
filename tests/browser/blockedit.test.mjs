// Working on 3270 and 5250 screens at a desktop's 1280 x 800.  A 3270 host
// written here shows a form: its key bar has Enter and the PF keys (PF13-
// PF24 while Shift is held), each with a tooltip naming its keyboard key,
// and the key help lists the 3270 keyboard from the bar and from the
// header's menu; the empty input fields are underlined unless the setting
// says no; "PF3=Exit" and "Enter=Continue" press their keys when clicked
// unless the setting says no; a paste of three lines fills the two fields
// and drops the third with the bell; Alt+drag copies a block of columns;
// a button and a menu entry added by another part of the page work.
// On the recorded 5250 sign-on a pasted user and password sign on as
// recorded, and "F3=Exit" on the next screen presses F3.  The rules of the
// paste and of the hotspots are also checked on small screens in the page.
// Screenshots of each state go to the test output.
import assert from 'node:assert/strict';
import path from 'node:path';
import { AID, FIELD, ebcdic, screen3270, start3270Host, start5250Host, until } from './block-hosts.mjs';
import { traceRecords } from './block-trace.mjs';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, SOURCE_DIR, focusSettled, runTest, startKavrix, waitText } from './lib.mjs';

const kavrix = await startKavrix();
const base = `http://127.0.0.1:${kavrix.port}`;
const DESKTOP = { viewport: { width: 1280, height: 800 } };
const shot = (page, name) => page.screenshot({ path: path.join(OUTPUT_DIR, `${name}.png`) });

const FORM = screen3270({
  fields: [
    { row: 0, col: 1, attr: FIELD.PROTECTED, text: 'CUSTOMER FORM' },
    { row: 4, col: 10, attr: FIELD.PROTECTED, text: 'Name . . .' },
    { row: 4, col: 22, attr: FIELD.INPUT, text: '' },
    { row: 4, col: 40, attr: FIELD.PROTECTED, text: '' },
    { row: 5, col: 10, attr: FIELD.PROTECTED, text: 'City . . .' },
    { row: 5, col: 22, attr: FIELD.INPUT, text: '' },
    { row: 5, col: 40, attr: FIELD.PROTECTED, text: '' },
    { row: 22, col: 1, attr: FIELD.PROTECTED, text: 'Enter=Continue  PF3=Exit  F12=Cancel' },
  ],
  cursor: { row: 4, col: 22 },
});

async function cellPoint(page, row, col) {
  const box = await page.locator('.kvx-grid').boundingBox();
  const { rows, cols } = await page.evaluate(() => window.kavrix.status());
  return { x: box.x + ((col + 0.5) * box.width) / cols, y: box.y + ((row + 0.5) * box.height) / rows };
}

// Rows of cells drawn underlined as input fields: "row:first-last".
const underlined = (page) => page.evaluate(() => [...document.querySelectorAll('.kvx-grid .kvx-row')]
  .flatMap((row, y) => [...row.querySelectorAll('.kvx-input-field')].map((span) => `${y}:${span.textContent.length}`)));

try {
  // The rules, in the page, on small screens: a 4 x 10 form whose input
  // positions are the cells marked "_".
  await runTest('blockedit-rules', async (page) => {
    await page.goto(`${base}/?rows=24&cols=80`);
    const plans = await page.evaluate(async () => {
      const { planBlockPaste } = await import('/kvx-blockpaste.js');
      const form = (lines) => ({
        rows: lines.length, cols: lines[0].length, isInput: (i) => lines.join('')[i] === '_',
      });
      const f = form(['ab_____cd_', 'ef___gh___', 'ijklmnopqr', 'st___uv___']);
      const run = (text, x, y, screen = f) => planBlockPaste(screen, { x, y }, text);
      return {
        oneLine: run('xyz', 2, 0),
        spills: run('1234567', 3, 0),           // the field, then the next one after the protected cells
        lines: run('one\ntwo\nsix', 2, 0),      // next rows with fields; a row without any is passed
        margin: run('a\nb', 7, 1),              // the second field of row 1 starts at 7: row 3's at or after 7
        dropped: run('a\nb\nc\nd', 2, 1),       // no row left for "d"
        fromProtected: run('q', 0, 0),          // typing starts at the next input position
        crlf: run('x\r\ny\r\n', 2, 0),           // Windows line ends; the last one ends the paste
        controls: run('a\u0007b', 2, 0),        // control characters are no text
        unformatted: run('ab\ncd', 3, 1, { rows: 3, cols: 5, isInput: () => true }),  // lines start a row
      };
    });
    const runs = (p) => p.runs.map((r) => `${r.row},${r.col}:${r.text}`);
    assert.deepEqual(runs(plans.oneLine), ['0,2:xyz']);
    assert.deepEqual(runs(plans.spills), ['0,3:1234', '0,9:5', '1,2:67']);
    assert.deepEqual(runs(plans.lines), ['0,2:one', '1,2:two', '3,2:six']);
    assert.deepEqual(runs(plans.margin), ['1,7:a', '3,7:b']);
    assert.deepEqual([runs(plans.dropped), plans.dropped.dropped], [['1,2:a', '3,2:b'], 2]);
    assert.deepEqual(runs(plans.fromProtected), ['0,2:q']);
    assert.deepEqual(runs(plans.crlf), ['0,2:x', '1,2:y']);
    assert.deepEqual(runs(plans.controls), ['0,2:ab']);
    assert.deepEqual(runs(plans.unformatted), ['1,3:ab', '2,0:cd']);

    const spots = await page.evaluate(async () => {
      const { findHotspots } = await import('/kvx-hotspots.js');
      const rows = [
        [' F1=Help    F3=Exit   F12=Cancel', '5250'],
        [' PF1/PF13 ==> Help    PF3/PF15 ==> Logoff    PA1 ==> Attention', '3270'],
        [' PF1=Help  3=Quit  4=Components  9=Error List', '3270'],
        ['Enter=Continue F13=Information Assistant', '3270'],
        ['Press Enter to continue.  LEFT=F3  PF25=No  PA1=Attn', '5250'],
        ['SIZE=4096 F=3 XF3=1 F3= x', '3270'],
      ];
      return rows.map(([text, kind]) => findHotspots(text, kind).map((h) => `${h.name}:${text.slice(h.start, h.end)}`));
    });
    assert.deepEqual(spots, [
      ['PF1:F1=Help', 'PF3:F3=Exit', 'PF12:F12=Cancel'],
      ['PF1:PF1/PF13 ==> Help', 'PF3:PF3/PF15 ==> Logoff', 'PA1:PA1 ==> Attention'],
      ['PF1:PF1=Help', 'PF3:3=Quit', 'PF4:4=Components', 'PF9:9=Error List'],
      ['ENTER:Enter=Continue', 'PF13:F13=Information Assistant'],
      [],
      [],
    ]);
  }, DESKTOP);

  await runTest('blockedit-3270', async (page) => {
    const host = await start3270Host([FORM]);
    const unlocked = () => page.waitForFunction(() => window.kavrix.status()?.keyboard === '');
    const record = async (n, what) => {
      await until(what, () => host.received.length >= n);
      return host.received[n - 1];
    };
    try {
      await page.goto(`${base}/?commtype=0&node=127.0.0.1&port=${host.port}&emulate=${EM.IBM3270_MODEL2}`);
      await waitText(page, /PF3=Exit/, 20000);
      await unlocked();

      // The key bar: Enter, PF1-PF12 with tooltips, PF13-PF24 with Shift.
      const bar = page.locator('.kvx-keybar');
      assert.equal(await bar.locator('button').first().textContent(), 'Enter');
      assert.equal(await bar.locator('[data-key="ENTER"]').getAttribute('title'), 'Enter \u2014 Enter');
      assert.equal(await bar.locator('[data-key="PF3"]').getAttribute('title'), 'PF3 \u2014 F3');
      assert.equal(await bar.locator('[data-key="PF8"]').getAttribute('title'), 'PF8 \u2014 F8 or Page Down');
      assert.equal(await bar.locator('[data-key="PA1"]').getAttribute('title'), 'PA1 \u2014 Ctrl+P, 1');
      assert.ok(await bar.locator('[data-key="SYSREQ"]').count());
      await page.keyboard.down('Shift');
      assert.equal(await bar.locator('[data-key="PF3"]').textContent(), 'PF15');
      assert.equal(await bar.locator('[data-key="PF3"]').getAttribute('title'), 'PF15 \u2014 Shift+F3');
      await shot(page, 'blockedit-keybar-shift');
      await page.keyboard.up('Shift');
      assert.equal(await bar.locator('[data-key="PF3"]').textContent(), 'PF3');

      // What other parts of the page add: a key bar button, a menu entry.
      await page.evaluate(async () => {
        const { addKeyBarButton } = await import('/kvx-keybar.js');
        const { addHeaderItem } = await import('/header.js');
        window.pressed = [];
        addKeyBarButton({ id: 'test-print', label: 'Print screen', onClick: () => window.pressed.push('bar') });
        addHeaderItem({ id: 'test-print', label: 'Print screen', onSelect: () => window.pressed.push('menu') });
      });
      await bar.locator('[data-extra="test-print"]').click();
      await page.locator('#menu-toggle').click();
      await page.locator('#header-menu [data-entry="test-print"]').click();
      assert.deepEqual(await page.evaluate(() => window.pressed), ['bar', 'menu']);
      await focusSettled(page);
      assert.equal(await page.evaluate(() => document.activeElement?.className), 'kvx-input', 'typing goes on');

      // The empty input fields are underlined: Name and City, 17 cells each.
      assert.deepEqual(await underlined(page), ['4:17', '5:17']);
      await shot(page, 'blockedit-3270-form');

      // A paste of three lines: two fields, the third line dropped with the bell.
      const bells = (await page.evaluate(() => window.kavrix.state())).bells;
      await page.evaluate(() => window.kavrix.focus());
      await page.evaluate(() => {
        const data = new DataTransfer();
        data.setData('text/plain', 'Alice\nParis\nExtra\n');
        document.querySelector('#terminal textarea').dispatchEvent(new ClipboardEvent('paste', { clipboardData: data }));
      });
      await waitText(page, /City \. \. \. +Paris/);
      await waitText(page, /Name \. \. \. +Alice/);
      await page.waitForFunction((b) => window.kavrix.state().bells > b, bells);
      assert.doesNotMatch(await page.evaluate(() => window.kavrix.text()), /Extra/);
      await shot(page, 'blockedit-3270-pasted');

      // Alt+drag: the labels' columns, two rows.
      const from = await cellPoint(page, 4, 10);
      const to = await cellPoint(page, 5, 19);
      await page.keyboard.down('Alt');
      await page.mouse.move(from.x, from.y);
      await page.mouse.down();
      await page.mouse.move(to.x, to.y, { steps: 4 });
      await page.mouse.up();
      await page.keyboard.up('Alt');
      assert.equal(await page.evaluate(() => window.kavrix.selection()), 'Name . . .\nCity . . .');
      await shot(page, 'blockedit-3270-columns');

      // Enter from the key bar: the fields go to the host.
      await bar.locator('[data-key="ENTER"]').click();
      const sent = [...await record(1, 'the Enter record')];
      assert.equal(sent[0], AID.ENTER);
      const at = (bytes) => sent.findIndex((_, i) => bytes.every((b, j) => sent[i + j] === b));
      assert.ok(at(ebcdic('Alice')) > 0 && at(ebcdic('Paris')) > at(ebcdic('Alice')), 'both fields sent');
      assert.equal(at(ebcdic('Extra')), -1);

      // "PF3=Exit" clicked: PF3; "Enter=Continue": Enter.
      host.send(FORM);
      await unlocked();
      await page.locator('.kvx-hotspot[data-key="PF3"]').click();
      assert.equal((await record(2, 'the hotspot PF3'))[0], AID.PF3);
      host.send(FORM);
      await unlocked();
      await page.locator('.kvx-hotspot[data-key="ENTER"]').click();
      assert.equal((await record(3, 'the hotspot Enter'))[0], AID.ENTER);
      host.send(FORM);
      await unlocked();

      // The settings turn both off.
      await page.locator('#settings-toggle').click();
      await page.locator('#pref-underline').uncheck();
      await page.locator('#pref-hotspots').uncheck();
      await page.keyboard.press('Escape');
      await page.waitForFunction(() => !document.querySelector('.kvx-input-field'));
      assert.equal(await page.locator('.kvx-hotspot').count(), 0);
      await page.mouse.click((await cellPoint(page, 22, 20)).x, (await cellPoint(page, 22, 20)).y);
      await page.waitForFunction(() => window.kavrix.cursor().y === 22);
      assert.equal(host.received.length, 3, 'a click there only moves the cursor');
      await shot(page, 'blockedit-3270-settings-off');
      await page.reload();
      await waitText(page, /PF3=Exit/, 20000);
      assert.equal(await page.locator('.kvx-hotspot').count(), 0, 'remembered');
      assert.deepEqual(await underlined(page), []);

      // The key help, from the header's menu: the 3270 keys and the page's.
      await page.locator('#menu-toggle').click();
      await page.locator('#header-menu button:text-is("Key help")').click();
      const help = page.locator('#keyhelp-panel');
      await help.waitFor();
      const rows = await help.locator('tr').evaluateAll((trs) => trs.map((tr) => tr.innerText.replace(/\s+/g, ' ')));
      for (const want of ['PF3 F3', 'PF15 Shift+F3', 'Erase EOF End', 'PA2 Ctrl+P, 2', 'Copy a block of columns Alt+drag']) {
        assert.ok(rows.includes(want), `the key help lists "${want}"`);
      }
      await shot(page, 'blockedit-keyhelp');
      await page.keyboard.press('Escape');
      assert.equal(await help.isVisible(), false);
      assert.equal(await page.evaluate(() => document.activeElement?.className), 'kvx-input', 'back to the terminal');
    } finally {
      host.close();
    }
  }, DESKTOP);

  await runTest('blockedit-5250', async (page) => {
    const trace = traceRecords(path.join(SOURCE_DIR, 'tests/fixtures/5250/blazemeter-tn5250-login.trc'));
    const body = (rec) => rec.subarray(10).toString('hex');
    const host = await start5250Host(trace);
    try {
      await page.goto(`${base}/?commtype=0&node=127.0.0.1&port=${host.port}&emulate=${EM.IBM5250}`);
      await waitText(page, /Sign On/, 20000);
      await page.waitForFunction(() => {
        const s = window.kavrix.status();
        return s?.keyboard === '' && s.row === 5 && s.col === 52;
      });
      // The 5250 bar and its help button.
      assert.equal(await page.locator('.kvx-keybar [data-key="PF3"]').textContent(), 'F3');
      assert.equal(await page.locator('.kvx-keybar [data-key="ROLLUP"]').getAttribute('title'), 'Roll Up \u2014 Page Down');
      await page.locator('.kvx-keybar .kvx-keybar-help').click();
      await page.locator('#keyhelp-panel button[data-key="FIELDEXIT"]').waitFor();
      await page.keyboard.press('Escape');

      await page.evaluate(() => {
        const data = new DataTransfer();
        data.setData('text/plain', 'TESTUSR\nTESTPSW');
        document.querySelector('#terminal textarea').dispatchEvent(new ClipboardEvent('paste', { clipboardData: data }));
      });
      await waitText(page, /TESTUSR/);
      await page.waitForFunction(() => window.kavrix.cursor().y === 6);
      await page.keyboard.press('Enter');
      await until('the sign-on record', () => host.received.length >= 1);
      assert.equal(body(host.received[0]), body(trace.terminal[0]), 'the pasted sign-on as recorded');
      await until('the query reply', () => host.received.length >= 2);
      await waitText(page, /Main Menu/, 15000);
      await page.waitForFunction(() => window.kavrix.status()?.keyboard === '');
      await page.keyboard.type('1');
      await page.keyboard.press('Enter');
      await waitText(page, /User Tasks/, 15000);
      await page.waitForFunction(() => window.kavrix.status()?.keyboard === '');
      const spot = page.locator('.kvx-hotspot[data-key="PF3"]');
      assert.equal(await spot.getAttribute('title'), 'F3 \u2014 F3');
      await shot(page, 'blockedit-5250-hotspots');
      await spot.click();
      await until('the F3 record', () => host.received.length >= 4);
      assert.equal(host.received[3][12], 0x33, 'F3 from "F3=Exit"');
    } finally {
      host.close();
    }
  }, DESKTOP);
} finally {
  await kavrix.stop();
}
