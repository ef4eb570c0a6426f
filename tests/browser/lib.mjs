// Shared helpers for the browser tests: Debian's chromium through
// playwright-core (no downloaded browser) and the real Kavrix binary.
import { chromium } from 'playwright-core';
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

export const SOURCE_DIR = process.env.KVX_SOURCE_DIR || path.resolve(import.meta.dirname, '../..');
export const BINARY_DIR = process.env.KVX_BINARY_DIR || path.join(SOURCE_DIR, 'build');
export const OUTPUT_DIR = process.env.KVX_BROWSER_OUTPUT || path.join(BINARY_DIR, 'browser-output');

// What the tests use from outside the project, as tests/deps.list names it:
// '' when every named program, file or terminfo entry is present, otherwise
// why not, naming the package that brings it.
export function need(...names) {
  const list = fs.readFileSync(path.join(SOURCE_DIR, 'tests/deps.list'), 'utf8');
  const deps = new Map();
  for (const line of list.split('\n')) {
    if (!line.trim() || line.startsWith('#')) continue;
    const [kind, name, pkg] = line.trim().split(/\s+/);
    deps.set(name, { kind, pkg });
  }
  for (const name of names) {
    const dep = deps.get(name);
    if (!dep) return `${name} is not listed in tests/deps.list`;
    let present;
    if (dep.kind === 'program') {
      const dirs = `${process.env.PATH || ''}:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin`.split(':');
      present = name.includes('/') ? fs.existsSync(name) : dirs.some((d) => d && fs.existsSync(path.join(d, name)));
    } else if (dep.kind === 'file') {
      present = fs.existsSync(name);
    } else if (dep.kind === 'terminfo') {
      try {
        execFileSync('infocmp', ['-x', name], { stdio: 'ignore' });
        present = true;
      } catch {
        present = false;
      }
    } else {
      present = fs.existsSync(path.join(SOURCE_DIR, 'tests/browser/node_modules', name, 'package.json'));
    }
    if (!present) return `needs ${dep.pkg} for ${dep.kind} ${name} (scripts/install-deps.sh test)`;
  }
  return '';
}

export async function launchBrowser() {
  // playwright gives every launch a fresh, empty profile of its own.
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--no-first-run', '--disable-quic'],
  });
}

// Starts Kavrix in a fresh working directory (html/, codepage.dat, the
// executable as ./Kavrix) on a port the system chooses; resolves with
// { port, proc, dir, stop() } once the start-up line names the port.
// `setup(dir)` may add files (for example a HOME with its own .bashrc).
export async function startKavrix({ args = [], env = {}, setup } = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kvx-run-'));
  fs.symlinkSync(path.join(SOURCE_DIR, 'html'), path.join(dir, 'html'));
  const cp = path.join(SOURCE_DIR, 'codepage.dat');
  if (fs.existsSync(cp)) fs.symlinkSync(cp, path.join(dir, 'codepage.dat'));
  fs.mkdirSync(path.join(dir, 'certs'));
  fs.symlinkSync(path.join(BINARY_DIR, 'Kavrix'), path.join(dir, 'Kavrix'));
  if (setup) await setup(dir);
  const proc = spawn('./Kavrix', ['-p', '0', ...args], {
    cwd: dir, env: { HOME: dir, ...env }, stdio: ['ignore', 'pipe', 'pipe'],
  });
  let log = '';
  const port = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`Kavrix did not start:\n${log}`)), 30000);
    const onData = (chunk) => {
      log += chunk;
      const m = /listening on \[[^:\]]*:(\d+)\]/.exec(log);
      if (m) { clearTimeout(timer); resolve(Number(m[1])); }
    };
    proc.stdout.on('data', onData);
    proc.stderr.on('data', onData);
    proc.on('exit', (code) => { clearTimeout(timer); reject(new Error(`Kavrix exited ${code}:\n${log}`)); });
  });
  const stop = async () => {
    if (proc.exitCode !== null) return;
    const done = new Promise((r) => proc.on('exit', r));
    proc.kill('SIGTERM');
    const t = setTimeout(() => proc.kill('SIGKILL'), 10000);
    await done;
    clearTimeout(t);
    fs.rmSync(dir, { recursive: true, force: true });
  };
  return { port, proc, dir, stop, log: () => log };
}

// A CA and a server certificate for 127.0.0.1 signed by it, made with the
// openssl command line: dir/server.pem (certificate), dir/server-key.pem.
export function generateCerts(dir) {
  fs.mkdirSync(dir, { recursive: true });
  const run = (args) => execFileSync('openssl', args, { cwd: dir, stdio: 'ignore' });
  run(['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'ca-key.pem', '-out', 'ca.pem', '-days', '2',
    '-subj', '/CN=Kavrix Test CA']);
  run(['req', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'server-key.pem', '-out', 'server.csr', '-subj',
    '/CN=localhost']);
  fs.writeFileSync(path.join(dir, 'san.ext'), 'subjectAltName=IP:127.0.0.1,DNS:localhost\n');
  run(['x509', '-req', '-in', 'server.csr', '-CA', 'ca.pem', '-CAkey', 'ca-key.pem', '-CAcreateserial', '-out',
    'server.pem', '-days', '2', '-extfile', 'san.ext']);
}

// Debian's nginx on 127.0.0.1 as a TLS-terminating proxy, a plain process
// with one of the repository's example configurations (dist/nginx/*.conf):
// `ports` maps its upstream ports (8080, ...) to the real ones, its
// "listen 443" becomes a free port, its certificates those in `certsDir`.
// Resolves with { port, stop(), log() }.
export async function startNginx(example, ports, certsDir) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kvx-nginx-'));
  fs.chmodSync(dir, 0o755);  // run as root, its workers are another user
  let conf = fs.readFileSync(path.join(SOURCE_DIR, 'dist', 'nginx', example), 'utf8');
  for (const [from, to] of Object.entries(ports)) conf = conf.replaceAll(`127.0.0.1:${from};`, `127.0.0.1:${to};`);
  const port = await new Promise((resolve) => {
    const probe = net.createServer().listen(0, '127.0.0.1', () => {
      const { port: p } = probe.address();
      probe.close(() => resolve(p));
    });
  });
  conf = conf.replace('listen 443 ssl;', `listen 127.0.0.1:${port} ssl;`).replaceAll('/etc/kavrix/certs/', `${certsDir}/`);
  fs.writeFileSync(path.join(dir, 'kavrix.conf'), conf);
  const temp = ['client_body', 'proxy', 'fastcgi', 'uwsgi', 'scgi'].map((t) => `  ${t}_temp_path ${dir}/${t};`).join('\n');
  fs.writeFileSync(path.join(dir, 'nginx.conf'), `worker_processes 1;\npid ${dir}/nginx.pid;\n`
    + `error_log ${dir}/error.log info;\nevents { worker_connections 1024; }\n`
    + `http {\n  access_log ${dir}/access.log;\n${temp}\n  include ${dir}/kavrix.conf;\n}\n`);
  const proc = spawn('/usr/sbin/nginx', ['-p', `${dir}/`, '-e', `${dir}/error.log`, '-c', `${dir}/nginx.conf`,
    '-g', 'daemon off;'], { stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '';
  proc.stdout.on('data', (c) => { out += c; });
  proc.stderr.on('data', (c) => { out += c; });
  const log = () => out + ['error.log', 'access.log'].map((f) => {
    try { return fs.readFileSync(path.join(dir, f), 'utf8'); } catch { return ''; }
  }).join('');
  const deadline = Date.now() + 30000;
  for (;;) {
    if (proc.exitCode !== null) throw new Error(`nginx exited ${proc.exitCode}:\n${log()}`);
    const up = await new Promise((resolve) => {
      const s = net.connect(port, '127.0.0.1', () => { s.destroy(); resolve(true); });
      s.on('error', () => resolve(false));
    });
    if (up) break;
    if (Date.now() > deadline) throw new Error(`nginx did not start:\n${log()}`);
    await new Promise((r) => setTimeout(r, 50));
  }
  const stop = async () => {
    if (proc.exitCode === null) {
      const done = new Promise((r) => proc.on('exit', r));
      proc.kill('SIGQUIT');
      const t = setTimeout(() => proc.kill('SIGKILL'), 10000);
      await done;
      clearTimeout(t);
    }
    fs.rmSync(dir, { recursive: true, force: true });
  };
  return { port, stop, log };
}

// Waits until a line of the page's screen (window.kavrix.text()) matches
// `pattern`; a timeout's error shows the screen.
// The page gives the typing back to the terminal a task after a header
// tool or entry acted: wait for it (the caller then checks where it is).
export async function focusSettled(page, timeout = 5000) {
  await page.waitForFunction(() => document.activeElement?.className === 'kvx-input', null, { timeout }).catch(() => {});
}

export async function waitText(page, pattern, timeout = 30000) {
  const flags = pattern.flags.includes('m') ? pattern.flags : `${pattern.flags}m`;
  await page.waitForFunction(([source, f]) => new RegExp(source, f).test(window.kavrix?.text() ?? ''),
    [pattern.source, flags], { timeout }).catch(async (err) => {
    const screen = await page.evaluate(() => window.kavrix?.text() ?? '').catch(() => '');
    throw new Error(`${err.message}\nwaiting for ${pattern} on:\n${screen}`);
  });
}

// ---- telnet hosts written by the tests ----

export const TELNET = Object.freeze({
  IAC: 255, DONT: 254, DO: 253, WONT: 252, WILL: 251, SB: 250, SE: 240, EOR: 239,
  // options
  BINARY: 0, TTYPE: 24, EOR_OPTION: 25, NEW_ENVIRON: 39,
  // subnegotiation
  IS: 0, SEND: 1,
});
const { IAC, DONT, DO, WONT, WILL, SB, SE, EOR } = TELNET;

// Telnet bytes taken apart as they arrive, in any chunks: `handlers`
// hears of the data bytes of each chunk (data(bytes)), of each record ended
// by IAC EOR with its data since the last one (record(bytes)), of each
// WILL, WONT, DO and DONT (verb(verb, option)) and of each subnegotiation
// (sub(option, bytes)).  IAC IAC is a data byte 255 (in a subnegotiation
// too); other commands are left out.
export class TelnetReader {
  constructor(handlers = {}) {
    this.handlers = handlers;
    this.state = 'data';  // 'iac', 'verb', 'sb', 'sb-iac'
    this.verb = 0;
    this.record = [];
    this.sub = [];
  }

  push(chunk) {
    const h = this.handlers;
    const data = [];
    const take = (b) => {
      data.push(b);
      if (h.record) this.record.push(b);
    };
    for (const b of chunk) {
      switch (this.state) {
        case 'data':
          if (b === IAC) this.state = 'iac';
          else take(b);
          break;
        case 'iac':
          this.state = 'data';
          if (b === IAC) {
            take(IAC);
          } else if (b === EOR) {
            const rec = Buffer.from(this.record);
            this.record = [];
            h.record?.(rec);
          } else if (b >= WILL && b <= DONT) {
            this.verb = b;
            this.state = 'verb';
          } else if (b === SB) {
            this.sub = [];
            this.state = 'sb';
          }
          break;
        case 'verb':
          this.state = 'data';
          h.verb?.(this.verb, b);
          break;
        case 'sb':
          if (b === IAC) this.state = 'sb-iac';
          else this.sub.push(b);
          break;
        default:  // 'sb-iac'
          if (b === SE) {
            this.state = 'data';
            h.sub?.(this.sub[0], Buffer.from(this.sub.slice(1)));
          } else {
            if (b === IAC) this.sub.push(IAC);
            this.state = 'sb';
          }
          break;
      }
    }
    if (data.length) h.data?.(Buffer.from(data));
  }
}

// Bytes as they travel in telnet's data or a subnegotiation: IAC doubled.
function escapeIac(bytes) {
  const out = [];
  for (const b of bytes) {
    out.push(b);
    if (b === IAC) out.push(IAC);
  }
  return out;
}

// A record as a telnet host sends it: IAC EOR after it.
export function telnetRecord(bytes) {
  return Buffer.from([...escapeIac(bytes), IAC, EOR]);
}

// A telnet host on 127.0.0.1 played by a test: `onClient(peer)` is called
// for each client with a peer that sends (send(...byte arrays, buffers or
// latin1 strings), ask(verb, option), sub(option, bytes), record(bytes)),
// keeps what the client agreed to (agreed(option): WILL and DO both) and
// answers the client's requests the host did not make with a refusal.  The
// test's handlers on the peer (onData, onRecord, onVerb, onSub) act on what
// the client sends, as it arrives.  Resolves with { port, close() }.
export function startTelnetHost(onClient) {
  const sockets = new Set();
  const server = net.createServer((socket) => {
    sockets.add(socket);
    socket.on('close', () => sockets.delete(socket));
    socket.on('error', () => {});
    const asked = new Set();   // `${verb}:${option}` the host sent
    const said = new Set();    // `${verb}:${option}` the client sent
    const peer = {
      socket,
      send: (...parts) => socket.write(Buffer.concat(parts.map((p) => (typeof p === 'string'
        ? Buffer.from(p, 'latin1') : Buffer.from(p))))),
      ask: (verb, option) => {
        asked.add(`${verb}:${option}`);
        peer.send([IAC, verb, option]);
      },
      sub: (option, bytes) => peer.send([IAC, SB, option, ...escapeIac(bytes), IAC, SE]),
      record: (bytes) => peer.send(telnetRecord(bytes)),
      // The client said WILL and DO to the option.
      agreed: (option) => said.has(`${WILL}:${option}`) && said.has(`${DO}:${option}`),
      said: (verb, option) => said.has(`${verb}:${option}`),
    };
    const answer = { [WILL]: DO, [DO]: WILL };
    const refusal = { [WILL]: DONT, [DO]: WONT };
    const reader = new TelnetReader({
      data: (bytes) => peer.onData?.(bytes),
      record: (bytes) => peer.onRecord?.(bytes),
      sub: (option, bytes) => peer.onSub?.(option, bytes),
      verb: (verb, option) => {
        said.add(`${verb}:${option}`);
        if (refusal[verb] && !asked.has(`${answer[verb]}:${option}`)) peer.send([IAC, refusal[verb], option]);
        peer.onVerb?.(verb, option);
      },
    });
    socket.on('data', (chunk) => reader.push(chunk));
    onClient(peer);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({
    port: server.address().port,
    close: () => {
      for (const socket of sockets) socket.destroy();
      server.close();
    },
  })));
}

// Runs one named test body with a fresh browser page, screenshots into
// OUTPUT_DIR and a non-zero exit status on failure.  `pageOptions` go to
// the page's context (for example { ignoreHTTPSErrors: true }).
export async function runTest(name, body, pageOptions = {}) {
  fs.mkdirSync(OUTPUT_DIR, { recursive: true });
  const browser = await launchBrowser();
  const page = await browser.newPage(pageOptions);
  page.on('console', (msg) => { if (msg.type() === 'error') console.error(`[page] ${msg.text()}`); });
  let failed = false;
  try {
    await body(page);
    console.log(`PASS ${name}`);
  } catch (err) {
    failed = true;
    console.error(`FAIL ${name}: ${err.stack || err}`);
    await page.screenshot({ path: path.join(OUTPUT_DIR, `${name}-failure.png`) }).catch(() => {});
  } finally {
    await browser.close();
  }
  if (failed) process.exitCode = 1;
}
