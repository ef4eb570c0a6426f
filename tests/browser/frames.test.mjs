// The page's channel frame codec against the frame format: field escapes,
// heads with and without fields, data, key frames and incomplete messages.
import assert from 'node:assert/strict';
import { decodeField, decodeFrame, encodeField, encodeFrame, keyFrame } from '../../html/shared/kvx-channel.js';
import { ACTION } from '../../html/shared/kvx-protocol.js';

const text = (bytes) => new TextDecoder().decode(bytes);
const bytes = (s) => new TextEncoder().encode(s);

// Field escapes, both ways.
for (const [plain, wire] of [['', ' '], ['abc', 'abc'], ['50%\t', '50%25%09'], ['é\x7f', '%c3%a9%7f'],
  ['a b:c', 'a b:c']]) {
  assert.equal(encodeField(plain), wire, plain);
  if (plain) assert.equal(decodeField(bytes(wire)), plain, wire);
}
assert.equal(decodeField(bytes('%zz%4')), '%zz%4', 'a "%" without two hex digits stays');
assert.equal(decodeField(bytes('%4A')), 'J', 'upper-case digits decode too');

// Built frames are exactly the wire format, and decode back.
assert.equal(text(encodeFrame(ACTION.CLIENT_ACTION_REFRESH)), 'KVX 1.0\n4000\n\n0\n');
assert.equal(text(encodeFrame(ACTION.CLIENT_ACTION_GET_ENTRY_RESPONSE, ['secret word', ''])), 'KVX 1.0\n4003\nsecret word\n \n\n0\n');
const key = keyFrame(-2);
assert.equal(text(key.subarray(0, 16)), 'KVX 1.0\n4002\n\n4\n');
assert.deepEqual([...key.subarray(16)], [0xfe, 0xff, 0xff, 0xff]);

const data = new Uint8Array([1, 2, 10, 0, 255]);
const built = encodeFrame(ACTION.HOST_ACTION_UPDATE, ['0:0:4:0'], data);
const frame = decodeFrame(built.buffer);
assert.equal(frame.action, 2);
assert.deepEqual(frame.fields, ['0:0:4:0']);
assert.deepEqual([...frame.data], [...data]);

const cursor = decodeFrame(bytes('KVX 1.0\n3\n12:7\n0\n\n0\n').buffer);
assert.deepEqual([cursor.action, cursor.fields], [3, ['12:7', '0']]);

// Incomplete or foreign messages are not frames.
assert.equal(decodeFrame(built.buffer.slice(0, built.length - 1)), null);
assert.equal(decodeFrame(bytes('KVX 1.0\n2\n').buffer), null);
assert.equal(decodeFrame(bytes('HTTP/1.1\nx\n\n0\n').buffer), null);
console.log('PASS frames');
