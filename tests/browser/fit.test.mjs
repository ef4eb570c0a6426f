// Screens that fit the window.  A 3270 host written here shows a screen of
// each model's large size (Erase/Write Alternate: 24 x 80, 32 x 80, 43 x 80,
// 27 x 132), the recorded 5250 sign-on plays, and a 5250 host written here
// shows a 3477's 27 x 132 screen: at 1280 x 800, and the
// 43-row screen on a smaller window, the whole screen with its status line
// and key bar lies inside the window, centred, and the header names its
// size; A+ makes the text larger than fits, remembered after a reload,
// and Ctrl+0 fits again.  On a phone's 390 x 844 with touch an 80-column
// screen fills the width (about 4.9 px a cell) and a 132-column one stops
// at 4 px a cell and pans.  A shell's written lines stay at the top when
// larger text leaves fewer rows, and a smaller browser that joins a shared
// session sees all of its screen.  Screenshots of each state go to the
// test output.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { FIELD, screen3270, screen5250, start3270Host, start5250Host } from './block-hosts.mjs';
import { traceRecords } from './block-trace.mjs';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, SOURCE_DIR, runTest, startKavrix, waitText } from './lib.mjs';

const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'), "PS1='kvx$ '\nunset PROMPT_COMMAND\n"),
});
const base = `http://127.0.0.1:${kavrix.port}`;
const shot = (page, name) => page.screenshot({ path: path.join(OUTPUT_DIR, `${name}.png`) });

// A screen of rows x cols with text on its first and last rows and an
// input field; written with Erase/Write Alternate unless it is 24 x 80.
function bigScreen(rows, cols) {
  return screen3270({
    alternate: rows !== 24 || cols !== 80,
    cols,
    fields: [
      { row: 0, col: 1, attr: FIELD.PROTECTED, text: `TOP OF ${rows} X ${cols}` },
      { row: 2, col: 10, attr: FIELD.PROTECTED, text: 'Name . . .' },
      { row: 2, col: 22, attr: FIELD.INPUT, text: '' },
      { row: 2, col: 40, attr: FIELD.PROTECTED, text: '' },
      { row: rows - 1, col: 1, attr: FIELD.PROTECTED, text: 'PF3=Exit  BOTTOM ROW' },
    ],
    cursor: { row: 2, col: 22 },
  });
}

// The boxes of the screen's parts, and the window's size.
const layout = (page) => page.evaluate(() => {
  const box = (sel) => {
    const el = document.querySelector(sel);
    if (!el || !el.getClientRects().length) return null;
    const r = el.getBoundingClientRect();
    return { left: r.left, top: r.top, right: r.right, bottom: r.bottom, width: r.width, height: r.height };
  };
  const main = document.querySelector('main');
  return {
    grid: box('.kvx-grid'), oia: box('.kvx-oia'), keybar: box('.kvx-keybar'), terminal: box('#terminal'),
    main: box('main'), touchbar: box('#touchbar'), width: innerWidth, height: innerHeight,
    scrollWidth: main.scrollWidth, clientWidth: main.clientWidth,
  };
});

function assertInside(l, parts, what) {
  for (const part of parts) {
    const b = l[part];
    assert.ok(b, `${what}: ${part} shown`);
    assert.ok(b.left >= 0 && b.top >= 0 && b.right <= l.width + 0.5 && b.bottom <= l.height + 0.5,
      `${what}: ${part} ${JSON.stringify(b)} inside ${l.width} x ${l.height}`);
  }
}

async function openBlock(page, port, emulate, rows, cols, extra = '') {
  await page.goto(`${base}/?commtype=0&node=127.0.0.1&port=${port}&emulate=${emulate}${extra}`);
  await waitText(page, /BOTTOM ROW/, 20000);
  await page.waitForFunction(([r, c]) => window.kavrix.status()?.rows === r && window.kavrix.status()?.cols === c,
    [rows, cols]);
  await page.waitForFunction(() => window.kavrix.status()?.keyboard === '');
}

const MODELS = [
  [EM.IBM3270_MODEL2, 24, 80],
  [EM.IBM3270_MODEL3, 32, 80],
  [EM.IBM3270_MODEL4, 43, 80],
  [EM.IBM3270_MODEL5, 27, 132],
];

try {
  await runTest('fit-block-desktop', async (page) => {
    for (const [emulate, rows, cols] of MODELS) {
      for (const [width, height] of rows === 43 ? [[1280, 800], [1024, 600]] : [[1280, 800]]) {
        await page.setViewportSize({ width, height });
        const host = await start3270Host([bigScreen(rows, cols)]);
        try {
          await openBlock(page, host.port, emulate, rows, cols);
          const l = await layout(page);
          const what = `${rows} x ${cols} at ${width} x ${height}`;
          assertInside(l, ['grid', 'oia', 'keybar'], what);
          // Centred, and as large as fits: no less than 90 % of the room one way.
          const left = l.terminal.left - l.main.left;
          const right = l.main.right - l.terminal.right;
          assert.ok(Math.abs(left - right) <= 2, `${what}: centred (${left} | ${right})`);
          assert.ok(l.terminal.width >= 0.9 * (l.main.width - 24) || l.terminal.height >= 0.9 * (l.main.height - 24),
            `${what}: fills the room (${JSON.stringify(l.terminal)} in ${JSON.stringify(l.main)})`);
          assert.equal(await page.locator('#title').textContent(), `Telnet 127.0.0.1:${host.port}, ${cols} x ${rows}`);
          await shot(page, `fit-3270-${rows}x${cols}-${width}x${height}`);
        } finally {
          host.close();
        }
      }
    }

    // A+ on a 43-row screen: a size of the person's, larger than fits and
    // remembered; Ctrl+0 fits again.
    await page.setViewportSize({ width: 1280, height: 800 });
    const host = await start3270Host([bigScreen(43, 80)]);
    try {
      await openBlock(page, host.port, EM.IBM3270_MODEL4, 43, 80);
      const fitted = (await page.evaluate(() => window.kavrix.state())).shownFontSize;
      await page.locator('#font-larger').click();
      await page.locator('#font-larger').click();
      const chosen = Math.round(fitted) + 2;
      let state = await page.evaluate(() => window.kavrix.state());
      assert.equal(state.blockFontSize, chosen);
      assert.equal(state.shownFontSize, chosen);
      assert.ok((await layout(page)).keybar.bottom > 800, 'the chosen size is larger than fits');
      await page.reload();
      await waitText(page, /BOTTOM ROW/, 20000);
      await page.waitForFunction(() => window.kavrix.status()?.rows === 43);
      state = await page.evaluate(() => window.kavrix.state());
      assert.equal(state.shownFontSize, chosen, 'remembered');
      assert.equal(state.fontSize, 15, 'the character screens\' size is another');
      await page.evaluate(() => window.kavrix.focus());
      await page.keyboard.press('Control+Digit0');
      await page.waitForFunction((f) => window.kavrix.state().shownFontSize === f, fitted);
      assertInside(await layout(page), ['grid', 'oia', 'keybar'], 'fitted again');
    } finally {
      host.close();
    }

    // The recorded 5250 sign-on: 24 x 80 with its key bar.
    const trace = traceRecords(path.join(SOURCE_DIR, 'tests/fixtures/5250/blazemeter-tn5250-login.trc'));
    const host5250 = await start5250Host(trace);
    try {
      await page.goto(`${base}/?commtype=0&node=127.0.0.1&port=${host5250.port}&emulate=${EM.IBM5250}`);
      await waitText(page, /Sign On/, 20000);
      await page.waitForFunction(() => window.kavrix.status()?.keyboard === '');
      assertInside(await layout(page), ['grid', 'oia', 'keybar'], '5250 sign-on');
      const { rows, cols } = await page.evaluate(() => window.kavrix.status());
      assert.equal(cols, 80);
      assert.match(await page.locator('#title').textContent(), new RegExp(`, ${cols} x ${rows}$`));
      await shot(page, 'fit-5250-24x80');
    } finally {
      host5250.close();
    }

    // A 3477 station's 27 x 132 screen.
    const wide = screen5250({ wide: true, texts: [{ row: 1, col: 2, text: 'TOP OF 27 X 132' },
      { row: 27, col: 2, text: 'F3=Exit  BOTTOM ROW' }, { row: 27, col: 120, text: 'RIGHT END' }] });
    const host3477 = await start5250Host({ sequence: ['<'], host: [wide], terminal: [] });
    try {
      await page.goto(`${base}/?commtype=0&node=127.0.0.1&port=${host3477.port}&emulate=${EM.IBM5250}&em5250idx=1`);
      await waitText(page, /BOTTOM ROW.*RIGHT END$/, 20000);
      await page.waitForFunction(() => window.kavrix.status()?.cols === 132);
      assertInside(await layout(page), ['grid', 'oia', 'keybar'], '5250 27 x 132');
      const { rows, cols } = await page.evaluate(() => window.kavrix.status());
      assert.ok(rows >= 27, `the 3477's rows: ${rows}`);
      assert.equal(await page.locator('#title').textContent(), `Telnet 127.0.0.1:${host3477.port}, ${cols} x ${rows}`);
      await shot(page, 'fit-5250-27x132');
    } finally {
      host3477.close();
    }
  }, { viewport: { width: 1280, height: 800 } });

  await runTest('fit-block-phone', async (page) => {
    for (const [emulate, rows, cols] of [MODELS[0], MODELS[3]]) {
      const host = await start3270Host([bigScreen(rows, cols)]);
      try {
        await openBlock(page, host.port, emulate, rows, cols);
        const l = await layout(page);
        const cell = l.grid.width / cols;
        assert.ok(l.touchbar && l.touchbar.bottom <= 844.5, 'the touch bar is shown');
        if (cols === 80) {
          assertInside(l, ['grid', 'oia'], '80 columns on a phone');
          assert.ok(cell >= 4.6, `about 4.9 px a cell: ${cell}`);
          assert.equal(l.scrollWidth, l.clientWidth, 'nothing to pan');
        } else {
          assert.ok(cell >= 3.95 && cell < 4.3, `132 columns stop at 4 px a cell: ${cell}`);
          assert.ok(l.scrollWidth > l.clientWidth, 'the screen pans');
          await page.evaluate(() => document.querySelector('main').scrollTo({ left: 10000 }));
          const panned = await layout(page);
          assert.ok(Math.abs(panned.grid.right - panned.main.right) <= 2, 'panned to its right edge');
        }
        await shot(page, `fit-3270-${rows}x${cols}-phone`);
      } finally {
        host.close();
      }
    }
  }, { viewport: { width: 390, height: 844 }, hasTouch: true, isMobile: true });

  // A shell: larger text leaves fewer rows, and the written lines stay at
  // the top while rows below them are empty; smaller text again, and they
  // are still there.
  await runTest('fit-character-text-size', async (page) => {
    await page.setViewportSize({ width: 1000, height: 700 });
    await page.goto(`${base}/`);
    await waitText(page, /^kvx\$/);
    await page.evaluate(() => window.kavrix.focus());
    await page.keyboard.type("clear; printf 'mark-%s\\n' 1 2 3");
    await page.keyboard.press('Enter');
    await waitText(page, /^mark-3$/);
    const first = await page.evaluate(() => window.kavrix.size());
    for (let i = 0; i < 4; i++) await page.keyboard.press('Control+Equal');
    await page.waitForFunction((s) => window.kavrix.size().rows < s.rows && !window.kavrix.state().resizing, first);
    await page.waitForFunction(() => /^mark-1\nmark-2\nmark-3\nkvx\$/.test(window.kavrix.text()), null,
      { timeout: 10000 }).catch(async (err) => {
      throw new Error(`${err.message}: the lines left the top:\n${await page.evaluate(() => window.kavrix.text())}`);
    });
    assert.equal((await page.evaluate(() => window.kavrix.state())).kept, 0, 'nothing went to the scrollback');
    await shot(page, 'fit-character-larger');
    for (let i = 0; i < 4; i++) await page.keyboard.press('Control+Minus');
    await page.waitForFunction((s) => window.kavrix.size().rows === s.rows && !window.kavrix.state().resizing, first);
    await page.waitForFunction(() => /^mark-1\nmark-2\nmark-3\nkvx\$/.test(window.kavrix.text()));
  });

  // A browser with a smaller window joins a session of 45 x 132: it sees
  // the whole screen, its text smaller.
  await runTest('fit-shared-smaller', async (page) => {
    await page.setViewportSize({ width: 1280, height: 900 });
    await page.goto(`${base}/?rows=45&cols=132`);
    await waitText(page, /^kvx\$/);
    await page.evaluate(() => window.kavrix.focus());
    await page.keyboard.type('printf "%130s|\\n" right-edge');
    await page.keyboard.press('Enter');
    await waitText(page, /right-edge\|$/);
    const other = await page.context().browser().newPage({ viewport: { width: 760, height: 500 } });
    try {
      await other.goto(await page.evaluate(() => window.kavrix.link()));
      await waitText(other, /right-edge\|$/);
      await other.waitForFunction(() => window.kavrix.size()?.cols === 132 && window.kavrix.size()?.rows === 45);
      const l = await layout(other);
      assertInside(l, ['grid'], 'the joined screen');
      assert.ok((await other.evaluate(() => window.kavrix.state())).shownFontSize < 15, 'its text smaller');
      await other.screenshot({ path: path.join(OUTPUT_DIR, 'fit-shared-smaller.png') });
    } finally {
      await other.close();
    }
  });
} finally {
  await kavrix.stop();
}
