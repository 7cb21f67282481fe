'use strict';
// The page's state and its wiring: the image open, the catalogue's table, and the request each
// control makes. One action runs at a time; each ends with its own outcome in the bar.
const scriptAt = performance.now();
const tool = require('./tool');
const outcome = require('./outcome');
const viewer = require('./viewer');
const rescue = require('./rescue');
const { zip } = require('./zip');
const { parseCatalogue, namesOf, touchedBy, reaching, handedOut } = require('./catalogue');
const { toolFileName, baseName, shown, described, unkeepable, unaddable } = require('./names');
const { $, download, keepClear } = require('./dom');

const IMAGE_SIZE = 368640;

const state = {
  image: null, // { arg: the image argument, name: the name it downloads under, bytes }
  unsaved: false,
  rows: [], // the catalogue's rows (catalogue.js)
  busy: false,
  offered: null, // a file the tool refused to open, whose check the outcome offers
};

// ---- the catalogue's table ----

const emptyCatalogue = { rows: [], totals: '' };

function catalogueOf(arg, bytes) {
  const text = tool.catalogue(arg, bytes);
  return text === null ? emptyCatalogue : parseCatalogue(text);
}

function refresh() {
  showCatalogue(catalogueOf(state.image.arg, state.image.bytes));
}

function showCatalogue(list) {
  state.rows = list.rows;
  const body = $('catalogue').tBodies[0];
  body.textContent = '';
  state.rows.forEach((row, i) => {
    const tr = body.insertRow();
    const box = Object.assign(document.createElement('input'), { type: 'checkbox' });
    box.dataset.index = i;
    box.setAttribute('aria-label', 'Select ' + described(row));
    box.addEventListener('change', update);
    tr.insertCell().append(box);
    // The name opens the viewer: a column of View buttons would push the others out of a phone's
    // width.
    const view = Object.assign(document.createElement('button'), { type: 'button', textContent: row.name });
    view.setAttribute('aria-label', 'View ' + described(row));
    view.addEventListener('click', action(async () => showFile(row)));
    Object.assign(tr.insertCell(), { className: 'name' }).append(view);
    Object.assign(tr.insertCell(), { className: 'num user', textContent: row.user });
    for (const value of [row.records, row.sizeK + 'K']) Object.assign(tr.insertCell(), { className: 'num', textContent: value });
    for (const value of [row.readOnly ? 'R' : '-', row.hidden ? 'H' : '-']) Object.assign(tr.insertCell(), { className: 'flag', textContent: value });
  });
  $('totals').textContent = list.totals;
  $('select-all').checked = false;
  update();
}

function selected() {
  return [...document.querySelectorAll('#catalogue tbody input:checked')].map((b) => state.rows[b.dataset.index]);
}

function update() {
  const open = state.image !== null;
  const some = selected().length > 0;
  for (const id of ['save', 'quick', 'full', 'add', 'check']) $(id).disabled = !open || state.busy;
  $('extract').disabled = !some || state.busy;
  $('erase').disabled = !some || state.busy;
  $('extract-all').disabled = !open || state.rows.length === 0 || state.busy;
  $('select-all').disabled = state.rows.length === 0;
  for (const b of document.querySelectorAll('#catalogue tbody button, #rescue-part button, #outcome-check')) b.disabled = state.busy;
  $('current').textContent = open
    ? 'Open: ' + state.image.name + (state.unsaved ? ' (changed, not downloaded yet)' : '')
    : 'No image open.';
}

// ---- requests on the open image ----

function sameBytes(a, b) {
  if (!a || !b || a.length !== b.length) return false;
  for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
  return true;
}

// The open image changed, or another took its place: its check and the file in the viewer are
// of bytes it no longer holds.
function forgetViews() {
  rescue.forgetOpenImage();
  viewer.close();
}

// A request that may change the image: the tool's result becomes the page's image.
function change(args, inputs) {
  const result = tool.run(args, state.image.bytes, { inputs });
  outcome.log(args, result);
  if (result.image && !sameBytes(result.image, state.image.bytes)) {
    state.image.bytes = result.image;
    state.unsaved = true;
    forgetViews();
  }
  refresh();
  return result;
}

async function openImage(name, bytes) {
  const why = unkeepable(name);
  if (why) return outcome.say('fail', 'Not opened: ' + shown(name) + ': ' + why + '.');
  const args = [name, '/c'];
  const result = tool.run(args, bytes);
  outcome.log(args, result);
  // The tool said why; the open image stays as it was, and a damaged or foreign image may still
  // give up its files to z18fsck.
  if (result.status !== 0) {
    state.offered = { name, bytes, open: false };
    const kept = state.image ? '; ' + state.image.name + ' stays open' : '';
    return outcome.say('fail', shown(name) + ' is not opened' + kept + '.');
  }
  const list = catalogueOf(name, bytes);
  if (!(await mayReplace())) return;
  state.image = { arg: name, name, bytes };
  state.unsaved = false;
  forgetViews();
  showCatalogue(list);
}

async function newImage(typed) {
  const name = typed.trim();
  const why = unkeepable(name) || unkeepable(toolFileName(name));
  if (why) return outcome.say('fail', 'No image made: ' + shown(name) + ': ' + why + '.');
  if (!(await mayReplace())) return;
  const result = tool.run([name, '/f'], null);
  outcome.log([name, '/f'], result);
  if (result.status !== 0 || !result.image) return;
  state.image = { arg: name, name: toolFileName(name), bytes: result.image };
  state.unsaved = true;
  forgetViews();
  refresh();
}

// One file downloads under its own name when a browser keeps that name; anything else as a zip.
function deliver(files, asZip) {
  if (files.length === 0) return;
  const zipName = baseName(state.image.name) + '.zip';
  if (files.length === 1 && !asZip && !unkeepable(files[0].name)) {
    download(files[0].name, files[0].bytes);
    outcome.say('ok', 'Downloaded ' + files[0].name);
  } else {
    download(zipName, zip(files));
    outcome.say('ok', files.length + ' file(s) downloaded as ' + zipName);
  }
}

// The one file of the row, as the tool extracts it from a copy of the image that holds it alone.
function copyOut(row) {
  const result = tool.run([state.image.arg, '/x', 'out/*.*'], state.image.bytes, { alone: row.index });
  if (result.files.length !== 1) {
    outcome.say('fail', 'The page could not read ' + shown(described(row)) + ' from the image: ' + result.text.trim());
    return null;
  }
  return result.files[0].bytes;
}

// Extracts the files of these names as the tool does, into the files the extraction handed back:
// a name its mask reaches in one run by that name (every user area), a name it reaches in no
// file (stored in lower case) in one run for each of its files on a copy holding that file alone.
function extractByName(names) {
  const extracted = [];
  const { byName, alone } = reaching(state.rows, names);
  for (const name of byName) {
    const args = [state.image.arg, '/x', 'out/' + name];
    const result = tool.run(args, state.image.bytes);
    outcome.log(args, result);
    extracted.push(...result.files);
  }
  for (const row of alone) {
    const args = [state.image.arg, '/x', 'out/*.*'];
    const result = tool.run(args, state.image.bytes, { alone: row.index });
    outcome.log(args, result, 'z18man', 'on a copy holding ' + described(row) + ' alone (its name is stored in lower case)');
    extracted.push(...result.files);
  }
  return extracted;
}

// Every file an extraction of these names touches, each on its own and named as z18fsck's salvage
// would name it (catalogue.js, handedOut), in name order.
function gather(names, extracted) {
  const files = [];
  for (const { row, shared, area } of handedOut(state.rows, names)) {
    const bytes = shared ? copyOut(row) : (extracted.find((f) => f.name === row.name) || {}).bytes;
    if (bytes) files.push({ name: row.name, area, bytes });
  }
  const named = tool.fileNames(files).map((name, i) => ({ name, bytes: files[i].bytes }));
  return named.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
}

// Extracting, as erasing, goes by name: when a name is in more than one user area, the dialog
// lists every file the request touches first.
async function extract(chosen) {
  const names = namesOf(chosen);
  const touched = touchedBy(state.rows, names);
  if (touched.length > names.length) {
    const text = 'The tool extracts a name from every user area that holds it. These files will be extracted:';
    if (!(await confirmed(text, touched.map(described), 'Extract', false))) return;
  }
  const files = gather(names, extractByName(names));
  deliver(files, files.length > 1);
}

function extractAll() {
  const args = [state.image.arg, '/x', 'out/*.*'];
  const result = tool.run(args, state.image.bytes);
  outcome.log(args, result);
  deliver(gather(namesOf(state.rows), result.files), true);
}

async function erase(chosen) {
  const names = namesOf(chosen);
  const touched = touchedBy(state.rows, names);
  const areas = touched.length > names.length ? ' The tool erases a name from every user area that holds it.' : '';
  if (!(await confirmed('Erase these files from ' + state.image.name + '?' + areas, touched.map(described), 'Erase'))) return;
  for (const name of names) change([state.image.arg, '/e', name]);
}

// Files the tool could not take as they are named are refused here, before anything runs.
async function addFiles(list) {
  if (!state.image || list.length === 0) return;
  const inputs = [];
  const refused = [];
  for (const f of list) {
    const why = unaddable(f.name, inputs.map((g) => g.name));
    if (why) refused.push('Not added: ' + shown(f.name) + ': ' + why + '.');
    else inputs.push({ name: f.name, bytes: await readFile(f) });
  }
  if (inputs.length) change([state.image.arg, '/a', 'in/*.*'], inputs);
  for (const text of refused) outcome.say('fail', text);
}

function showFile(row) {
  const bytes = copyOut(row);
  if (bytes) viewer.show(described(row), bytes);
}

// ---- dialogs ----

// A dialog with the given choices and Cancel; resolves to the value of the button pressed. A
// choice that changes the image is marked, so it does not look like Cancel.
function ask(text, items, choices) {
  const dialog = $('confirm');
  $('confirm-text').textContent = text;
  const list = $('confirm-list');
  list.textContent = '';
  for (const item of items) list.append(Object.assign(document.createElement('li'), { textContent: item }));
  list.hidden = items.length === 0;
  const buttons = $('confirm-buttons');
  for (const b of [...buttons.querySelectorAll('button:not(#confirm-cancel)')]) b.remove();
  for (const c of choices) {
    const b = Object.assign(document.createElement('button'), { value: c.value, id: 'confirm-' + c.value, textContent: c.label });
    if (c.danger) b.className = 'danger';
    buttons.insertBefore(b, $('confirm-cancel'));
  }
  dialog.returnValue = '';
  dialog.showModal();
  return new Promise((resolve) => dialog.addEventListener('close', () => resolve(dialog.returnValue || 'cancel'), { once: true }));
}

// Whether the one choice besides Cancel was taken; `danger` marks one that changes the image.
async function confirmed(text, items, label, danger = true) {
  return (await ask(text, items, [{ label, value: 'ok', danger }])) === 'ok';
}

// Opening or making an image puts the open one away: not without asking when it has changes.
async function mayReplace() {
  if (!state.unsaved) return true;
  const text = state.image.name + ' has changes that were not downloaded. Put them away?';
  return confirmed(text, [], 'Put away');
}

async function readFile(file) {
  return new Uint8Array(await file.arrayBuffer());
}

// ---- wiring ----

// Runs one user action at a time; an unexpected failure is shown rather than left in the console.
function action(fn) {
  return async (...args) => {
    if (state.busy || !tool.ready()) return;
    outcome.begin();
    state.offered = null;
    state.busy = true;
    update();
    try {
      await fn(...args);
    } catch (e) {
      outcome.say('fail', 'The page could not finish this: ' + e);
    } finally {
      state.busy = false;
      update();
      outcome.show(state.offered);
      keepClear();
    }
  };
}

function wire() {
  const on = (id, fn) => $(id).addEventListener('click', action(fn));
  $('open').addEventListener('click', () => $('open-input').click());
  $('open-input').addEventListener('change', action(async () => {
    const file = $('open-input').files[0];
    $('open-input').value = '';
    if (file) await openImage(file.name, await readFile(file));
  }));
  $('new-form').addEventListener('submit', (e) => e.preventDefault());
  $('new-form').addEventListener('submit', action(async () => newImage($('new-name').value)));
  on('save', async () => {
    download(state.image.name, state.image.bytes);
    state.unsaved = false;
    outcome.say('ok', 'Downloaded ' + state.image.name);
  });
  on('quick', async () => {
    const text = 'Quick format ' + state.image.name + '? Its directory is emptied: every file in it is lost.';
    if (await confirmed(text, [], 'Quick format')) change([state.image.arg, '/q']);
  });
  on('full', async () => {
    const text = 'Full format ' + state.image.name + '? The whole disk is cleared: every file in it is lost.';
    if (await confirmed(text, [], 'Full format')) change([state.image.arg, '/f']);
  });
  on('check', async () => rescue.check({ name: state.image.arg, bytes: state.image.bytes, open: true }));
  // The offer is taken before the action starts, which clears it.
  $('outcome-check').addEventListener('click', () => {
    const target = state.offered;
    if (target) action(async () => rescue.check(target))();
  });
  $('outcome-close').addEventListener('click', outcome.dismiss);
  on('salvage', async () => rescue.salvage());
  on('repair', async () => rescue.repair([], '-repaired.z18'));
  on('undelete', async () => rescue.repair(['-u'], '-undeleted.z18'));
  on('open-repaired', async () => openImage(rescue.repaired().name, rescue.repaired().bytes));
  on('rescue-close', async () => rescue.close());
  $('add').addEventListener('click', () => $('add-input').click());
  $('add-input').addEventListener('change', action(async () => {
    const files = [...$('add-input').files];
    $('add-input').value = '';
    await addFiles(files);
  }));
  on('extract', async () => extract(selected()));
  on('extract-all', async () => extractAll());
  on('erase', async () => erase(selected()));
  $('select-all').addEventListener('change', () => {
    for (const b of document.querySelectorAll('#catalogue tbody input')) b.checked = $('select-all').checked;
    update();
  });
  viewer.wire();
  on('view-close', async () => viewer.close());
  $('copy').addEventListener('click', () => {
    const text = $('log').textContent;
    if (navigator.clipboard) navigator.clipboard.writeText(text).catch(() => selectLog());
    else selectLog();
  });
  $('clear').addEventListener('click', () => {
    $('log').textContent = '';
  });

  // Dropping: files on the table are added, anything dropped elsewhere is opened as the image.
  // An image dropped on the table was most likely meant to be opened, so the page asks.
  let depth = 0;
  document.addEventListener('dragenter', (e) => {
    e.preventDefault();
    depth++;
    document.body.classList.add('dragging');
  });
  document.addEventListener('dragleave', () => {
    if (--depth <= 0) {
      depth = 0;
      document.body.classList.remove('dragging');
    }
  });
  document.addEventListener('dragover', (e) => {
    e.preventDefault();
    $('drop-files').classList.toggle('over', state.image !== null && $('drop-files').contains(e.target));
  });
  document.addEventListener('drop', action(async (e) => {
    e.preventDefault();
    depth = 0;
    document.body.classList.remove('dragging');
    const files = [...((e.dataTransfer && e.dataTransfer.files) || [])];
    if (files.length === 0) return;
    if (state.image && $('drop-files').contains(e.target)) {
      const disk = files.find((f) => f.size === IMAGE_SIZE || /\.z18$/i.test(f.name));
      if (disk) {
        const text = shown(disk.name) + ' looks like a disk image. Open it, or add the dropped file(s) to ' + state.image.name + '?';
        const choice = await ask(text, [], [{ label: 'Open image', value: 'open' }, { label: 'Add as file(s)', value: 'add' }]);
        if (choice === 'open') return openImage(disk.name, await readFile(disk));
        if (choice !== 'add') return;
      }
      return addFiles(files);
    }
    if (files.length > 1) outcome.say('warn', 'One image opens at a time: ' + shown(files[0].name) + ' is opened, the other dropped files are left alone.');
    await openImage(files[0].name, await readFile(files[0]));
  }));
  window.addEventListener('beforeunload', (e) => {
    if (!state.unsaved) return;
    e.preventDefault();
    e.returnValue = '';
  });
}

function selectLog() {
  const range = document.createRange();
  range.selectNodeContents($('log'));
  const sel = getSelection();
  sel.removeAllRanges();
  sel.addRange(range);
}

// What the browser test and the benchmark look at; `run` is a request outside the page's state.
const z18page = {
  history: outcome.history,
  scriptAt,
  run: tool.run,
  get image() { return state.image; },
  get unsaved() { return state.unsaved; },
  get busy() { return state.busy; },
};
window.z18page = z18page;
wire();
update();
tool.start().then(() => {
  z18page.readyAt = performance.now();
  document.documentElement.dataset.ready = 'true';
  update();
});
