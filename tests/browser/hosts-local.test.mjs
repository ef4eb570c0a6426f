// Choosing a host in the page: the settings an address or the panel's
// choice turns into (checked here without a browser), the panel's fields
// following the protocol, the default local shell, and a larger window
// reaching the shell's terminal size.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {
  EMULATIONS, PASSWORD_SECRET, choiceFromParams, describeChoice, kcfForChoice, paramsForChoice,
} from '../../html/shared/kvx-hosts.js';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, runTest, startKavrix, waitText } from './lib.mjs';

// ---- addresses and settings ----

const size = { rows: 24, cols: 80 };
const CASES = [
  // [address query, expected kcf members, description]
  ['', { commtype: 7, emulate: EM.XTERM, lines: 24, col: 80, node: undefined, port: undefined }, 'Local shell'],
  [`commtype=0&node=127.0.0.1&port=2323&emulate=${EM.XTERM}`,
    { commtype: 0, node: '127.0.0.1', port: 2323, emulate: EM.XTERM, sslVerifyServer: undefined },
    'Telnet 127.0.0.1:2323'],
  [`commtype=8&node=h.example&sslVerifyServer=1&emulate=${EM.VT100}`,
    { commtype: 8, node: 'h.example', port: 992, emulate: EM.VT100, sslVerifyServer: 1 }, 'Telnet over TLS h.example:992'],
  ['commtype=4&node=h&port=23', { commtype: 4, port: 23, sslVerifyServer: 0 }, 'Telnet with START_TLS h:23'],
  ['commtype=5&node=h&sshport=2222&user=me&language=de_DE.UTF-8',
    { commtype: 5, sshport: 2222, port: undefined, user: 'me', language: 'de_DE.UTF-8', passwordHash: undefined },
    'SSH me@h:2222'],
  ['commtype=5&node=h&port=2200', { commtype: 5, sshport: 2200 }, 'SSH h:2200'],
  // Unknown values fall back: no such protocol, an emulation that is not offered, a bad port.
  ['commtype=3&emulate=99', { commtype: 7, emulate: EM.XTERM }, 'Local shell'],
  // IBM 5250: the model by em5250idx (the page's default 3179-2; 23 alone the 3477), telnet only.
  [`commtype=0&node=h&emulate=${EM.IBM5250}`, { commtype: 0, emulate: EM.IBM5250, em5250idx: 2 }, 'Telnet h:23'],
  [`commtype=5&node=h&emulate=${EM.IBM5250_3477}`, { commtype: 0, emulate: EM.IBM5250, em5250idx: 1 }, 'Telnet h:23'],
  [`commtype=8&node=h&emulate=${EM.IBM5250}&em5250idx=0`, { commtype: 8, emulate: EM.IBM5250, em5250idx: 0 },
    'Telnet over TLS h:992'],
  [`commtype=0&node=h&emulate=${EM.IBM5250}&em5250idx=7`, { commtype: 0, emulate: EM.IBM5250, em5250idx: 2 }, 'Telnet h:23'],
  ['commtype=0&node=h&port=99999', { commtype: 0, port: 23 }, 'Telnet h:23'],
];
for (const [query, expected, description] of CASES) {
  const choice = choiceFromParams(new URLSearchParams(query));
  const kcf = kcfForChoice(choice, size);
  for (const [key, value] of Object.entries(expected)) assert.equal(kcf[key], value, `${query}: ${key}`);
  assert.equal(describeChoice(choice), description, query);
  // The address made for a choice brings the same choice back.
  assert.deepEqual(choiceFromParams(paramsForChoice(choice)), choice, query);
}
// A typed password travels as a secret only, and never in an address.
{
  const choice = choiceFromParams(new URLSearchParams('commtype=5&node=h&user=me'));
  const kcf = kcfForChoice(choice, size, 'pw 1');
  assert.equal(kcf.passwordHash, PASSWORD_SECRET);
  assert.deepEqual(kcf.secureKeys, { [PASSWORD_SECRET]: 'pw 1' });
  assert.equal(kcf.password, undefined);
  assert.equal(kcfForChoice(choiceFromParams(new URLSearchParams('commtype=0&node=h')), size, 'pw').passwordHash,
    undefined);
  assert.equal(paramsForChoice(choice).toString().includes('pw'), false);
  assert.equal(paramsForChoice(choice, new URLSearchParams('rows=30&cols=100&password=x')).toString(),
    `rows=30&cols=100&commtype=5&node=h&sshport=22&user=me&emulate=${EM.XTERM}`);
}
console.log('PASS hosts-settings');

// ---- the page ----

const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'), "PS1='kvx$ '\nunset PROMPT_COMMAND\n"),
});

async function shellSays(page, command, pattern) {
  await page.evaluate(() => window.kavrix.focus());
  await page.keyboard.type(command);
  await page.keyboard.press('Enter');
  await waitText(page, pattern);
}

try {
  await runTest('hosts-local', async (page) => {
    await page.setViewportSize({ width: 900, height: 600 });
    await page.goto(`http://127.0.0.1:${kavrix.port}/`);
    await waitText(page, /^kvx\$/, 60000);
    assert.match(await page.locator('#title').textContent(), /^Local shell, \d+ x \d+$/);

    // The panel shows what the protocol uses; a default port follows the protocol.
    await page.click('#connect-toggle');
    assert.equal(await page.inputValue('#protocol'), '7');
    assert.equal(await page.isVisible('#node'), false);
    await page.selectOption('#protocol', '0');
    assert.equal(await page.inputValue('#port'), '23');
    assert.equal(await page.isVisible('#user'), false);
    assert.equal(await page.isVisible('#verify'), false);
    await page.selectOption('#protocol', '5');
    assert.equal(await page.inputValue('#port'), '22');
    assert.equal(await page.isVisible('#password'), true);
    await page.fill('#port', '2022');
    await page.selectOption('#protocol', '8');
    assert.equal(await page.inputValue('#port'), '2022', 'a port the person typed stays');
    assert.equal(await page.isVisible('#verify'), true);
    assert.equal(await page.isVisible('#password'), false);
    assert.equal(await page.locator('#emulate option').count(), EMULATIONS.length);
    const offered = await page.locator('#emulate option').evaluateAll((o) => o.map((e) => Number(e.value)));
    for (const setting of [EM.ADM1, EM.IBM3101, EM.PCTERM, EM.TTY, EM.TVI912, EM.TVI925, EM.TVI950, EM.WYSE50, EM.WYSE60,
      EM.WYSE60_25, EM.IBM3151, EM.IBM3151_25, EM.ADDSVP, EM.WYCOL]) assert.ok(offered.includes(setting), `emulation ${setting}`);
    await page.keyboard.press('Escape');
    assert.equal(await page.isVisible('#connect-panel'), false);

    // The terminal has the page's size, and follows a larger window.
    const before = await page.evaluate(() => window.kavrix.size());
    await shellSays(page, 'stty size', new RegExp(`^${before.rows} ${before.cols} *$`));
    await page.setViewportSize({ width: 1200, height: 800 });
    await page.waitForFunction((old) => window.kavrix.size().cols > old.cols, before, { timeout: 30000 });
    const after = await page.evaluate(() => window.kavrix.size());
    assert.ok(after.rows > before.rows, JSON.stringify({ before, after }));
    assert.equal(await page.locator('#terminal .kvx-row').count(), after.rows);
    await shellSays(page, 'clear; stty size', new RegExp(`^${after.rows} ${after.cols} *$`));
    assert.equal(await page.locator('#title').textContent(), `Local shell, ${after.cols} x ${after.rows}`);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'hosts-local.png') });
  });
} finally {
  await kavrix.stop();
}
