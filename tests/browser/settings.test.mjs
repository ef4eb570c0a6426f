// The settings panel and a person's key maps in the page, through the real
// server, at a desktop's 1280 x 800.  Maps are made in the panel as a
// person makes them (press the key, choose the function, Add):
// - 3270, with the recorded TSO log-on: Right Ctrl mapped to Enter sends
//   the recorded Enter record; on a form, Enter mapped to New Line moves
//   to the next field without an AID (the next record the host gets is
//   the PA1 that Ctrl+C, mapped to PA1, sends); the key help shows the map
//   in force; another tab of the browser (another session) has the map.
// - A shell: Ctrl+Shift+C, the page's copy chord, mapped to F5 sends F5's
//   bytes (read back through `od -c`).
// - Export, then import into a fresh browser profile, gives the same maps
//   and settings; malformed files are refused naming what is wrong, and
//   change nothing.
// - The look: the default scheme follows the system's light or dark, the
//   light scheme changes the computed background, the classic green and
//   high-contrast schemes colour a 3270 screen, the font and blinking
//   follow the settings; the cursor style follows the setting, then the
//   shell's DECSCUSR (CSI 6 SP q), then the setting again after CSI 0 SP q;
//   all of it survives a reload.
// Screenshots of each state go to the test output.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { AID, FIELD, screen3270, start3270Host, until } from './block-hosts.mjs';
import { traceRecords } from './block-trace.mjs';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, SOURCE_DIR, launchBrowser, runTest, startKavrix, waitText } from './lib.mjs';

const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'),
    "export LC_ALL=C.UTF-8\nPS1='kvx$ '\nunset PROMPT_COMMAND\n" +
    // Reads $1 bytes in raw mode once the terminal is raw.
    "k() { stty raw -echo; printf 'raw-%s\\r\\n' $((40+2)); head -c $1 | od -c | head -2; stty sane; echo od-$((40+2)); }\n"),
});
const base = `http://127.0.0.1:${kavrix.port}`;
const DESKTOP = { viewport: { width: 1280, height: 800 } };
const shot = (page, name) => page.screenshot({ path: path.join(OUTPUT_DIR, `${name}.png`) });
const trace = traceRecords(path.join(SOURCE_DIR, 'tests/fixtures/3270/tn3270-login.trc'));

const FORM = screen3270({
  fields: [
    { row: 0, col: 1, attr: FIELD.PROTECTED, text: 'ORDER FORM' },
    { row: 4, col: 10, attr: FIELD.PROTECTED, text: 'Item . . .' },
    { row: 4, col: 22, attr: FIELD.INPUT, text: '' },
    { row: 4, col: 40, attr: FIELD.PROTECTED, text: '' },
    { row: 6, col: 10, attr: FIELD.PROTECTED, text: 'Count . .' },
    { row: 6, col: 22, attr: FIELD.INPUT, text: '' },
    { row: 6, col: 40, attr: FIELD.PROTECTED, text: '' },
    { row: 22, col: 1, attr: FIELD.INTENSE | FIELD.PROTECTED, text: 'Enter=Continue  PF3=Exit' },
  ],
  cursor: { row: 4, col: 22 },
});

async function openSettings(page) {
  if (!(await page.locator('#settings-panel').isVisible())) await page.locator('#settings-toggle').click();
  await page.locator('#settings-panel').waitFor();
}

// Maps `keys` (a playwright key) to the function named `target` in the
// panel's key map of `family`, as a person does.
async function mapKey(page, family, keys, target) {
  await openSettings(page);
  await page.locator('#keymap-family').selectOption(family);
  await page.locator('#keymap-capture').click();
  await page.keyboard.press(keys);
  await page.waitForFunction(() => document.querySelector('#keymap-capture').dataset.chord !== '');
  await page.locator('#keymap-function').selectOption(target);
  await page.locator('#keymap-add').click();
}

// The rows of the panel's map list: "chord=target".
const mapRows = (page) => page.locator('#keymap-list tr[data-chord]')
  .evaluateAll((trs) => trs.map((tr) => `${tr.dataset.chord}=${tr.dataset.target}`));

async function open3270(page, host) {
  await page.goto(`${base}/?commtype=0&node=127.0.0.1&port=${host.port}&emulate=${EM.IBM3270_MODEL2}`);
  await page.waitForFunction(() => window.kavrix.status()?.keyboard === '' && window.kavrix.status()?.session === '',
    null, { timeout: 20000 });
}

async function clickCell(page, row, col) {
  const box = await page.locator('.kvx-grid').boundingBox();
  const size = await page.evaluate(() => window.kavrix.status());
  await page.mouse.click(box.x + ((col + 0.5) * box.width) / size.cols, box.y + ((row + 0.5) * box.height) / size.rows);
}

// The record the host got as number n (from 1), within the time allowed.
async function record(host, n, what) {
  await until(what, () => host.received.length >= n);
  return host.received[n - 1];
}

try {
  await runTest('settings-keymap-3270', async (page) => {
    const host = await start3270Host(trace.host.slice(0, 2));
    try {
      await open3270(page, host);
      await waitText(page, /ENTER USERID -/);
      await mapKey(page, '3270', 'ControlRight', 'ENTER');
      await mapKey(page, '3270', 'Enter', 'NEWLINE');
      await mapKey(page, '3270', 'Control+KeyC', 'PA1');
      assert.deepEqual(await mapRows(page), ['ControlRight=ENTER', 'Enter=NEWLINE', 'Ctrl+KeyC=PA1']);
      await shot(page, 'settings-keymap-3270-panel');
      await page.keyboard.press('Escape');
      assert.equal(await page.locator('#settings-panel').isVisible(), false);

      // Right Ctrl: the Enter record the recorded terminal sent.
      await clickCell(page, 0, 26);
      await page.waitForFunction(() => window.kavrix.cursor().x === 26);
      await page.keyboard.type('testusr');
      await page.keyboard.press('ControlRight');
      assert.equal((await record(host, 1, 'the Enter record')).toString('hex'), trace.terminal[0].toString('hex'));

      // Enter: New Line, to the next field, no AID; Ctrl+C: PA1 is the next record.
      host.send(FORM);
      await waitText(page, /ORDER FORM/);
      await page.waitForFunction(() => window.kavrix.status()?.keyboard === '' && window.kavrix.cursor().y === 4);
      await page.keyboard.press('Enter');
      await page.waitForFunction(() => window.kavrix.cursor().y === 6 && window.kavrix.cursor().x === 22);
      await page.keyboard.press('Control+KeyC');
      const pa1 = await record(host, 2, 'the PA1 record');
      assert.equal(pa1[0], AID.PA1, 'PA1, and no record for the New Line before it');
      assert.equal(host.received.length, 2);

      // The key help: the map first, the station keys with the map in force.
      host.send(FORM);
      await page.waitForFunction(() => window.kavrix.status()?.keyboard === '');
      await page.locator('#menu-toggle').click();
      await page.locator('#header-menu button:text-is("Key help")').click();
      const help = page.locator('#keyhelp-panel');
      await help.waitFor();
      const rows = await help.locator('tr').evaluateAll((trs) => trs.map((tr) => tr.innerText.replace(/\s+/g, ' ')));
      for (const want of ['Enter Right Ctrl', 'New Line Enter or Shift+Enter', 'PA1 Ctrl+C or Ctrl+P, 1']) {
        assert.ok(rows.includes(want), `the key help lists "${want}" in ${JSON.stringify(rows)}`);
      }
      assert.equal(await help.locator('caption').first().textContent(), 'Your key map');
      await shot(page, 'settings-keymap-3270-keyhelp');
      await page.keyboard.press('Escape');

      // Another tab of this browser, another session: the same map.
      const host2 = await start3270Host(trace.host.slice(0, 2));
      const [other] = await Promise.all([page.waitForEvent('popup'), page.evaluate((url) => window.open(url, '_blank',
        'noopener'), `${base}/?commtype=0&node=127.0.0.1&port=${host2.port}&emulate=${EM.IBM3270_MODEL2}`)]);
      try {
        await other.waitForFunction(() => window.kavrix?.status()?.keyboard === '' &&
          window.kavrix.status()?.session === '', null, { timeout: 20000 });
        assert.notEqual(await other.evaluate(() => window.kavrix.state().session.id),
          await page.evaluate(() => window.kavrix.state().session.id), 'a session of its own');
        await waitText(other, /ENTER USERID -/);
        await other.locator('#terminal').focus();
        await other.keyboard.press('ControlRight');
        assert.equal((await record(host2, 1, 'the other tab\'s Enter'))[0], AID.ENTER);
      } finally {
        host2.close();
        await other.close();
      }
    } finally {
      host.close();
    }
  }, DESKTOP);

  await runTest('settings-keymap-vt', async (page) => {
    await page.goto(`${base}/?rows=24&cols=80`);
    await waitText(page, /^kvx\$/, 60000);
    await mapKey(page, 'character', 'Control+Shift+KeyC', 'F5');
    assert.deepEqual(await mapRows(page), ['Ctrl+Shift+KeyC=F5']);
    await page.keyboard.press('Escape');
    await page.keyboard.type('k 5');
    await page.keyboard.press('Enter');
    await waitText(page, /^raw-42$/);
    await page.keyboard.press('Control+Shift+KeyC');
    await waitText(page, /od-42$/);
    const bytes = (await page.evaluate(() => window.kavrix.text())).split('\n')
      .filter((row) => /^0000000 /.test(row)).flatMap((row) => row.replace(/^[0-7]+ +/, '').trim().split(/ +/));
    assert.deepEqual(bytes, ['033', '[', '1', '5', '~'], 'F5 as xterm sends it');
    await shot(page, 'settings-keymap-vt');
  }, DESKTOP);

  await runTest('settings-export-import', async (page) => {
    await page.goto(`${base}/?rows=24&cols=80`);
    await waitText(page, /^kvx\$/, 60000);
    await mapKey(page, 'character', 'Alt+F5', 'F17');
    await mapKey(page, '3270', 'Pause', 'ATTN');
    await mapKey(page, '5250', 'NumpadAdd', 'FIELDPLUS');
    await page.locator('#pref-scheme').selectOption('contrast');
    await page.locator('#pref-cursor').selectOption('5');
    const stored = () => page.evaluate(() => [localStorage.getItem('kavrix.keymaps'), localStorage.getItem('kavrix.prefs')]);
    const [maps, prefs] = await stored();
    const download = page.waitForEvent('download');
    await page.locator('#settings-export').click();
    const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'kvx-settings-')), 'kavrix-settings.json');
    await (await download).saveAs(file);
    const exported = JSON.parse(fs.readFileSync(file, 'utf8'));
    assert.equal(exported.version, 1);
    assert.deepEqual(exported.keymaps, { character: { 'Alt+F5': 'F17' }, 3270: { Pause: 'ATTN' }, 5250: { NumpadAdd: 'FIELDPLUS' } });

    // A fresh browser profile: nothing yet, then the file's maps and settings.
    const fresh = await launchBrowser();
    try {
      const page2 = await fresh.newPage(DESKTOP);
      await page2.goto(`${base}/?rows=24&cols=80`);
      await waitText(page2, /^kvx\$/, 60000);
      await openSettings(page2);
      assert.deepEqual(await mapRows(page2), []);
      await page2.locator('#settings-import').setInputFiles(file);
      await page2.waitForFunction(() => /^Imported/.test(document.querySelector('#settings-message').textContent));
      const [maps2, prefs2] = await page2.evaluate(() => [localStorage.getItem('kavrix.keymaps'),
        localStorage.getItem('kavrix.prefs')]);
      assert.deepEqual(JSON.parse(maps2), JSON.parse(maps), 'the same maps');
      assert.deepEqual(JSON.parse(prefs2), JSON.parse(prefs), 'the same settings');
      assert.deepEqual(await mapRows(page2), ['Alt+F5=F17']);
      assert.equal(await page2.evaluate(() => document.documentElement.dataset.scheme), 'contrast');
      assert.equal(await page2.locator('#pref-cursor').inputValue(), '5');

      // Malformed files: refused, saying what is wrong; nothing changes.
      const bad = (name, text) => ({ name, mimeType: 'application/json', buffer: Buffer.from(text) });
      const REFUSED = [
        [bad('broken.json', '{"kavrix": "settings", '), /^Not imported: The file is not JSON/],
        [bad('v9.json', '{"kavrix": "settings", "version": 9}'), /"version" is 9; this page reads version 1/],
        [bad('key.json', JSON.stringify({ kavrix: 'settings', version: 1, keymaps: { 3270: { 'Ctrl+KeyQ': 'PF99' } } })),
          /keymaps\.3270: "Ctrl\+KeyQ" maps to "PF99", which is no IBM 3270 key function/],
      ];
      for (const [input, want] of REFUSED) {
        await page2.locator('#settings-import').setInputFiles(input);
        await page2.waitForFunction(() => /^Not imported/.test(document.querySelector('#settings-message').textContent));
        assert.match(await page2.locator('#settings-message').textContent(), want, input.name);
        assert.equal(await page2.locator('#settings-message').getAttribute('role'), 'alert');
        await page2.locator('#settings-message').evaluate((el) => { el.textContent = ''; });
      }
      assert.deepEqual(JSON.parse(await page2.evaluate(() => localStorage.getItem('kavrix.keymaps'))), JSON.parse(maps));
      await shot(page2, 'settings-import-refused');

      // Reset: the defaults again (a second click confirms).
      await page2.locator('#settings-reset').click();
      await page2.locator('#settings-reset').click();
      assert.deepEqual(await mapRows(page2), []);
      assert.equal(await page2.locator('#pref-scheme').inputValue(), 'default');
    } finally {
      await fresh.close();
    }
  }, DESKTOP);

  await runTest('settings-look', async (page) => {
    await page.emulateMedia({ colorScheme: 'dark' });
    await page.goto(`${base}/?rows=24&cols=80`);
    await waitText(page, /^kvx\$/, 60000);
    const look = () => page.evaluate(() => {
      const terminal = document.getElementById('terminal');
      const span = [...terminal.querySelectorAll('.kvx-row span')].find((s) => s.textContent.startsWith('kvx$'));
      const cursor = terminal.querySelector('.kvx-cursor');
      const c = getComputedStyle(cursor);
      return {
        scheme: document.documentElement.dataset.scheme,
        background: getComputedStyle(terminal).backgroundColor,
        prompt: span ? [getComputedStyle(span).color, getComputedStyle(span).backgroundColor] : null,
        page: getComputedStyle(document.body).backgroundColor,
        font: getComputedStyle(terminal).fontFamily,
        cursor: { shape: terminal.dataset.cursorShape, blinks: c.animationName !== 'none',
          tall: cursor.getBoundingClientRect().height, wide: cursor.getBoundingClientRect().width },
      };
    });
    let l = await look();
    assert.equal(l.scheme, 'dark', 'the default follows a dark system');
    assert.deepEqual([l.background, ...l.prompt], ['rgb(0, 0, 0)', 'rgb(170, 170, 170)', 'rgb(0, 0, 0)']);
    const block = { tall: l.cursor.tall, wide: l.cursor.wide };
    assert.deepEqual([l.cursor.shape, l.cursor.blinks], ['block', true]);
    await page.emulateMedia({ colorScheme: 'light' });
    await page.waitForFunction(() => document.documentElement.dataset.scheme === 'light');
    await page.emulateMedia({ colorScheme: 'dark' });
    await page.waitForFunction(() => document.documentElement.dataset.scheme === 'dark');

    // The light scheme, a font, a steady underline cursor, no blinking text.
    await openSettings(page);
    await page.locator('#pref-scheme').selectOption('light');
    await page.locator('#pref-font').selectOption('Liberation Mono');
    await page.locator('#pref-cursor').selectOption('4');
    await page.locator('#pref-blink').uncheck();
    l = await look();
    assert.equal(l.scheme, 'light');
    assert.deepEqual([l.background, ...l.prompt], ['rgb(255, 255, 255)', 'rgb(31, 35, 40)', 'rgb(255, 255, 255)'],
      'the light scheme\'s background and text');
    assert.equal(l.page, 'rgb(246, 248, 250)', 'the page around it is light too');
    assert.match(l.font, /^"Liberation Mono"/);
    assert.equal(l.cursor.shape, 'underline');
    assert.equal(l.cursor.blinks, false);
    assert.ok(l.cursor.tall < block.tall / 3 && l.cursor.wide >= block.wide * 0.9, `an underline: ${JSON.stringify(l.cursor)}`);
    await shot(page, 'settings-look-light');
    await page.keyboard.press('Escape');
    await page.keyboard.type("printf '\\e[5mBLINK\\e[0m\\n'");
    await page.keyboard.press('Enter');
    await waitText(page, /^BLINK$/);
    assert.equal(await page.locator('.kvx-row .k').first().evaluate((el) => getComputedStyle(el).animationName), 'none');

    // The host's cursor style (DECSCUSR) wins until the host asks for its
    // default (CSI 0 SP q).
    const hostCursor = async (style, shape) => {
      await page.keyboard.type(`printf '\\e[${style} q'; echo style-${style}`);
      await page.keyboard.press('Enter');
      await waitText(page, new RegExp(`^style-${style}$`));
      await page.waitForFunction((want) => document.getElementById('terminal').dataset.cursorShape === want, shape);
      return look();
    };
    l = await hostCursor(6, 'bar');
    assert.deepEqual([l.cursor.shape, l.cursor.blinks], ['bar', false]);
    assert.equal(await page.locator('#terminal').getAttribute('data-cursor-from'), 'host');
    assert.ok(l.cursor.wide < block.wide / 3, `a bar: ${JSON.stringify(l.cursor)}`);
    await shot(page, 'settings-look-host-bar');
    l = await hostCursor(0, 'underline');
    assert.deepEqual([l.cursor.shape, l.cursor.blinks], ['underline', false], 'the setting again');
    assert.equal(await page.locator('#terminal').getAttribute('data-cursor-from'), 'setting');

    // All of it after a reload.
    await page.reload();
    await waitText(page, /^kvx\$/, 60000);
    l = await look();
    assert.equal(l.scheme, 'light');
    assert.match(l.font, /^"Liberation Mono"/);
    assert.deepEqual([l.cursor.shape, l.cursor.blinks], ['underline', false]);

    // A 3270 screen in the classic green and in high contrast.
    const host = await start3270Host([FORM]);
    try {
      await open3270(page, host);
      await waitText(page, /ORDER FORM/);
      const colours = () => page.evaluate(() => {
        const grid = document.querySelector('.kvx-grid');
        const span = [...grid.querySelectorAll('span')].find((s) => s.textContent.includes('ORDER FORM'));
        return [getComputedStyle(span).color, getComputedStyle(document.getElementById('terminal')).backgroundColor];
      });
      assert.deepEqual((await colours())[1], 'rgb(255, 255, 255)', 'light');
      await openSettings(page);
      await page.locator('#pref-scheme').selectOption('green');
      assert.deepEqual(await colours(), ['rgb(51, 221, 85)', 'rgb(0, 0, 0)']);
      await page.keyboard.press('Escape');
      await shot(page, 'settings-look-3270-green');
      await openSettings(page);
      await page.locator('#pref-scheme').selectOption('contrast');
      await page.keyboard.press('Escape');
      assert.equal((await colours())[1], 'rgb(0, 0, 0)');
      await shot(page, 'settings-look-3270-contrast');
    } finally {
      host.close();
    }
  }, DESKTOP);
} finally {
  await kavrix.stop();
}
