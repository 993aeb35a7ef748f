// Browser tests of the camera's web page: the whole virtual camera (scripts/run) and Debian's
// chromium, headless, driven by puppeteer-core. One board and one browser for the suite.
// Exit status 0 when every step passed, 1 when one failed, 77 (skipped) without chromium or
// puppeteer-core.
'use strict';

const { spawn, execFileSync } = require('child_process');
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');

const here = __dirname;
const sourceDir = process.env.VANTOR_SOURCE_DIR || path.resolve(here, '../..');
const binDir = process.env.VANTOR_BIN_DIR || path.join(sourceDir, 'build/host/bin');
const chromium = '/usr/bin/chromium';
const password = 'studio-camera-1';

function skip(reason) {
  console.log('skipped: ' + reason);
  process.exit(77);
}

if (!fs.existsSync(chromium)) skip('no ' + chromium + ' (scripts/setup installs chromium)');
let puppeteer;
try {
  puppeteer = require('puppeteer-core');
} catch (e) {
  skip('puppeteer-core is not installed (scripts/setup runs npm ci in tests/webui-browser)');
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function waitFor(what, check, deadlineMs = 20000) {
  const end = Date.now() + deadlineMs;
  let last;
  for (;;) {
    last = await check();
    if (last) return last;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await sleep(100);
  }
}

function readFacts(file) {
  const facts = {};
  if (!fs.existsSync(file)) return facts;
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    const eq = line.indexOf('=');
    if (eq > 0) facts[line.slice(0, eq)] = line.slice(eq + 1).replace(/^'(.*)'$/, '$1');
  }
  return facts;
}

// One command to a simulator's control socket; resolves with its answer.
function control(socketPath, command) {
  return new Promise((resolve, reject) => {
    const socket = net.createConnection(socketPath);
    let answer = '';
    socket.on('data', (data) => {
      answer += data.toString();
      if (/(^|\n)(ok|error: [^\n]*)\n$/.test(answer)) {
        socket.end();
        resolve(answer);
      }
    });
    socket.on('error', reject);
    socket.write(command + '\n');
  });
}

const hex = (text) => text.replace(/\s+/g, ' ').trim().toUpperCase();

async function main() {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'vantor-webui-test.'));
  const log = fs.openSync(path.join(root, 'run.log'), 'w');
  const board = spawn(path.join(sourceDir, 'scripts/run'),
    ['--bin', binDir, '--no-status', '--root', path.join(root, 'board'), '--duration', '600'],
    { stdio: ['ignore', log, log], detached: true });
  let boardEnded = false;
  board.on('exit', () => { boardEnded = true; });
  let browser;
  const results = [];
  try {
    const envFile = path.join(root, 'board/run/board.env');
    const facts = await waitFor('the board and its web page', () => {
      if (boardEnded) throw new Error('scripts/run ended early: ' + fs.readFileSync(path.join(root, 'run.log'), 'utf8').slice(-2000));
      const f = readFacts(envFile);
      return f.BOARD_WEBUI_URL && f.BOARD_NDI_ADDRESS !== undefined ? f : null;
    }, 120000);
    const url = facts.BOARD_WEBUI_URL;
    const studio = facts.BOARD_STUDIO_NETNS || '';
    const camera = facts.BOARD_CAMERA_SIM_CONTROL;
    const history = async () => hex(await control(camera, 'history'));
    const visca = (bytes) => {
      const argv = [path.join(binDir, 'visca-ip'), facts.BOARD_CAMERA_ADDRESS, bytes];
      return studio ? execFileSync('ip', ['netns', 'exec', studio, ...argv]) : execFileSync(argv[0], argv.slice(1));
    };

    browser = await puppeteer.launch({
      executablePath: path.join(here, 'chromium-in-netns'),
      pipe: true,
      headless: true,
      env: Object.assign({}, process.env, { WEBUI_TEST_NETNS: studio }),
      userDataDir: fs.mkdtempSync(path.join(root, 'chromium.')),
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
    const page = await browser.newPage();
    const step = async (name, body) => {
      const started = Date.now();
      try {
        await body();
        results.push({ name, ok: true });
        console.log('PASS ' + name + ' (' + (Date.now() - started) + ' ms)');
      } catch (e) {
        results.push({ name, ok: false });
        console.log('FAIL ' + name + ': ' + e.message);
      }
    };
    const selectValue = (selector) => page.$eval(selector, (el) => el.value);
    const message = (id) => page.$eval('#' + id, (el) => el.textContent);
    const wb = '[data-key="/etc/vantor-wb-setup.json|WbMode"]';

    await step('first visit sets the password and logs in', async () => {
      await page.goto(url);
      await page.waitForSelector('#login:not([hidden])');
      if (!(await message('login-title')).includes('Set the administrator password')) throw new Error('no first-visit form');
      await page.type('#password', password);
      await page.type('#password2', password);
      await page.click('#login-button');
      await page.waitForSelector('body[data-ready="1"]');
    });

    await step('log out, then log in with the password', async () => {
      await Promise.all([page.waitForNavigation(), page.click('#logout')]);
      await page.waitForSelector('#login:not([hidden])');
      await page.type('#password', password);
      await page.click('#login-button');
      await page.waitForSelector('body[data-ready="1"]');
    });

    await step('refused: no CSRF token, no session', async () => {
      const noToken = await page.evaluate(async () => (await fetch('/api/values/camera', {
        method: 'POST', body: new URLSearchParams({ '/etc/vantor-wb-setup.json|WbMode': 'ATW' }) })).status);
      if (noToken !== 403) throw new Error('without a CSRF token: ' + noToken);
      const other = await browser.createBrowserContext();
      const stranger = await other.newPage();
      await stranger.goto(url);
      const statuses = await stranger.evaluate(async () => [
        (await fetch('/api/controls')).status,
        (await fetch('/api/values/camera', { method: 'POST', body: 'x=1' })).status,
      ]);
      await other.close();
      if (statuses[0] !== 401 || statuses[1] !== 403) throw new Error('without a session: ' + statuses);
    });

    await step('white balance from the page reaches the camera', async () => {
      // Until its first synchronisation the camera overwrites the files: wait for it.
      const appLog = path.join(root, 'board/var/log/encoder-app.log');
      await waitFor('the first synchronisation', () => fs.readFileSync(appLog, 'utf8').includes('over write UI WbMode'), 30000);
      await page.click('nav [data-page="camera"]');
      await page.waitForSelector(wb);
      await control(camera, 'clear');
      await page.select(wb, 'INDOOR');
      await page.click('#save-camera');
      await waitFor('"saved"', async () => (await message('message-camera')) === 'saved');
      await waitFor('81 01 04 35 01 FF on the line', async () => (await history()).includes('81 01 04 35 01 FF'));
      // The synchronisation loop agrees with the camera: the page keeps showing its value.
      await sleep(1500);
      if ((await selectValue(wb)) !== 'INDOOR') throw new Error('page shows ' + (await selectValue(wb)));
    });

    await step('a change over VISCA over IP appears on the page', async () => {
      visca('8101043502FF');
      await waitFor('OUTDOOR on the page', async () => (await selectValue(wb)) === 'OUTDOOR', 30000);
    });

    await step('refused: a value outside the binding, with a message', async () => {
      await page.$eval('[data-key="/etc/vantor-wb-setup.json|RedGain"]', (el) => {
        el.value = '300';
        el.dispatchEvent(new Event('input'));
      });
      await page.click('#save-camera');
      await waitFor('the refusal', async () => (await message('message-camera')).includes('not a whole number from 0 to 255'));
    });

    await step('joystick: press moves, release stops', async () => {
      await page.click('nav [data-page="ptz"]');
      await control(camera, 'clear');
      const button = await page.$('#ptz-right');
      const box = await button.boundingBox();
      await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
      await page.mouse.down();
      await waitFor('a pan-right drive', async () => /81 01 06 01 [0-9A-F]{2} [0-9A-F]{2} 02 03 FF/.test(await history()), 5000);
      await page.mouse.up();
      await waitFor('a stop', async () => /81 01 06 01 [0-9A-F]{2} [0-9A-F]{2} 03 03 FF/.test(await history()), 5000);
    });

    await step('preset store and recall', async () => {
      await control(camera, 'clear');
      await page.select('#preset', '2');
      await page.click('#preset-store');
      await waitFor('preset 2 stored', async () => (await history()).includes('81 01 04 3F 01 01 FF'));
      await page.click('#preset-recall');
      await waitFor('preset 2 recalled', async () => (await history()).includes('81 01 04 3F 02 01 FF'));
    });

    await step('a format change is followed by the dashboard', async () => {
      await page.click('nav [data-page="video"]');
      const format = '[data-key="/etc/vantor-enc1-settings.json|VideoFormat"]';
      await page.waitForSelector(format);
      await page.select(format, '1080p50');
      await page.click('#save-video');
      await waitFor('"saved"', async () => (await message('message-video')) === 'saved');
      await page.click('nav [data-page="dashboard"]');
      await waitFor('1080p50-422 on the dashboard', async () => (await message('dash-status')) === '1080p50-422', 40000);
    });

    await step('refused: wrong passwords beyond the limit', async () => {
      const other = await browser.createBrowserContext();
      const stranger = await other.newPage();
      await stranger.goto(url);
      const statuses = await stranger.evaluate(async (right) => {
        const token = (await (await fetch('/api/state')).json()).csrf;
        const out = [];
        for (let i = 0; i < 6; i++) {
          const body = new URLSearchParams({ password: i < 5 ? 'wrong-' + i : right });
          out.push((await fetch('/api/login', { method: 'POST', body, headers: { 'X-CSRF-Token': token } })).status);
        }
        return out;
      }, password);
      await other.close();
      if (statuses.join(',') !== '401,401,401,401,401,429') throw new Error('statuses ' + statuses);
    });
  } finally {
    if (browser) await browser.close();
    if (!boardEnded) {
      board.kill('SIGTERM');
      const end = Date.now() + 90000;
      while (!boardEnded && Date.now() < end) await sleep(100);
      if (!boardEnded) process.kill(-board.pid, 'SIGKILL');
    }
    fs.closeSync(log);
    if (results.every((r) => r.ok) && results.length > 0) fs.rmSync(root, { recursive: true, force: true });
    else console.log('board log: ' + path.join(root, 'run.log'));
  }
  const failed = results.filter((r) => !r.ok).length;
  console.log('webui-browser: ' + (results.length - failed) + ' passed, ' + failed + ' failed');
  return failed === 0 && results.length > 0;
}

main().then((ok) => process.exit(ok ? 0 : 1), (e) => {
  console.log('FAIL ' + e.message);
  process.exit(1);
});
