// Host identity and characters in the page: the character set, device
// (LU) name or terminal type and keyboard type of a choice turned into
// settings and an address (checked without a browser), and the connect
// panel's fields reaching a 5250 host's negotiation through the session.
import assert from 'node:assert/strict';
import { choiceFromParams, kcfForChoice, paramsForChoice } from '../../html/shared/kvx-hosts.js';
import { EM } from '../../html/shared/kvx-emulations.js';
import { start5250Host, until } from './block-hosts.mjs';
import { runTest, startKavrix } from './lib.mjs';

// ---- addresses and settings ----

const size = { rows: 24, cols: 80 };
const node = 'commtype=0&node=h';
const CASES = [
  // [address query, expected kcf members, the address made again (without node and port)]
  [`${node}&emulate=${EM.XTERM}`, { MBMode: 1, cptrxin: undefined, teltermtype: undefined }, ''],
  [`${node}&emulate=${EM.PCTERM}`, { MBMode: 0, cptrxin: 'STD 437 MS-DOS Latin US' }, ''],
  [`${node}&emulate=${EM.SCOANSI}`, { MBMode: 0, cptrxin: 'STD 437 MS-DOS Latin US' }, ''],
  [`${node}&emulate=${EM.WYSE60}`, { MBMode: 0, cptrxin: 'ISO 8859-1 Latin 1' }, ''],
  [`${node}&emulate=${EM.TTY}`, { MBMode: 0, cptrxin: 'ISO 8859-1 Latin 1' }, ''],
  [`${node}&emulate=${EM.VT220}&cptrxin=STD+850+MS-DOS+Latin+1&teltermtype=vt220-8`,
    { MBMode: 0, cptrxin: 'STD 850 MS-DOS Latin 1', teltermtype: 'vt220-8' },
    'cptrxin=STD+850+MS-DOS+Latin+1&teltermtype=vt220-8'],
  [`${node}&emulate=${EM.WYSE60}&cptrxin=UTF-8`, { MBMode: 1, cptrxin: undefined }, 'cptrxin=UTF-8'],
  // A code page of the other kind, or none known, is the emulation's own.
  [`${node}&emulate=${EM.VT220}&cptrxin=CP1141`, { MBMode: 1, cptrxin: undefined }, ''],
  [`${node}&emulate=${EM.IBM3270_MODEL2}`, { cptrxin: 'CP037', ibmkbdtype: undefined }, ''],
  [`${node}&emulate=${EM.IBM3270_MODEL2}&cptrxin=CP1141&teltermtype=LU0042`,
    { cptrxin: 'CP1141', teltermtype: 'LU0042' }, 'cptrxin=CP1141&teltermtype=LU0042'],
  [`${node}&emulate=${EM.IBM3270_MODEL2}&cptrxin=German`, { cptrxin: 'CP273' }, 'cptrxin=CP273'],
  [`${node}&emulate=${EM.IBM5250}&cptrxin=CP278`, { cptrxin: 'CP278', ibmkbdtype: 'FNB' }, 'cptrxin=CP278'],
  [`${node}&emulate=${EM.IBM5250}&cptrxin=CP500&ibmkbdtype=sgi`, { cptrxin: 'CP500', ibmkbdtype: 'SGI' },
    'cptrxin=CP500&ibmkbdtype=SGI'],
  [`${node}&emulate=${EM.IBM5250}&ibmkbdtype=US1`, { cptrxin: 'CP037', ibmkbdtype: 'USB' }, ''],
  [`${node}&emulate=${EM.IBM5250}&teltermtype=bad%20name`, { teltermtype: undefined }, ''],
];
for (const [query, expected, again] of CASES) {
  const choice = choiceFromParams(new URLSearchParams(query));
  const kcf = kcfForChoice(choice, size);
  for (const [key, value] of Object.entries(expected)) assert.equal(kcf[key], value, `${query}: ${key}`);
  const params = paramsForChoice(choice);
  for (const name of ['commtype', 'node', 'port', 'emulate', 'em5250idx']) params.delete(name);
  assert.equal(params.toString(), again, query);
  assert.deepEqual(choiceFromParams(paramsForChoice(choice)), choice, query);
}
console.log('PASS identity-settings');

// ---- the page ----

const kavrix = await startKavrix();
const host = await start5250Host({ sequence: [], host: [] });
try {
  await runTest('identity', async (page) => {
    await page.goto(`http://127.0.0.1:${kavrix.port}/?commtype=0&node=127.0.0.1&port=${host.port}` +
      `&emulate=${EM.IBM5250}`);
    await until('the default station', () => host.state.environ !== null);
    assert.match(host.state.environ, /\x03KBDTYPE\x01USB\x03CODEPAGE\x0137\x03CHARSET\x01697/);
    assert.equal(host.state.environ.includes('DEVNAME'), false, 'no device name asked for');

    await page.click('#connect-toggle');
    const field = (name) => `#connect-panel [name="${name}"]`;
    assert.equal(await page.isVisible(field('ibmkbdtype')), true);
    assert.equal(await page.inputValue(field('cptrxin')), 'CP037');
    // The keyboard follows the code page until it is picked by hand.
    await page.selectOption(field('cptrxin'), 'CP1141');
    assert.equal(await page.inputValue(field('ibmkbdtype')), 'AGB');
    await page.selectOption(field('ibmkbdtype'), 'AGE');
    await page.fill(field('teltermtype'), 'DSP07');
    host.state.environ = null;
    await page.click('#connect-panel button[type="submit"]');
    await until('the station of the panel', () => host.state.environ !== null);
    assert.equal(host.state.environ,
      '\x03DEVNAME\x01DSP07\x03KBDTYPE\x01AGE\x03CODEPAGE\x011141\x03CHARSET\x01695\x03IBMSENDCONFREC\x01YES');
    const address = new URL(page.url()).searchParams;
    assert.equal(address.get('cptrxin'), 'CP1141');
    assert.equal(address.get('teltermtype'), 'DSP07');
    assert.equal(address.get('ibmkbdtype'), 'AGE');

    // A character-mode emulation offers its own character sets, its default picked.
    await page.click('#connect-toggle');
    await page.selectOption('#emulate', String(EM.PCTERM));
    assert.equal(await page.inputValue(field('cptrxin')), 'STD 437 MS-DOS Latin US');
    assert.equal(await page.isVisible(field('ibmkbdtype')), false);
    await page.selectOption('#emulate', String(EM.XTERM));
    assert.equal(await page.inputValue(field('cptrxin')), 'UTF-8');
    await page.keyboard.press('Escape');
  });
} finally {
  host.close();
  await kavrix.stop();
}
