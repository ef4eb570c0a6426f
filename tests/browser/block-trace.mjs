// Recorded block-mode sessions for the browser tests' hosts: the records of
// a trace file (the .trc files of tests/fixtures) and the telnet framing of
// a record.
import fs from 'node:fs';

// The host's records and the terminal's of a trace, telnet framing undone
// (negotiation left out: the host here negotiates on its own); `sequence`
// names the side of each record in the order the records completed
// ('<' host, '>' terminal).
export function traceRecords(file) {
  const sides = {};
  const sequence = [];
  for (const side of ['<', '>']) sides[side] = { records: [], cur: [], state: 0 };
  const take = (side, b) => {
    const s = sides[side];
    // state: 0 data, 1 after IAC, 2 option byte, 3 subnegotiation, 4 IAC in it
    if (s.state === 0) {
      if (b === 0xff) s.state = 1;
      else s.cur.push(b);
    } else if (s.state === 1) {
      s.state = 0;
      if (b === 0xff) s.cur.push(0xff);
      else if (b === 0xef) { s.records.push(Buffer.from(s.cur)); s.cur = []; sequence.push(side); }
      else if (b >= 0xfb && b <= 0xfe) s.state = 2;
      else if (b === 0xfa) s.state = 3;
    } else if (s.state === 2) {
      s.state = 0;
    } else if (s.state === 3) {
      if (b === 0xff) s.state = 4;
    } else {
      s.state = b === 0xf0 ? 0 : 3;
    }
  };
  for (const line of fs.readFileSync(file, 'latin1').split('\n')) {
    const m = /^([<>]) 0x[0-9a-f]+\s+([0-9a-f]+)\s*$/.exec(line);
    if (!m) continue;
    for (let i = 0; i < m[2].length; i += 2) take(m[1], parseInt(m[2].slice(i, i + 2), 16));
  }
  return { host: sides['<'].records, terminal: sides['>'].records, sequence };
}

export const frame = (rec) => {
  const out = [];
  for (const b of rec) { out.push(b); if (b === 0xff) out.push(0xff); }
  return Buffer.from([...out, 0xff, 0xef]);
};
