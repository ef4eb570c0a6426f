// Exact colours and text styles through the real server and a real shell
// on the "xterm (256 colours)" member: the shell's terminal names, a 24-bit
// colour and the styles as the page computes them, a 256-colour vim scheme
// (its text and the background it erases with), less leaving the shell
// screen as it was with no rows kept on both xterm members (xterm-color's
// alternate screen is mode 47), and a channel that names no capabilities,
// which gets cells in the nearest of the sixteen colours and no COLORS frame.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { EM } from '../../html/shared/kvx-emulations.js';
import { OUTPUT_DIR, need, runTest, startKavrix, waitText } from './lib.mjs';

const missing = need('vim', 'less', 'xterm-256color', 'xterm-color');
if (missing) {
  console.log(`SKIP colours: ${missing}`);
  process.exit(0);
}

const kavrix = await startKavrix({
  setup: (dir) => {
    fs.writeFileSync(path.join(dir, '.bashrc'), "PS1='kvx$ '\nunset PROMPT_COMMAND\n");
    // A scheme in 256-colour indexes: orange (208) on dark blue (17).
    fs.writeFileSync(path.join(dir, 'scheme.vim'), 'set nocompatible\nhi Normal ctermfg=208 ctermbg=17\n');
    fs.writeFileSync(path.join(dir, 'poem.txt'), 'orange words\non a blue night\n');
  },
});

const state = (page) => page.evaluate(() => window.kavrix.state());
const text = (page) => page.evaluate(() => window.kavrix.text());

async function run(page, command) {
  await page.keyboard.type(command);
  await page.keyboard.press('Enter');
}

// The computed look of the cell at column x of the first row whose text
// matches `pattern`.
function cellStyle(page, pattern, x) {
  return page.evaluate(([source, col]) => {
    const rows = [...document.querySelectorAll('#terminal .kvx-row')];
    const lines = window.kavrix.text().split('\n');
    const y = lines.findIndex((l) => new RegExp(source).test(l));
    if (y < 0) return null;
    // Walk the row's text nodes to the column's character.
    const walker = document.createTreeWalker(rows[y], NodeFilter.SHOW_TEXT);
    let at = 0;
    for (let n = walker.nextNode(); n; n = walker.nextNode()) {
      if (col < at + n.length) {
        const s = getComputedStyle(n.parentElement);
        return {
          color: s.color, background: s.backgroundColor, fontStyle: s.fontStyle,
          decoration: s.textDecorationLine, decorationStyle: s.textDecorationStyle,
        };
      }
      at += n.length;
    }
    return null;
  }, [pattern.source, x]);
}

// A new tab (so a session of its own) with a shell on the member.
async function openShell(browserPage, emulate) {
  const page = await browserPage.context().browser().newPage();
  await page.setViewportSize({ width: 1000, height: 700 });
  await page.goto(`http://127.0.0.1:${kavrix.port}/?rows=24&cols=80&emulate=${emulate}`);
  await waitText(page, /^kvx\$/, 60000);
  return page;
}

try {
  await runTest('colours', async (first) => {
    const page = await openShell(first, EM.XTERM256);
    await run(page, 'echo "term=$TERM colorterm=$COLORTERM"');
    await waitText(page, /^term=xterm-256color colorterm=truecolor$/);

    // A 24-bit colour, italic, strike-through, a double and a curly
    // underline in another colour, each ended by its own reset.
    await run(page, "printf 'X\\e[38;2;255;128;0mO\\e[39m \\e[3mI\\e[23mn \\e[9mS\\e[29ms \\e[4:2mD\\e[4:3;58;5;196mC\\e[24mu\\n'");
    await waitText(page, /^XO In Ss DCu$/);
    const look = {};
    for (const [name, x] of Object.entries({ X: 0, O: 1, I: 3, n: 4, S: 6, s: 7, D: 9, C: 10, u: 11 }))
      look[name] = await cellStyle(page, /^XO In Ss DCu$/, x);
    assert.equal(look.O.color, 'rgb(255, 128, 0)');
    // The text before the colour and after its reset is in the scheme's
    // default colour, whichever scheme the browser follows.
    assert.equal(look.X.color, look.n.color, 'before the colour: the normal one');
    assert.notEqual(look.X.color, look.O.color);
    assert.equal(look.I.fontStyle, 'italic');
    assert.equal(look.n.fontStyle, 'normal');
    assert.match(look.S.decoration, /line-through/);
    assert.doesNotMatch(look.s.decoration, /line-through/);
    assert.match(look.D.decoration, /underline/);
    assert.equal(look.D.decorationStyle, 'double');
    assert.equal(look.C.decorationStyle, 'wavy');
    assert.doesNotMatch(look.u.decoration, /underline/);
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'colours.png') });

    // vim with a 256-colour scheme: its text and the blanks it erases with.
    await run(page, 'vim -u scheme.vim poem.txt');
    await waitText(page, /^orange words$/);
    await page.waitForFunction(() => window.kavrix.state().modes.alternate);
    await page.waitForFunction(() => {
      const spans = [...document.querySelectorAll('#terminal .kvx-row span')];
      return spans.some((s) => getComputedStyle(s).color === 'rgb(255, 135, 0)');
    });
    const word = await cellStyle(page, /^orange words$/, 0);
    assert.equal(word.color, 'rgb(255, 135, 0)');
    assert.equal(word.background, 'rgb(0, 0, 95)');
    const blank = await cellStyle(page, /^on a blue night$/, 60);
    assert.equal(blank.background, 'rgb(0, 0, 95)', 'erased in the scheme\'s background');
    await page.keyboard.type(':q');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => !window.kavrix.state().modes.alternate);
    await waitText(page, /^kvx\$ vim -u scheme.vim poem.txt$/);
    assert.doesNotMatch(await text(page), /orange words/);
    assert.equal((await state(page)).kept, 0, 'vim\'s rows kept above the screen');

    // The host erases the saved rows (E3): the page is told none are kept.
    await run(page, 'seq 60');
    await page.waitForFunction(() => window.kavrix.state().kept > 30);
    await run(page, "printf '\\e[3J'");
    await page.waitForFunction(() => window.kavrix.state().kept === 0);

    // less on both xterm members (xterm-color's alternate screen is mode
    // 47, xterm-256color's is 1049): the shell screen as it was, nothing
    // kept. Debian's top (procps 4) draws on the normal screen and leaves
    // its last screen there, in xterm as here, so it cannot show this.
    for (const emulate of [EM.XTERM256, EM.XTERM]) {
      const page = await openShell(first, emulate);
      await run(page, 'clear; for i in 1 2 3; do echo "before $i"; done');
      await waitText(page, /^before 3$/);
      await page.waitForFunction(() => /^kvx\$ *$/m.test(window.kavrix.text().split('\n').slice(-24).join('\n')));
      const before = (await text(page)).replace(/\s+$/, '');
      const kept = (await state(page)).kept;
      await run(page, 'less poem.txt');
      await page.waitForFunction(() => window.kavrix.state().modes.alternate);
      await waitText(page, /^on a blue night$/);
      await page.keyboard.press('q');
      await page.waitForFunction((b) => !window.kavrix.state().modes.alternate &&
        window.kavrix.text().replace(/\s+$/, '') !== b &&
        /^kvx\$ less poem.txt\nkvx\$ *$/m.test(window.kavrix.text()), before);
      const after = (await text(page)).replace(/\s+$/, '');
      assert.equal(after, `${before} less poem.txt\nkvx$`, `emulation ${emulate}: the shell screen after less`);
      assert.equal((await state(page)).kept, kept, `emulation ${emulate}: rows kept by less`);
      await page.close();
    }

    // A channel that names no capabilities: the same screen in the nearest
    // of the sixteen colours (xterm's: 63, (95,95,255), is nearest its light
    // blue), and no COLORS frame.
    const other = await openShell(first, EM.XTERM256);
    await run(other, "clear; printf '\\e[38;2;255;0;0mR\\e[48;5;63mB\\e[0m\\n'");
    await waitText(other, /^RB$/);
    const plain = await other.evaluate(async (id) => {
      const { encodeFrame, decodeFrame } = await import('/kvx-channel.js');
      const { ACTION } = await import('/kvx-protocol.js');
      const ws = new WebSocket(`ws://${location.host}/get_te_channel?session=${encodeURIComponent(id)}`, 'teCtrl');
      ws.binaryType = 'arraybuffer';
      const frames = [];
      ws.onmessage = (ev) => { const f = decodeFrame(ev.data); if (f) frames.push(f); };
      await new Promise((resolve) => { ws.onopen = resolve; });
      ws.send(encodeFrame(ACTION.CLIENT_ACTION_REFRESH));
      // The refresh's update, then a while for any COLORS frame after it.
      for (let end = Date.now() + 30000; Date.now() < end && !frames.some((f) => f.action === ACTION.HOST_ACTION_UPDATE);)
        await new Promise((resolve) => setTimeout(resolve, 50));
      await new Promise((resolve) => setTimeout(resolve, 1500));
      ws.close();
      const update = frames.find((f) => f.action === ACTION.HOST_ACTION_UPDATE);
      if (!update) return null;
      const [left, , right] = update.fields[0].split(':').map(Number);
      const view = new DataView(update.data.buffer, update.data.byteOffset, update.data.byteLength);
      const width = right - left + 1;
      // The rows of the update: find "RB" and give its cells' low words.
      for (let i = 0; i + 1 < update.data.length / 8; i++) {
        const cp = view.getUint32(i * 8 + 4, true) & 0x7fffffff;
        const next = view.getUint32(i * 8 + 12, true) & 0x7fffffff;
        if (cp === 0x52 && next === 0x42 && (i % width) === 0) {
          return { r: view.getUint32(i * 8, true), b: view.getUint32(i * 8 + 8, true),
            colours: frames.filter((f) => f.action === ACTION.HOST_ACTION_COLORS).length };
        }
      }
      return { colours: -1 };
    }, (await state(other)).session.id);
    assert.ok(plain && plain.r !== undefined, JSON.stringify(plain));
    assert.equal(plain.colours, 0, 'COLORS frames to a channel that did not ask');
    assert.equal((plain.r >>> 24) & 0x0f, 12, 'R in the light red of the sixteen');
    assert.equal((plain.b >>> 28) & 0x0f, 9, 'B on the light blue of the sixteen');
    assert.equal(plain.r & 0xe000, 0, 'no engine-private bits');
  });
} finally {
  await kavrix.stop();
}
