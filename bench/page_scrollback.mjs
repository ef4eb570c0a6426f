// Looking back in the real page: Chromium shows a session whose shell
// printed 5000 lines; each page of scrollback is timed inside the page from
// the request until its rows are in the page's screen, and then the drawing
// of those rows (DOM rows rebuilt, style and layout) in the animation frame
// that follows; p50 and p99 over 200 pages, back and forth.  The wait for
// the display's next frame (up to 16.7 ms at 60 Hz) lies between the two
// and is no work of ours, so it is not counted.
//   node bench/page_scrollback.mjs   (KVX_BINARY_DIR names the build)
import fs from 'node:fs';
import path from 'node:path';
import { launchBrowser, startKavrix } from '../tests/browser/lib.mjs';

const kavrix = await startKavrix({
  setup: (dir) => fs.writeFileSync(path.join(dir, '.bashrc'),
    "PS1='kvx$ '\nunset PROMPT_COMMAND\nseq -f 'row %g' 1 5000; echo SB''DONE\n"),
});
const browser = await launchBrowser();
try {
  const page = await browser.newPage();
  // Each animation-frame callback is timed with the style and layout it causes.
  await page.addInitScript(() => {
    const raf = window.requestAnimationFrame.bind(window);
    window.requestAnimationFrame = (cb) => raf((t) => {
      const start = performance.now();
      cb(t);
      void document.body.offsetHeight;
      window.kvxDrawn = (window.kvxDrawn || 0) + performance.now() - start;
    });
  });
  await page.setViewportSize({ width: 1000, height: 700 });
  await page.goto(`http://127.0.0.1:${kavrix.port}/?rows=24&cols=80`);
  await page.waitForFunction(() => /^SBDONE$/m.test(window.kavrix.text()) && window.kavrix.state().kept > 4900,
    null, { timeout: 60000 });
  const times = await page.evaluate(async () => {
    const { ACTION } = await import('/kvx-protocol.js');
    const k = window.kavrix;
    const frame = () => new Promise((resolve) => requestAnimationFrame(() => resolve()));
    // Checked after each channel message the page has handled (its own
    // handler comes first).
    const until = (test) => new Promise((resolve) => {
      const ws = k.channel.ws;
      const check = () => {
        if (!test()) return;
        ws.removeEventListener('message', check);
        resolve();
      };
      ws.addEventListener('message', check);
    });
    const arrive = [];
    const draw = [];
    for (let i = 0; i < 200; i++) {
      const step = i % 98;
      const back = 25 * (1 + (step < 49 ? step : 98 - step));
      window.kvxDrawn = 0;
      const start = performance.now();
      k.scrollTo(back);
      await until(() => k.state().back === back && k.state().settled);
      arrive.push(performance.now() - start);
      await frame();  // the rows are drawn in this frame
      draw.push(window.kvxDrawn);
    }
    // The channel's round trip in this browser, for scale: a request that
    // moves nothing is answered by the SCROLLBACK frame alone.
    const trip = [];
    for (let i = 0; i < 200; i++) {
      const before = k.state().scrollRequests;
      const start = performance.now();
      const answered = new Promise((resolve) => k.channel.ws.addEventListener('message', resolve, { once: true }));
      k.channel.send(ACTION.CLIENT_ACTION_SCROLLBACK, [String(k.state().back)]);
      await answered;
      trip.push(performance.now() - start);
      if (k.state().scrollRequests !== before) throw new Error('moved');
    }
    return { arrive, draw, trip };
  });
  const pct = (list, p) => {
    const v = [...list].sort((a, b) => a - b);
    return v[Math.min(v.length - 1, Math.floor(p * v.length))].toFixed(2);
  };
  const total = times.arrive.map((a, i) => a + times.draw[i]);
  const line = (name, list) => {
    console.log(`BENCH\tscrollback in Chromium: ${name}, p50\t${pct(list, 0.5)}\tms`);
    console.log(`BENCH\tscrollback in Chromium: ${name}, p99\t${pct(list, 0.99)}\tms`);
  };
  line('a page (24 x 80) from request to rows in the page', times.arrive);
  line('drawing those rows', times.draw);
  line('both', total);
  line('a request that moves nothing (the browser\'s round trip)', times.trip);
} finally {
  await browser.close();
  await kavrix.stop();
}
