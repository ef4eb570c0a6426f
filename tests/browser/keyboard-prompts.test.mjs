// The page's side of keys and prompts against a channel played here (the
// page still starts its session on the real server): the key codes the
// page gives each kind of key press, the three prompts as dialogs with the
// answers they send, a prompt that ends elsewhere, and keys after a prompt.
// The page names its capabilities first thing on the channel.
import assert from 'node:assert/strict';
import path from 'node:path';
import { decodeFrame, encodeFrame } from '../../html/shared/kvx-channel.js';
import { ACTION } from '../../html/shared/kvx-protocol.js';
import { OUTPUT_DIR, runTest, startKavrix } from './lib.mjs';

const kavrix = await startKavrix();

// Key presses and the codes the page sends for them (U+E000 + key code - 256
// for terminal keys).
const K = (code) => 0xe000 + code - 256;
const KEYS = [
  [{ key: 'a', code: 'KeyA' }, [0x61]],
  [{ key: 'é', code: 'Digit2' }, [0xe9]],
  [{ key: '😀' }, [0xd83d, 0xde00]],
  [{ key: 'Enter', code: 'Enter' }, [13]],
  [{ key: 'Enter', code: 'NumpadEnter', location: 3 }, [K(294)]],
  [{ key: 'Enter', code: 'Enter', ctrlKey: true }, [K(309)]],
  [{ key: 'Escape' }, [27]],
  [{ key: 'Tab' }, [9]],
  [{ key: 'Tab', shiftKey: true }, [K(305)]],
  [{ key: 'Backspace' }, [K(319)]],
  [{ key: 'Backspace', ctrlKey: true }, [K(308)]],
  [{ key: 'ArrowUp' }, [K(276)]],
  [{ key: 'ArrowLeft', ctrlKey: true }, [K(303)]],
  [{ key: 'ArrowLeft', altKey: true }, [K(1213)]],  // A-LEFT, not the browser's history
  [{ key: 'ArrowUp', shiftKey: true }, [K(1200)]],  // S-UP
  [{ key: 'Delete', ctrlKey: true, shiftKey: true }, [K(1239)]],  // CS-DELETE
  [{ key: 'PageUp', shiftKey: true }, [K(296)]],  // plain: the page's own view may take it
  [{ key: 'F5', altKey: true, shiftKey: true }, [K(1264)]],  // ASF5
  [{ key: 'F1', ctrlKey: true, altKey: true }, [K(1272)]],  // CAF1
  [{ key: 'B', code: 'KeyB', altKey: true, shiftKey: true }, [27, 0x42]],
  [{ key: '.', code: 'Period', altKey: true }, [27, 0x2e]],
  [{ key: 'Backspace', altKey: true }, [27, K(319)]],
  [{ key: '^', code: 'Digit6', ctrlKey: true, shiftKey: true }, [30]],
  [{ key: '/', code: 'Slash', ctrlKey: true }, [31]],
  [{ key: 'x', code: 'KeyX', ctrlKey: true, altKey: true }, [27, 24]],
  [{ key: 'Home' }, [K(280)]],
  [{ key: 'End' }, [K(298)]],
  [{ key: 'PageUp' }, [K(296)]],
  [{ key: 'PageDown' }, [K(295)]],
  [{ key: 'Insert' }, [K(300)]],
  [{ key: 'Delete' }, [K(301)]],
  [{ key: 'F1' }, [K(256)]],
  [{ key: 'F20' }, [K(275)]],
  [{ key: 'F5', shiftKey: true }, [K(333)]],
  [{ key: 'F5', ctrlKey: true }, [K(353)]],
  [{ key: 'F4', altKey: true }, [K(372)]],
  [{ key: 'F12', ctrlKey: true, shiftKey: true }, [K(400)]],
  [{ key: '5', code: 'Numpad5', location: 3 }, [K(286)]],
  [{ key: '-', code: 'NumpadSubtract', location: 3 }, [K(291)]],
  [{ key: 'Clear', code: 'Numpad5', location: 3 }, [K(324)]],
  [{ key: 'c', code: 'KeyC', ctrlKey: true }, [3]],
  [{ key: 'с', code: 'KeyC', ctrlKey: true }, [3]],  // a Cyrillic layout
  [{ key: 'w', code: 'KeyW', ctrlKey: true }, [23]],
  [{ key: 'n', code: 'KeyN', ctrlKey: true }, [14]],
  [{ key: '[', code: 'BracketLeft', ctrlKey: true }, [27]],
  [{ key: ' ', code: 'Space', ctrlKey: true }, [0]],
  [{ key: 'a', code: 'KeyA', altKey: true }, [K(409)]],
  [{ key: 'å', code: 'KeyA', altKey: true }, [K(409)]],
  [{ key: 'z', code: 'KeyZ', altKey: true }, [K(434)]],
  [{ key: '1', code: 'Digit1', altKey: true }, [K(435)]],
  [{ key: '0', code: 'Digit0', altKey: true }, [K(444)]],
  [{ key: '@', code: 'KeyQ', ctrlKey: true, altKey: true, modifierAltGraph: true }, [0x40]],
  [{ key: 'Shift', code: 'ShiftLeft', shiftKey: true }, []],
  // Left to the browser: null.
  [{ key: 'R', code: 'KeyR', ctrlKey: true, shiftKey: true }, null],
  [{ key: 'V', code: 'KeyV', ctrlKey: true, shiftKey: true }, null],
  [{ key: 'Tab', ctrlKey: true }, null],
  [{ key: 'PageDown', ctrlKey: true }, null],
  [{ key: '1', code: 'Digit1', ctrlKey: true }, null],
  [{ key: 'c', code: 'KeyC', metaKey: true }, null],
  [{ key: 'Insert', shiftKey: true }, null],
  [{ key: 'Dead', code: 'BracketLeft' }, null],
  [{ key: 'Process', keyCode: 229 }, null],
];

// The channel, played by the test: frames the page sent, and a way to send.
function fakeChannel(page) {
  const state = { frames: [], sent: [], socket: null, waiters: [] };
  state.send = (action, fields = []) => state.socket.send(Buffer.from(encodeFrame(action, fields)));
  state.next = async (action, timeout = 15000) => {
    const end = Date.now() + timeout;
    for (;;) {
      const i = state.frames.findIndex((f) => f.action === action);
      if (i >= 0) return state.frames.splice(i, 1)[0];
      if (Date.now() > end) throw new Error(`no frame ${action}; have ${JSON.stringify(state.frames)}`);
      await new Promise((r) => setTimeout(r, 20));
    }
  };
  return page.routeWebSocket(/get_te_channel/, (ws) => {
    state.socket = ws;
    ws.onMessage((message) => {
      const bytes = typeof message === 'string' ? Buffer.from(message) : message;
      const frame = decodeFrame(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length));
      if (frame) {
        const key = frame.action === ACTION.CLIENT_ACTION_ONKEY ? new DataView(frame.data.buffer, frame.data.byteOffset).getInt32(0, true) : undefined;
        state.frames.push({ action: frame.action, fields: frame.fields, key });
        state.sent.push(frame.action);
      }
    });
  }).then(() => state);
}

try {
  await runTest('keyboard-prompts', async (page) => {
    await page.setViewportSize({ width: 1000, height: 700 });
    const channel = await fakeChannel(page);
    await page.goto(`http://127.0.0.1:${kavrix.port}/?rows=24&cols=80`);
    await channel.next(ACTION.CLIENT_ACTION_REFRESH, 60000);
    // The capabilities (exact colours and styles, print jobs) before anything else.
    assert.deepEqual(channel.sent.slice(0, 2), [ACTION.CLIENT_ACTION_CAPABILITIES, ACTION.CLIENT_ACTION_REFRESH]);
    assert.deepEqual((await channel.next(ACTION.CLIENT_ACTION_CAPABILITIES)).fields, ['truecolor', 'print']);
    channel.send(ACTION.HOST_ACTION_CONNECTED, ['1']);
    await page.waitForFunction(() => window.kavrix.state().hostConnected);

    // What each key press gives.
    const given = await page.evaluate(async (keys) => {
      const { classify } = await import('/kvx-keyboard.js');
      return keys.map(([init]) => {
        const what = classify(new KeyboardEvent('keydown', init));
        if (what.browser || what.compose) return null;
        return what.send || [];
      });
    }, KEYS);
    KEYS.forEach(([init, codes], i) => assert.deepEqual(given[i], codes, JSON.stringify(init)));

    // Real presses reach the channel as key frames.
    await page.keyboard.press('x');
    await page.keyboard.press('F3');
    await page.keyboard.press('Control+u');
    assert.deepEqual([(await channel.next(ACTION.CLIENT_ACTION_ONKEY)).key, (await channel.next(ACTION.CLIENT_ACTION_ONKEY)).key,
      (await channel.next(ACTION.CLIENT_ACTION_ONKEY)).key], [0x78, K(258), 21]);

    // A password entry: masked, saved, answered with 3.
    channel.send(ACTION.HOST_ACTION_GET_ENTRY, ['Private Key Password', 'Enter the password of the key', '1']);
    const input = page.locator('dialog[open] .kvx-dialog-input');
    await input.waitFor();
    assert.equal(await input.getAttribute('type'), 'password');
    assert.equal(await page.locator('dialog[open] h2').textContent(), 'Private Key Password');
    await page.keyboard.type('pa ss%é');  // typing goes to the dialog, not the host
    await page.locator('dialog[open] .kvx-dialog-save').check();
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'keyboard-prompt-entry.png') });
    await page.keyboard.press('Enter');
    assert.deepEqual((await channel.next(ACTION.CLIENT_ACTION_GET_ENTRY_RESPONSE)).fields, ['pa ss%é', '3']);
    assert.equal(await page.locator('dialog[open]').count(), 0);
    assert.equal(channel.frames.filter((f) => f.action === ACTION.CLIENT_ACTION_ONKEY).length, 0);

    // A plain entry answered with the button, one cancelled with Escape.
    channel.send(ACTION.HOST_ACTION_GET_ENTRY, ['User', 'Login name', '0']);
    await input.waitFor();
    assert.equal(await input.getAttribute('type'), 'text');
    await input.fill('guest');
    await page.locator('dialog[open] button', { hasText: 'OK' }).click();
    assert.deepEqual((await channel.next(ACTION.CLIENT_ACTION_GET_ENTRY_RESPONSE)).fields, ['guest', '1']);
    channel.send(ACTION.HOST_ACTION_GET_ENTRY, ['User', 'Login name', '0']);
    await input.waitFor();
    await input.fill('typed');
    await page.keyboard.press('Escape');
    assert.deepEqual((await channel.next(ACTION.CLIENT_ACTION_GET_ENTRY_RESPONSE)).fields, [' ', '0']);

    // Yes/no: the buttons give 1 and 0, Enter yes, Escape no.
    for (const [act, answer] of [['Yes', '1'], ['No', '0'], ['Enter', '1'], ['Escape', '0']]) {
      channel.send(ACTION.HOST_ACTION_GET_YESNO, ['Unknown host key', 'Accept the key of example.org?']);
      await page.locator('dialog[open].kvx-dialog-yesno').waitFor();
      if (act === 'Yes' || act === 'No') await page.locator('dialog[open] button', { hasText: act }).click();
      else await page.keyboard.press(act);
      assert.deepEqual((await channel.next(ACTION.CLIENT_ACTION_GET_YESNO_RESPONSE)).fields, [answer], act);
    }

    // A fatal error is shown until acknowledged, and stays on the page.
    channel.send(ACTION.HOST_ACTION_SHOW_FATAL_ERROR, ['1', 'Connection to host.example failed']);
    await page.locator('dialog[open].kvx-dialog-fatal').waitFor();
    assert.equal(await page.locator('dialog[open] .kvx-dialog-message').textContent(),
      'Connection to host.example failed');
    await page.screenshot({ path: path.join(OUTPUT_DIR, 'keyboard-prompt-error.png') });
    await page.locator('dialog[open] button').click();
    assert.deepEqual((await channel.next(ACTION.CLIENT_ACTION_ACK_FATAL_ERROR)).fields, []);
    assert.equal(await page.locator('#message').textContent(), 'Connection to host.example failed');

    // A question another browser answered: the next frame closes it and the
    // page sends nothing for it.
    channel.send(ACTION.HOST_ACTION_GET_YESNO, ['Question', 'Go on?']);
    await page.locator('dialog[open]').waitFor();
    channel.send(ACTION.HOST_ACTION_CONNECTED, ['1']);
    await page.waitForFunction(() => !document.querySelector('dialog[open]'));
    assert.equal(channel.frames.filter((f) => f.action === ACTION.CLIENT_ACTION_GET_YESNO_RESPONSE).length, 0);

    // Typing goes to the terminal again.
    await page.keyboard.press('q');
    assert.equal((await channel.next(ACTION.CLIENT_ACTION_ONKEY)).key, 0x71);

    // A notice that another emulation runs is shown, stays when the host
    // connects, and goes with an empty one.
    const notice = 'Emulation WYSE50 is not available here; the session runs ANSI.';
    channel.send(ACTION.HOST_ACTION_NOTICE, ['emulation', notice]);
    await page.waitForFunction((t) => document.querySelector('#message').textContent === t, notice);
    channel.send(ACTION.HOST_ACTION_CONNECTED, ['1']);
    channel.send(ACTION.HOST_ACTION_CONNECTED, ['1']);
    await page.waitForTimeout(200);
    assert.equal(await page.locator('#message').textContent(), notice);
    assert.equal(await page.locator('#message').isVisible(), true);
    channel.send(ACTION.HOST_ACTION_NOTICE, ['emulation', '']);
    await page.waitForFunction(() => document.querySelector('#message').hidden);

    // A right click puts the input under the pointer, so that the context
    // menu offers to paste into it; the paste goes out as keys.
    const box = await page.locator('#terminal').boundingBox();
    const [px, py] = [box.x + 200, box.y + 150];
    await page.mouse.click(px, py, { button: 'right' });
    assert.equal(await page.evaluate(([x, y]) => document.elementFromPoint(x, y)?.className, [px, py]),
      'kvx-input kvx-input-pointer');
    await page.evaluate(() => {
      const data = new DataTransfer();
      data.setData('text/plain', 'ab\r\n😀');
      document.activeElement.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
    });
    // Two lines into a shell: the page asks first.
    await page.locator('dialog[open] button[data-answer="1"]').click();
    const pasted = [];
    for (let i = 0; i < 5; i++) pasted.push((await channel.next(ACTION.CLIENT_ACTION_ONKEY)).key);
    assert.deepEqual(pasted, [0x61, 0x62, 13, 0xd83d, 0xde00]);

    // A channel that opens again names the capabilities again, first.
    const before = channel.sent.length;
    await page.evaluate(() => window.kavrix.dropChannel());
    await channel.next(ACTION.CLIENT_ACTION_REFRESH, 30000);
    assert.deepEqual(channel.sent.slice(before, before + 2),
      [ACTION.CLIENT_ACTION_CAPABILITIES, ACTION.CLIENT_ACTION_REFRESH]);
  });
} finally {
  await kavrix.stop();
}
