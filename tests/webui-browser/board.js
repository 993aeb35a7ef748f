// The virtual camera and a headless Chromium for the web page's browser tests and its benchmark:
// scripts/run on a fresh board root (in its network namespaces when run as root, the browser then
// in the studio namespace), puppeteer-core over a pipe, the simulators' control sockets.
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

// puppeteer-core, or exit 77 (skipped) with the reason when it or chromium is missing.
function puppeteerOrSkip() {
  const skip = (reason) => {
    console.log('skipped: ' + reason);
    process.exit(77);
  };
  if (!fs.existsSync(chromium)) skip('no ' + chromium + ' (scripts/setup installs chromium)');
  try {
    return require('puppeteer-core');
  } catch (e) {
    return skip('puppeteer-core is not installed (scripts/setup runs npm ci in tests/webui-browser)');
  }
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function waitFor(what, check, deadlineMs = 20000, stepMs = 100) {
  const end = Date.now() + deadlineMs;
  for (;;) {
    const last = await check();
    if (last) return last;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await sleep(stepMs);
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

// Starts scripts/run and resolves once the web page is up: { root, facts, url, history(),
// visca(bytes), stop() }.
async function startBoard() {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'vantor-webui-test.'));
  const logPath = path.join(root, 'run.log');
  const log = fs.openSync(logPath, 'w');
  const child = spawn(path.join(sourceDir, 'scripts/run'),
    ['--bin', binDir, '--no-status', '--root', path.join(root, 'board'), '--duration', '600'],
    { stdio: ['ignore', log, log], detached: true });
  const board = { root, ended: false };
  child.on('exit', () => { board.ended = true; });
  board.stop = async (keep) => {
    if (!board.ended) {
      child.kill('SIGTERM');
      const end = Date.now() + 90000;
      while (!board.ended && Date.now() < end) await sleep(100);
      if (!board.ended) process.kill(-child.pid, 'SIGKILL');
    }
    fs.closeSync(log);
    if (keep) console.log('board log: ' + logPath);
    else fs.rmSync(root, { recursive: true, force: true });
  };
  try {
    board.facts = await waitFor('the board and its web page', () => {
      if (board.ended) throw new Error('scripts/run ended early: ' + fs.readFileSync(logPath, 'utf8').slice(-2000));
      const f = readFacts(path.join(root, 'board/run/board.env'));
      return f.BOARD_WEBUI_URL && f.BOARD_NDI_ADDRESS !== undefined ? f : null;
    }, 120000);
  } catch (e) {
    await board.stop(true);
    throw e;
  }
  const facts = board.facts;
  board.url = facts.BOARD_WEBUI_URL;
  board.studio = facts.BOARD_STUDIO_NETNS || '';
  board.camera = (command) => control(facts.BOARD_CAMERA_SIM_CONTROL, command);
  board.history = async () => hex(await board.camera('history'));
  board.visca = (bytes) => {
    const argv = [path.join(binDir, 'visca-ip'), facts.BOARD_CAMERA_ADDRESS, bytes];
    return board.studio ? execFileSync('ip', ['netns', 'exec', board.studio, ...argv])
      : execFileSync(argv[0], argv.slice(1));
  };
  board.appLog = () => fs.readFileSync(path.join(root, 'board/var/log/encoder-app.log'), 'utf8');
  return board;
}

// Headless Chromium on the board's studio side, a fresh profile.
function launchBrowser(puppeteer, board) {
  return puppeteer.launch({
    executablePath: path.join(here, 'chromium-in-netns'),
    pipe: true,
    headless: true,
    env: Object.assign({}, process.env, { WEBUI_TEST_NETNS: board.studio }),
    userDataDir: fs.mkdtempSync(path.join(board.root, 'chromium.')),
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// The first visit: sets `password` on the form and waits until the page is ready.
async function setFirstPassword(page, url, password) {
  await page.goto(url);
  await page.waitForSelector('#login:not([hidden])');
  const title = await page.$eval('#login-title', (el) => el.textContent);
  if (!title.includes('Set the administrator password')) throw new Error('no first-visit form');
  await page.type('#password', password);
  await page.type('#password2', password);
  await page.click('#login-button');
  await page.waitForSelector('body[data-ready="1"]');
}

module.exports = { puppeteerOrSkip, sleep, waitFor, readFacts, startBoard, launchBrowser, setFirstPassword };
