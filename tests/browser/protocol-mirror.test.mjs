// The page's mirrors of the numbers the session and the page share, read
// against the C++ headers that define them: every action of KVX_ACTION
// (src/lib/proto/channel_actions.h) has the same name and number in
// ACTION, every emulation setting and family of emulation_ids.h in EM and
// EM_FAMILY, and nothing else is in the mirrors; the families group the
// settings as kvx_em_family does.  The status line's fields read by name.
// Runs in node (no browser).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { EM, EM_FAMILY, family, is3270, is5250, isBlock } from '../../html/shared/kvx-emulations.js';
import { ACTION, CAPABILITIES, parseStatusLine } from '../../html/shared/kvx-protocol.js';

const SOURCE_DIR = process.env.KVX_SOURCE_DIR || path.resolve(import.meta.dirname, '../..');

const header = (name) => fs.readFileSync(path.join(SOURCE_DIR, 'src/lib/proto', name), 'utf8')
  .replace(/\/\*[\s\S]*?\*\//g, '').replace(/\/\/.*$/gm, '');

// The enumerators of `enum <name>` as a Map name -> value, counting on from
// the last explicit value as C++ does.
function enumerators(text, name) {
  const m = new RegExp(`enum\\s+${name}\\b[^{]*\\{([^}]*)\\}`).exec(text);
  assert.ok(m, `enum ${name} not found`);
  const out = new Map();
  let next = 0;
  for (const entry of m[1].split(',').map((e) => e.trim()).filter(Boolean)) {
    const e = /^(\w+)(?:\s*=\s*(0x[0-9a-fA-F]+|\d+))?$/.exec(entry);
    assert.ok(e, `enum ${name}: cannot read "${entry}"`);
    const value = e[2] === undefined ? next : Number(e[2]);
    out.set(e[1], value);
    next = value + 1;
  }
  return out;
}

// The mirror holds exactly the enumerators, named without `prefix`.
function sameNumbers(mirror, cpp, prefix, what) {
  const want = Object.fromEntries([...cpp].map(([name, value]) => {
    assert.ok(name.startsWith(prefix), `${name} lacks the prefix ${prefix}`);
    return [name.slice(prefix.length), value];
  }));
  for (const [name, value] of Object.entries(want)) assert.equal(mirror[name], value, `${what}.${name}`);
  for (const [name, value] of Object.entries(mirror)) assert.equal(want[name], value, `${what}.${name} is not in the header`);
}

const actions = header('channel_actions.h');
const emulations = header('emulation_ids.h');
sameNumbers(ACTION, enumerators(actions, 'KVX_ACTION'), 'KVX_', 'ACTION');
sameNumbers(EM, enumerators(emulations, 'KVX_EMULATION'), 'KVX_EM_', 'EM');
sameNumbers(EM_FAMILY, enumerators(emulations, 'KVX_EM_FAMILY'), 'KVX_EM_FAMILY_', 'EM_FAMILY');
assert.ok(Object.isFrozen(ACTION) && Object.isFrozen(EM) && Object.isFrozen(EM_FAMILY));
// Every capability the page names is one the session knows.
{
  const names = /kKvxCapabilityNames\[[^\]]*\]\s*=\s*\{([^}]*)\}/.exec(header('capabilities.h'));
  assert.ok(names, 'kKvxCapabilityNames not found');
  const known = [...names[1].matchAll(/"([^"]*)"/g)].map((m) => m[1]).filter(Boolean);
  assert.ok(Object.isFrozen(CAPABILITIES));
  for (const c of CAPABILITIES) assert.ok(known.includes(c), `capability ${c} is not in capabilities.h`);
  assert.deepEqual([...CAPABILITIES].sort(), [...known].sort(), 'the page names every capability it understands');
}
assert.ok(CAPABILITIES.includes('truecolor') && CAPABILITIES.includes('print'));

// kvx_em_family: the settings its cases name belong to the family they
// return; the rest are the block-mode stations of its default branch (or
// no emulation at all).
{
  const body = /kvx_em_family\(int e\)\s*\{([\s\S]*?)\n\}/.exec(emulations);
  assert.ok(body, 'kvx_em_family not found');
  const listed = new Map();
  for (const group of body[1].matchAll(/((?:case\s+KVX_EM_\w+:\s*)+)return\s+KVX_EM_FAMILY_(\w+);/g)) {
    for (const [, name] of group[1].matchAll(/case\s+KVX_EM_(\w+):/g)) listed.set(name, group[2]);
  }
  assert.ok(listed.size > 0, 'no cases read from kvx_em_family');
  for (const [name, value] of Object.entries(EM)) {
    if (listed.has(name)) {
      assert.equal(family(value), EM_FAMILY[listed.get(name)], `family of ${name}`);
      assert.equal(isBlock(value), false, `${name} is no block-mode station`);
    } else {
      assert.ok(is3270(value) !== is5250(value), `${name} is a 3270 or a 5250 station`);
      assert.equal(family(value), is3270(value) ? EM_FAMILY[3270] : EM_FAMILY[5250], `family of ${name}`);
    }
  }
  for (const stranger of [-1, Math.max(...Object.values(EM)) + 1, 'x', undefined]) assert.equal(family(stranger), EM_FAMILY.NONE, String(stranger));
  assert.deepEqual(Object.values(EM).filter(is3270),
    [EM.IBM3270_MODEL2, EM.IBM3270_MODEL3, EM.IBM3270_MODEL4, EM.IBM3270_MODEL5]);
  assert.deepEqual(Object.values(EM).filter(is5250), [EM.IBM5250, EM.IBM5250_3477]);
  assert.equal(is3270('26'), true, 'a setting read from an address');
}

// The status line by name: a 3270 line, and a 5250 one with its own two
// fields; an empty field (one blank on the wire) reads as ''.
assert.deepEqual(parseStatusLine(['3270', 'IBM-3278-4-E', '43', '80', ' ', '1', '3', '26', ' ', 'TN3270E']), {
  emulator: '3270', model: 'IBM-3278-4-E', rows: 43, cols: 80, keyboard: '', insert: true, row: 3, col: 26,
  session: '', link: 'TN3270E', error: '', messageWaiting: false, typeahead: 0, device: '', host: '',
});
assert.deepEqual(parseStatusLine(['5250', 'IBM-3179-2', '24', '80', 'X II', '0', '0', '10', ' ', 'TN5250', '0005',
  '1']), {
  emulator: '5250', model: 'IBM-3179-2', rows: 24, cols: 80, keyboard: 'X II', insert: false, row: 0, col: 10,
  session: '', link: 'TN5250', error: '0005', messageWaiting: true, typeahead: 0, device: '', host: '',
});
// Field 12: keys waiting in the typeahead ring (3270 lines carry fields 10
// and 11 empty in front of it).
assert.equal(parseStatusLine(['3270', 'IBM-DYNAMIC', '40', '132', 'X SYSTEM', '0', '0', '0', ' ', 'TN3270E', ' ', '0',
  '3']).typeahead, 3);
// The device (LU) name and host name after the typeahead count.
assert.deepEqual(
  (({ device, host }) => ({ device, host }))(parseStatusLine(['3270', 'IBM-3278-2-E', '24', '80', ' ', '0', '0', '0',
    ' ', 'TN3270E', ' ', '0', '0', 'TCP00042', 'mainframe.example'])),
  { device: 'TCP00042', host: 'mainframe.example' });
assert.equal(parseStatusLine([]).rows, 0, 'no size: the screen keeps its own');
console.log('PASS protocol-mirror');
