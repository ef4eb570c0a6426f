// Shared helpers for the browser tests: Debian's chromium through
// playwright-core (no downloaded browser) and the real Kavrix binary.
import { chromium } from 'playwright-core';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export const SOURCE_DIR = process.env.KVX_SOURCE_DIR || path.resolve(import.meta.dirname, '../..');
export const BINARY_DIR = process.env.KVX_BINARY_DIR || path.join(SOURCE_DIR, 'build');
export const OUTPUT_DIR = process.env.KVX_BROWSER_OUTPUT || path.join(BINARY_DIR, 'browser-output');

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

// Runs one named test body with a fresh browser page, screenshots into
// OUTPUT_DIR and a non-zero exit status on failure.
export async function runTest(name, body) {
  fs.mkdirSync(OUTPUT_DIR, { recursive: true });
  const browser = await launchBrowser();
  const page = await browser.newPage();
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
