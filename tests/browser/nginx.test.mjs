// The page behind nginx, with the repository's example configuration: nginx
// ends TLS on one port, and the page, its JSON requests and its session's
// channel (WSS) all go through that port.  The shell's prompt appears, a
// typed command's output comes back, and the page reaches nothing but the
// proxy.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { generateCerts, runTest, startKavrix, startNginx, waitText } from './lib.mjs';

const kavrix = await startKavrix({
  args: ['-b', '127.0.0.1', '--trusted-proxies', '127.0.0.1'],
  setup: (dir) => {
    fs.writeFileSync(path.join(dir, '.bashrc'), "PS1='kvx$ '\nunset PROMPT_COMMAND\n");
    generateCerts(path.join(dir, 'proxy-certs'));
  },
});
let nginx = null;
try {
  nginx = await startNginx('kavrix.conf', { 8080: kavrix.port }, path.join(kavrix.dir, 'proxy-certs'));
  await runTest('nginx', async (page) => {
    const requested = new Set();
    page.on('request', (r) => requested.add(new URL(r.url()).host));
    const sockets = [];
    page.on('websocket', (ws) => sockets.push(ws.url()));

    await page.goto(`https://127.0.0.1:${nginx.port}/?rows=24&cols=80`);
    await waitText(page, /^kvx\$/, 60000);
    await page.locator('#terminal').click();
    await page.keyboard.type('echo through-$((6*7))-nginx\n');
    await waitText(page, /through-42-nginx/);

    // One port: everything the page asked went to the proxy, the channel too.
    assert.deepEqual([...requested], [`127.0.0.1:${nginx.port}`]);
    const id = (await page.evaluate(() => window.kavrix.state())).session.id;
    assert.deepEqual(sockets, [`wss://127.0.0.1:${nginx.port}/get_te_channel?session=${id}`]);
    assert.match(nginx.log(), /"POST \/new_session HTTP\/1.1" 200 /);
  }, { ignoreHTTPSErrors: true });
} finally {
  if (nginx) await nginx.stop();
  await kavrix.stop();
}
