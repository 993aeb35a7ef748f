// scripts/run --demo: a picture of each page of the running camera's web page.
//   node screenshots.js BOARD_ROOT FOLDER
// Sets the administrator password of the fresh board ("demo-password"), then writes
// webui-<page>.png into FOLDER. Exit status 0 when every picture was written, 77 without chromium
// or puppeteer-core.
'use strict';

const fs = require('fs');
const path = require('path');
const { puppeteerOrSkip, readFacts, launchBrowser, setFirstPassword, sleep } = require('./board');

async function main() {
  const [root, folder] = process.argv.slice(2);
  const puppeteer = puppeteerOrSkip();
  const facts = readFacts(path.join(root, 'run/board.env'));
  const profile = fs.mkdtempSync(path.join(folder, '.chromium.'));
  const browser = await launchBrowser(puppeteer, { root: profile, studio: facts.BOARD_STUDIO_NETNS || '' });
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1100, height: 800 });
    await setFirstPassword(page, facts.BOARD_WEBUI_URL, 'demo-password');
    for (const name of ['dashboard', 'video', 'audio', 'camera', 'ptz']) {
      await page.click('nav [data-page="' + name + '"]');
      await sleep(1200); // the values and the dashboard event arrive
      await page.screenshot({ path: path.join(folder, 'webui-' + name + '.png'), fullPage: true });
    }
  } finally {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

main().then(() => process.exit(0), (e) => {
  console.error(e.message);
  process.exit(1);
});
