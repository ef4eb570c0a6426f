// Real hosts on 127.0.0.1 for the browser tests: a throwaway login user,
// inetutils telnetd behind socat, stunnel in front of it with a certificate
// made here, and OpenSSH's sshd with its own configuration and host key.
// Everything started here is stopped by cleanup().
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { need } from './lib.mjs';

const cleanups = [];

export async function cleanup() {
  while (cleanups.length) await cleanups.pop()();
}

function sh(command) {
  return execFileSync('/bin/sh', ['-c', command], { stdio: ['ignore', 'pipe', 'pipe'] }).toString();
}

// Why the rig cannot run here, or '' when it can.
export function missing(...programs) {
  if (process.getuid() !== 0) return 'needs root to create the throwaway login user';
  return need(...programs);
}

export function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

export async function waitListening(port, timeout = 15000) {
  const end = Date.now() + timeout;
  for (;;) {
    const ok = await new Promise((resolve) => {
      const s = net.connect(port, '127.0.0.1');
      s.once('connect', () => { s.destroy(); resolve(true); });
      s.once('error', () => resolve(false));
    });
    if (ok) return;
    if (Date.now() > end) throw new Error(`nothing listens on ${port}`);
    await new Promise((r) => setTimeout(r, 100));
  }
}

export function tempDir(prefix) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  cleanups.push(async () => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

// A process group in the background, ended by cleanup().
function background(command, logFile) {
  const out = logFile ? fs.openSync(logFile, 'a') : 'ignore';
  const proc = spawn('/bin/sh', ['-c', command], { detached: true, stdio: ['ignore', out, out] });
  cleanups.push(async () => {
    if (proc.exitCode !== null) return;
    const done = new Promise((r) => proc.once('exit', r));
    try { process.kill(-proc.pid, 'SIGTERM'); } catch { return; }
    const timer = setTimeout(() => { try { process.kill(-proc.pid, 'SIGKILL'); } catch {} }, 5000);
    await done;
    clearTimeout(timer);
  });
  return proc;
}

// A login user with a password; removed again by cleanup() (once the
// hosts' processes for it have ended).
export function makeUser(prefix) {
  const user = `${prefix}${process.pid % 100000}`;
  const password = `Kvx-${process.pid}-pw`;
  sh(`userdel -r ${user} >/dev/null 2>&1 || true`);
  sh(`useradd -m -s /bin/sh ${user} && echo '${user}:${password}' | chpasswd`);
  cleanups.unshift(async () => {
    const end = Date.now() + 15000;
    for (;;) {
      try {
        sh(`userdel -r ${user} >/dev/null 2>&1`);
        return;
      } catch {
        if (Date.now() > end) { try { sh(`userdel -f -r ${user} >/dev/null 2>&1`); } catch {} return; }
        await new Promise((r) => setTimeout(r, 100));
      }
    }
  });
  return { user, password };
}

// inetutils telnetd behind socat; resolves with its port.
export async function startTelnetd() {
  const port = await freePort();
  background(`exec socat TCP-LISTEN:${port},bind=127.0.0.1,reuseaddr,fork EXEC:"/usr/sbin/telnetd -h",nofork`);
  await waitListening(port);
  return port;
}

// A self-signed certificate for localhost and 127.0.0.1: { cert, key }.
export function makeCertificate() {
  const dir = tempDir('kvx-cert-');
  const cert = path.join(dir, 'cert.pem');
  const key = path.join(dir, 'key.pem');
  sh(`openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost ` +
     `-addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout ${key} -out ${cert} >/dev/null 2>&1`);
  return { cert, key, dir };
}

// stunnel accepting TLS and passing the plain bytes to `targetPort`.
export async function startStunnel(targetPort, { cert, key, dir }) {
  const port = await freePort();
  const conf = path.join(dir, `stunnel-${port}.conf`);
  fs.writeFileSync(conf, `foreground = yes\npid =\n[telnets]\naccept = 127.0.0.1:${port}\n` +
    `connect = 127.0.0.1:${targetPort}\ncert = ${cert}\nkey = ${key}\n`);
  background(`exec stunnel4 ${conf}`);
  await waitListening(port);
  return port;
}

// sshd -D -e on 127.0.0.1 with password and keyboard-interactive logins:
// { port, hostKey (the public key line), log() }.
export async function startSshd() {
  fs.mkdirSync('/run/sshd', { recursive: true });
  const dir = tempDir('kvx-sshd-');
  fs.chmodSync(dir, 0o755);
  sh(`ssh-keygen -q -t ed25519 -N '' -f ${dir}/host_key`);
  fs.writeFileSync(`${dir}/sshd_config`, `ListenAddress 127.0.0.1\nHostKey ${dir}/host_key\n` +
    `PidFile ${dir}/sshd.pid\nUsePAM yes\nPasswordAuthentication yes\nKbdInteractiveAuthentication yes\n` +
    'PubkeyAuthentication yes\nPermitRootLogin no\nAcceptEnv LANG\nPrintMotd no\nLogLevel VERBOSE\n');
  const port = await freePort();
  const log = path.join(dir, 'sshd.log');
  background(`exec /usr/sbin/sshd -D -e -f ${dir}/sshd_config -p ${port}`, log);
  await waitListening(port);
  return {
    port,
    hostKey: fs.readFileSync(`${dir}/host_key.pub`, 'utf8').split(' ').slice(0, 2).join(' '),
    fingerprint: sh(`ssh-keygen -l -E sha256 -f ${dir}/host_key.pub`).split(' ')[1],
    log: () => fs.readFileSync(log, 'utf8'),
  };
}
