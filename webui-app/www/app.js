// The camera's web page. Controls are built from /api/controls (the firmware's own tables); every
// change goes out with the session's CSRF token; the dashboard follows server-sent events.
'use strict';

const state = { csrf: '', controls: [], dirty: {}, page: 'dashboard', events: null, timer: 0 };

function $(id) { return document.getElementById(id); }

async function api(path, fields) {
  const options = { credentials: 'same-origin', headers: { 'X-CSRF-Token': state.csrf } };
  if (fields) {
    options.method = 'POST';
    options.body = new URLSearchParams(fields);
  }
  const response = await fetch(path, options);
  let body = {};
  try { body = await response.json(); } catch (e) { body = {}; }
  return { ok: response.ok, status: response.status, body };
}

function show(id, on) { $(id).hidden = !on; }

function say(id, text, ok) {
  const el = $(id);
  el.textContent = text;
  el.classList.toggle('ok', !!ok);
}

async function start() {
  const answer = await api('/api/state');
  state.csrf = answer.body.csrf || '';
  if (answer.body.loggedIn) {
    await enter();
    return;
  }
  const first = !answer.body.passwordSet;
  $('login-title').textContent = first ? 'Set the administrator password' : 'Log in';
  $('login-hint').textContent = first ? 'This camera has no password yet. Choose one (8 characters or more).' : '';
  $('login-button').textContent = first ? 'Set password' : 'Log in';
  show('confirm-label', first);
  $('login-form').dataset.first = first ? '1' : '';
  show('login', true);
  show('nav', false);
}

async function submitLogin(event) {
  event.preventDefault();
  const first = $('login-form').dataset.first === '1';
  const password = $('password').value;
  if (first && password !== $('password2').value) {
    say('login-message', 'The two passwords differ.');
    return;
  }
  const answer = await api(first ? '/api/setup' : '/api/login', { password });
  if (!answer.ok) {
    say('login-message', answer.body.message || ('refused (' + answer.status + ')'));
    return;
  }
  state.csrf = answer.body.csrf;
  $('password').value = '';
  $('password2').value = '';
  say('login-message', '');
  await enter();
}

async function enter() {
  show('login', false);
  show('nav', true);
  const answer = await api('/api/controls');
  if (!answer.ok) { start(); return; }
  state.controls = answer.body.controls;
  buildSettings();
  for (let n = 1; n <= 9; n++) {
    const option = document.createElement('option');
    option.value = String(n);
    option.textContent = String(n);
    $('preset').appendChild(option);
  }
  openEvents();
  go('dashboard');
  document.body.dataset.ready = '1';
}

function controlId(control) {
  return 'c-' + control.file.replace(/^.*\//, '').replace(/\.json$/, '') + '-' + control.key;
}

function buildSettings() {
  document.querySelectorAll('[data-settings]').forEach((holder) => {
    const page = holder.dataset.settings;
    const groups = {};
    state.controls.filter((c) => c.page === page).forEach((control) => {
      if (!groups[control.group]) {
        const fieldset = document.createElement('fieldset');
        const legend = document.createElement('legend');
        legend.textContent = control.group;
        fieldset.appendChild(legend);
        holder.appendChild(fieldset);
        groups[control.group] = fieldset;
      }
      const row = document.createElement('label');
      row.className = 'row';
      const name = document.createElement('span');
      name.textContent = control.key;
      let input;
      if (control.kind === 'choice') {
        input = document.createElement('select');
        control.choices.forEach((choice) => {
          const option = document.createElement('option');
          option.value = choice;
          option.textContent = choice;
          input.appendChild(option);
        });
      } else {
        input = document.createElement('input');
        if (control.kind === 'number') {
          input.type = 'number';
          input.min = control.min;
          input.max = control.max;
          input.step = 1;
        } else {
          input.type = 'text';
          input.maxLength = control.maxLength;
        }
      }
      input.id = controlId(control);
      input.dataset.key = control.file + '|' + control.key;
      input.addEventListener('input', () => { state.dirty[input.dataset.key] = true; });
      input.addEventListener('change', () => { state.dirty[input.dataset.key] = true; });
      row.appendChild(name);
      row.appendChild(input);
      groups[control.group].appendChild(row);
    });
    const save = document.createElement('button');
    save.type = 'button';
    save.textContent = 'Save';
    save.id = 'save-' + page;
    save.addEventListener('click', () => saveSettings(page, holder));
    holder.appendChild(save);
    const message = document.createElement('p');
    message.className = 'message';
    message.id = 'message-' + page;
    message.setAttribute('role', 'status');
    holder.appendChild(message);
  });
}

async function saveSettings(page, holder) {
  const fields = {};
  holder.querySelectorAll('[data-key]').forEach((input) => {
    if (state.dirty[input.dataset.key]) fields[input.dataset.key] = input.value;
  });
  if (Object.keys(fields).length === 0) {
    say('message-' + page, 'Nothing changed.');
    return;
  }
  const answer = await api('/api/values/' + page, fields);
  if (answer.ok) Object.keys(fields).forEach((key) => { delete state.dirty[key]; });
  say('message-' + page, answer.body.message || ('refused (' + answer.status + ')'), answer.ok);
  refreshValues();
}

async function refreshValues() {
  const holder = document.querySelector('#page-' + state.page + ' [data-settings], #page-' + state.page + '[data-settings]');
  if (!holder) return;
  const answer = await api('/api/values/' + holder.dataset.settings);
  if (!answer.ok) return;
  holder.querySelectorAll('[data-key]').forEach((input) => {
    const value = answer.body.values[input.dataset.key];
    if (value !== undefined && !state.dirty[input.dataset.key] && document.activeElement !== input) {
      input.value = value;
      input.dataset.current = value;
    }
  });
}

function go(page) {
  state.page = page;
  document.querySelectorAll('.page').forEach((section) => { section.hidden = section.id !== 'page-' + page; });
  document.querySelectorAll('nav [data-page]').forEach((b) => b.classList.toggle('active', b.dataset.page === page));
  clearInterval(state.timer);
  refreshValues();
  state.timer = setInterval(refreshValues, 1000);
  previewWatch();
}

// Live preview: while the dashboard is shown and the page visible, the next picture is asked for
// 100 ms after the last one arrived; the camera receives and decodes only while it is asked.
const preview = { running: false, asked: 0, shown: 0, timer: 0 };

function previewNext() {
  preview.timer = 0;
  preview.running = state.page === 'dashboard' && !document.hidden;
  if (preview.running) $('preview').src = '/api/preview.jpg?n=' + (++preview.asked);
}

function previewWatch() {
  if (!preview.running && !preview.timer) previewNext();
}

function wirePreview() {
  const img = $('preview');
  img.addEventListener('load', () => {
    img.dataset.shown = String(++preview.shown);
    say('preview-message', '');
    preview.timer = setTimeout(previewNext, 100);
  });
  img.addEventListener('error', () => {
    say('preview-message', 'no picture from the camera\'s preview source', false);
    preview.timer = setTimeout(previewNext, 1000);
  });
  document.addEventListener('visibilitychange', previewWatch);
}

function openEvents() {
  if (state.events) state.events.close();
  state.events = new EventSource('/api/events');
  state.events.onmessage = (event) => {
    const d = JSON.parse(event.data);
    $('dash-status').textContent = d.status || '-';
    $('dash-format').textContent = d.format;
    $('dash-sampling').textContent = d.sampling;
    $('dash-source').textContent = d.sourceName;
    $('dash-failover').textContent = d.failoverSource || '-';
    $('dash-host').textContent = d.hostName;
    $('dash-address').textContent = d.address;
    $('dash-firmware').textContent = d.firmware;
  };
}

// PTZ: a press moves and repeats the move while held; a release, a lost pointer or a hidden page
// stops. The camera stops by itself when the repeats stop arriving.
const ptz = { move: null, timer: 0 };

function ptzSend(move) {
  return api('/api/ptz', Object.assign({ action: 'move' }, move)).then((answer) => {
    if (!answer.ok) say('ptz-message', answer.body.message || 'refused');
  });
}

function ptzPress(move) {
  if (ptz.move && JSON.stringify(ptz.move) === JSON.stringify(move)) return;
  ptz.move = move;
  clearInterval(ptz.timer);
  ptzSend(move);
  ptz.timer = setInterval(() => ptzSend(ptz.move), 300);
}

function ptzRelease() {
  if (!ptz.move) return;
  clearInterval(ptz.timer);
  ptz.move = null;
  ptzSend({ pan: 0, tilt: 0, zoom: 0, focus: 0 });
}

function moveOf(button) {
  return {
    pan: button.dataset.pan || '0',
    tilt: button.dataset.tilt || '0',
    zoom: button.dataset.zoom || '0',
    focus: button.dataset.focus || '0',
  };
}

function wirePtz() {
  document.querySelectorAll('#page-ptz button[data-pan], #page-ptz button[data-zoom], #page-ptz button[data-focus]').forEach((button) => {
    button.addEventListener('pointerdown', (event) => {
      event.preventDefault();
      button.setPointerCapture(event.pointerId);
      button.classList.add('pressed');
      ptzPress(moveOf(button));
    });
    ['pointerup', 'pointercancel', 'lostpointercapture'].forEach((name) => button.addEventListener(name, () => {
      button.classList.remove('pressed');
      ptzRelease();
    }));
  });
  const keys = { ArrowUp: { tilt: '1' }, ArrowDown: { tilt: '-1' }, ArrowLeft: { pan: '-1' }, ArrowRight: { pan: '1' } };
  document.addEventListener('keydown', (event) => {
    if (state.page !== 'ptz' || !keys[event.key] || event.target.tagName === 'INPUT') return;
    event.preventDefault();
    ptzPress(Object.assign({ pan: '0', tilt: '0', zoom: '0', focus: '0' }, keys[event.key]));
  });
  document.addEventListener('keyup', (event) => { if (keys[event.key]) ptzRelease(); });
  document.addEventListener('visibilitychange', () => { if (document.hidden) ptzRelease(); });
  window.addEventListener('pagehide', ptzRelease);
  window.addEventListener('blur', ptzRelease);
  $('preset-store').addEventListener('click', () => preset('store'));
  $('preset-recall').addEventListener('click', () => preset('recall'));
}

async function preset(action) {
  const answer = await api('/api/ptz', { action, preset: $('preset').value });
  say('ptz-message', answer.body.message || ('refused (' + answer.status + ')'), answer.ok);
}

document.addEventListener('DOMContentLoaded', () => {
  $('login-form').addEventListener('submit', submitLogin);
  document.querySelectorAll('nav [data-page]').forEach((b) => b.addEventListener('click', () => go(b.dataset.page)));
  $('logout').addEventListener('click', async () => {
    await api('/api/logout', {});
    if (state.events) state.events.close();
    window.location.reload();
  });
  wirePtz();
  wirePreview();
  start();
});
