// Recorded block-mode sessions for the browser tests' hosts: the records of
// a trace file (the .trc files of tests/fixtures), telnet framing undone.
import fs from 'node:fs';
import { TelnetReader } from './lib.mjs';

// The host's records and the terminal's of a trace (negotiation left out:
// the hosts here negotiate on their own); `sequence` names the side of each
// record in the order the records completed ('<' host, '>' terminal).
export function traceRecords(file) {
  const records = { '<': [], '>': [] };
  const sequence = [];
  const readers = {};
  for (const side of ['<', '>']) {
    readers[side] = new TelnetReader({
      record: (rec) => {
        records[side].push(rec);
        sequence.push(side);
      },
    });
  }
  for (const line of fs.readFileSync(file, 'latin1').split('\n')) {
    const m = /^([<>]) 0x[0-9a-f]+\s+([0-9a-f]+)\s*$/.exec(line);
    if (m) readers[m[1]].push(Buffer.from(m[2], 'hex'));
  }
  return { host: records['<'], terminal: records['>'], sequence };
}
