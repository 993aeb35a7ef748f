// Browser tests of the camera's web page: the whole virtual camera (scripts/run) and Debian's
// chromium, headless, driven by puppeteer-core. One board and one browser for the suite.
// Exit status 0 when every step passed, 1 when one failed, 77 (skipped) without chromium or
// puppeteer-core.
'use strict';

const { puppeteerOrSkip, sleep, waitFor, startBoard, launchBrowser, setFirstPassword } = require('./board');

const puppeteer = puppeteerOrSkip();
const password = 'studio-camera-1';

async function main() {
  const board = await startBoard();
  const { url } = board;
  const history = board.history;
  const visca = board.visca;
  let browser;
  const results = [];
  try {
    browser = await launchBrowser(puppeteer, board);
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
      await setFirstPassword(page, url, password);
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
      await waitFor('the first synchronisation', () => board.appLog().includes('over write UI WbMode'), 30000);
      await page.click('nav [data-page="camera"]');
      await page.waitForSelector(wb);
      await board.camera('clear');
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
      await board.camera('clear');
      const button = await page.$('#ptz-right');
      const box = await button.boundingBox();
      await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
      await page.mouse.down();
      await waitFor('a pan-right drive', async () => /81 01 06 01 [0-9A-F]{2} [0-9A-F]{2} 02 03 FF/.test(await history()), 5000);
      await page.mouse.up();
      await waitFor('a stop', async () => /81 01 06 01 [0-9A-F]{2} [0-9A-F]{2} 03 03 FF/.test(await history()), 5000);
    });

    await step('preset store and recall', async () => {
      await board.camera('clear');
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

    await step('see a preview picture', async () => {
      await page.click('nav [data-page="dashboard"]');
      const shown = () => page.$eval('#preview', (img) => [img.naturalWidth, Number(img.dataset.shown || 0)]);
      await waitFor('a 640-wide preview picture', async () => (await shown())[0] === 640, 20000);
      const first = (await shown())[1];
      await waitFor('the preview refreshing', async () => (await shown())[1] >= first + 3, 5000);
      const answer = await page.evaluate(async () => {
        const response = await fetch('/api/preview.jpg');
        return [response.status, response.headers.get('Content-Type'), response.headers.get('X-Preview-Age-Ms')];
      });
      if (answer[0] !== 200 || answer[1] !== 'image/jpeg' || !(Number(answer[2]) < 1000)) {
        throw new Error('/api/preview.jpg answered ' + answer);
      }
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
    await board.stop(!(results.length > 0 && results.every((r) => r.ok)));
  }
  const failed = results.filter((r) => !r.ok).length;
  console.log('webui-browser: ' + (results.length - failed) + ' passed, ' + failed + ' failed');
  return failed === 0 && results.length > 0;
}

main().then((ok) => process.exit(ok ? 0 : 1), (e) => {
  console.log('FAIL ' + e.message);
  process.exit(1);
});
