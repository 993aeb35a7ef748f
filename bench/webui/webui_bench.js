// Figures of the camera's web page on the virtual camera (scripts/run, headless Chromium): page
// load to interactive, joystick press to the drive on the camera's line, a page setting to its
// command on the line, the live preview's rate, age and CPU per picture, webui-app's memory and
// idle CPU. One "name value" line per figure.
'use strict';

const fs = require('fs');
const path = require('path');

const board_js = path.join(__dirname, '../../tests/webui-browser/board');
const { puppeteerOrSkip, sleep, waitFor, startBoard, launchBrowser, setFirstPassword } = require(board_js);

const puppeteer = puppeteerOrSkip();
const rounds = Number(process.argv[2] || 10);

const median = (values) => {
  const sorted = values.slice().sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
};

function cpuTicks(pid) {
  const fields = fs.readFileSync('/proc/' + pid + '/stat', 'utf8').split(') ')[1].split(' ');
  return Number(fields[11]) + Number(fields[12]);
}

async function main() {
  const board = await startBoard();
  let browser;
  try {
    browser = await launchBrowser(puppeteer, board);
    const page = await browser.newPage();
    await setFirstPassword(page, board.url, 'bench-password');

    const loads = [];
    for (let i = 0; i < rounds; i++) {
      const started = Date.now();
      await page.goto(board.url);
      await page.waitForSelector('body[data-ready="1"]');
      loads.push(Date.now() - started);
    }
    console.log('page_load_ms ' + median(loads));

    await page.click('nav [data-page="ptz"]');
    const button = await page.$('#ptz-right');
    const box = await button.boundingBox();
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    const presses = [];
    for (let i = 0; i < rounds; i++) {
      await board.camera('clear');
      const started = process.hrtime.bigint();
      await page.mouse.down();
      await waitFor('the drive', async () => / 02 03 FF/.test(await board.history()), 5000, 1);
      presses.push(Number(process.hrtime.bigint() - started) / 1e6);
      await page.mouse.up();
      await waitFor('the stop', async () => / 03 03 FF/.test(await board.history()), 5000, 1);
    }
    console.log('joystick_ms ' + median(presses).toFixed(1));

    await waitFor('the first synchronisation', () => board.appLog().includes('over write UI WbMode'), 30000);
    await page.click('nav [data-page="camera"]');
    const wb = '[data-key="/etc/vantor-wb-setup.json|WbMode"]';
    const settings = [];
    for (const [mode, code] of [['INDOOR', '01'], ['OUTDOOR', '02'], ['AUTO', '00']]) {
      await board.camera('clear');
      await page.select(wb, mode);
      const started = Date.now();
      await page.click('#save-camera');
      await waitFor('the set command', async () => (await board.history()).includes('81 01 04 35 ' + code + ' FF'), 20000, 5);
      settings.push(Date.now() - started);
    }
    console.log('setting_ms ' + median(settings) + ' max ' + Math.max(...settings));

    const pid = Number(board.facts.BOARD_WEBUI_PID);
    await page.click('nav [data-page="dashboard"]');
    const shown = () => page.$eval('#preview', (img) => Number(img.dataset.shown || 0));
    await waitFor('a preview picture', async () => (await shown()) > 0, 20000);
    const firstShown = await shown();
    const cpuBefore = cpuTicks(pid);
    await sleep(10000);
    const pictures = (await shown()) - firstShown;
    const cpuMs = (cpuTicks(pid) - cpuBefore) * 10;
    console.log('preview_rate_per_s ' + (pictures / 10).toFixed(1));
    console.log('preview_cpu_ms_per_picture ' + (cpuMs / Math.max(pictures, 1)).toFixed(1));
    // The age webui-app reports with each picture: from its arrival over NDI to the answer.
    const ages = await page.evaluate(async (count) => {
      const out = [];
      for (let i = 0; i < count; i++) {
        const response = await fetch('/api/preview.jpg');
        await response.arrayBuffer();
        out.push(Number(response.headers.get('X-Preview-Age-Ms')));
        await new Promise((resolve) => setTimeout(resolve, 150));
      }
      return out;
    }, rounds * 3);
    console.log('preview_age_ms ' + median(ages) + ' max ' + Math.max(...ages));

    await page.close();
    await browser.close();
    browser = null;
    // The preview receiver closes 3 s after the last picture asked for.
    await sleep(4000);
    const before = cpuTicks(pid);
    await sleep(10000);
    const ticks = cpuTicks(pid) - before;
    console.log('idle_cpu_percent ' + (ticks / 100 / 10 * 100).toFixed(2));
    const rss = fs.readFileSync('/proc/' + pid + '/status', 'utf8').match(/VmRSS:\s+(\d+)/)[1];
    const hwm = fs.readFileSync('/proc/' + pid + '/status', 'utf8').match(/VmHWM:\s+(\d+)/)[1];
    const anon = fs.readFileSync('/proc/' + pid + '/status', 'utf8').match(/RssAnon:\s+(\d+)/)[1];
    console.log('rss_mib ' + (Number(rss) / 1024).toFixed(1) + ' peak ' + (Number(hwm) / 1024).toFixed(1) +
      ' anon ' + (Number(anon) / 1024).toFixed(1));
  } finally {
    if (browser) await browser.close();
    await board.stop(false);
  }
}

main().then(() => process.exit(0), (e) => {
  console.error(e.message);
  process.exit(1);
});
