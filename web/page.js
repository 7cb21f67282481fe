'use strict';
// The page around the tool: every request is a run of z18man itself, in a scratch folder of the
// in-memory file system holding the image, the files to add and a folder to extract into. The
// page keeps the image's bytes between runs, so a request the tool refuses leaves them as they were.
(() => {
  const scriptAt = performance.now();
  const $ = (id) => document.getElementById(id);
  const decoder = new TextDecoder();
  const WORK = '/run';
  let tool = null;
  let image = null; // { arg: the image argument, name: the name it downloads under, bytes }
  let rows = [];
  let unsaved = false;
  let busy = false;
  const history = []; // every logged request: { args, status, text }

  const toolFileName = (arg) => (arg.endsWith('.z18') ? arg : arg + '.z18');

  function shellWord(word) {
    return /^[A-Za-z0-9_.\/-]+$/.test(word) ? word : "'" + word.replace(/'/g, "'\\''") + "'";
  }

  function log(args, result) {
    history.push({ args, status: result.status, text: result.text });
    const pane = $('log');
    pane.append('$ z18man ' + args.map(shellWord).join(' ') + '\n' + result.text);
    pane.scrollTop = pane.scrollHeight;
  }

  function emptyFolder(path) {
    const FS = tool.FS;
    for (const name of FS.readdir(path)) {
      if (name === '.' || name === '..') continue;
      const full = path + '/' + name;
      if (FS.isDir(FS.stat(full).mode)) {
        emptyFolder(full);
        FS.rmdir(full);
      } else {
        FS.unlink(full);
      }
    }
  }

  // One run of the tool: `imageBytes` is put in place first (under the name the tool will open),
  // `inputs` go into in/. Returns the exit status, what the tool printed, the image it left and
  // the files it extracted into out/.
  function run(args, imageBytes, inputs = []) {
    const FS = tool.FS;
    FS.chdir('/');
    if (!FS.analyzePath(WORK).exists) FS.mkdir(WORK);
    emptyFolder(WORK);
    FS.mkdir(WORK + '/in');
    FS.mkdir(WORK + '/out');
    const file = toolFileName(args[0]);
    if (imageBytes) FS.writeFile(WORK + '/' + file, imageBytes);
    for (const input of inputs) FS.writeFile(WORK + '/in/' + input.name, input.bytes);
    FS.chdir(WORK);
    let status;
    const start = performance.now();
    try {
      status = tool.callMain(args.slice());
    } finally {
      FS.chdir('/');
    }
    const toolMs = performance.now() - start;
    const at = tool._z18_output();
    const text = decoder.decode(tool.HEAPU8.slice(at, at + tool._z18_output_size()));
    const kept = FS.analyzePath(WORK + '/' + file);
    const after = kept.exists && FS.isFile(kept.object.mode) ? FS.readFile(WORK + '/' + file) : null;
    const files = FS.readdir(WORK + '/out')
      .filter((n) => n !== '.' && n !== '..')
      .sort()
      .map((name) => ({ name, bytes: FS.readFile(WORK + '/out/' + name) }));
    return { status, text, image: after, files, toolMs };
  }

  // The catalogue's rows and totals, read from the listing /c prints.
  function parseCatalogue(text) {
    const found = [];
    let totals = '';
    for (const line of text.replace(/Press any key to continue\.\.\.\r/g, '').split('\n')) {
      for (const cell of line.split('\t')) {
        const m = /^(.+?) +(-?\d+) +(-?\d+)K  ([R-])([H-])$/.exec(cell);
        if (m) found.push({ name: m[1], records: m[2], size: m[3] + 'K', r: m[4] === 'R', h: m[5] === 'H' });
      }
      if (/^-?\d+K in -?\d+ file\(s\), -?\d+K free$/.test(line)) totals = line;
    }
    return { rows: found, totals };
  }

  function sameBytes(a, b) {
    if (!a || !b || a.length !== b.length) return false;
    for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
    return true;
  }

  function refresh() {
    const result = run([image.arg, '/c'], image.bytes);
    showCatalogue(result.status === 0 ? parseCatalogue(result.text) : { rows: [], totals: '' });
  }

  function showCatalogue(listing) {
    rows = listing.rows;
    const body = $('catalogue').tBodies[0];
    body.textContent = '';
    rows.forEach((row, i) => {
      const tr = body.insertRow();
      const box = document.createElement('input');
      box.type = 'checkbox';
      box.dataset.index = i;
      box.id = 'row-' + i;
      box.setAttribute('aria-label', 'Select ' + row.name);
      box.addEventListener('change', update);
      tr.insertCell().append(box);
      // The name is the check box's label, so a click on it selects the file too.
      const name = Object.assign(document.createElement('label'), { htmlFor: box.id, textContent: row.name });
      Object.assign(tr.insertCell(), { className: 'name' }).append(name);
      for (const value of [row.records, row.size]) Object.assign(tr.insertCell(), { className: 'num', textContent: value });
      for (const value of [row.r ? 'R' : '-', row.h ? 'H' : '-']) tr.insertCell().textContent = value;
    });
    $('totals').textContent = listing.totals;
    $('select-all').checked = false;
    update();
  }

  function selected() {
    return [...document.querySelectorAll('#catalogue tbody input:checked')].map((b) => rows[b.dataset.index].name);
  }

  function update() {
    const open = image !== null;
    const some = selected().length > 0;
    for (const id of ['save', 'quick', 'full', 'add']) $(id).disabled = !open || busy;
    $('extract').disabled = !some || busy;
    $('erase').disabled = !some || busy;
    $('extract-all').disabled = !open || rows.length === 0 || busy;
    $('select-all').disabled = rows.length === 0;
    $('current').textContent = open
      ? 'Open: ' + image.name + (unsaved ? ' (changed, not downloaded yet)' : '')
      : 'No image open.';
  }

  // A request that may change the image: the tool's result becomes the page's image.
  function change(args, inputs) {
    const result = run(args, image.bytes, inputs);
    log(args, result);
    if (result.image && !sameBytes(result.image, image.bytes)) {
      image.bytes = result.image;
      unsaved = true;
    }
    refresh();
    return result;
  }

  function openImage(name, bytes) {
    const result = run([name, '/c'], bytes);
    log([name, '/c'], result);
    if (result.status !== 0) return; // the tool said why; the page keeps what it had
    image = { arg: name, name, bytes };
    unsaved = false;
    showCatalogue(parseCatalogue(result.text));
  }

  function newImage(name) {
    const result = run([name, '/f'], null);
    log([name, '/f'], result);
    if (result.status !== 0 || !result.image) return;
    image = { arg: name, name: toolFileName(name), bytes: result.image };
    unsaved = true;
    refresh();
  }

  function download(name, bytes, type = 'application/octet-stream') {
    const url = URL.createObjectURL(new Blob([bytes], { type }));
    const a = document.createElement('a');
    a.href = url;
    a.download = name;
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  }

  // A zip archive with its members stored as they are: the extracted files are at most a disk's
  // worth, so compressing them would buy little for the code it takes.
  const crcTable = new Uint32Array(256).map((_, n) => {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c;
  });
  function crc32(bytes) {
    let c = 0xffffffff;
    for (const b of bytes) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
  }
  function zip(files) {
    const now = new Date();
    const time = (now.getHours() << 11) | (now.getMinutes() << 5) | (now.getSeconds() >> 1);
    const date = ((now.getFullYear() - 1980) << 9) | ((now.getMonth() + 1) << 5) | now.getDate();
    const parts = [];
    const central = [];
    let offset = 0;
    const header = (size, fill) => {
      const b = new Uint8Array(size);
      fill(new DataView(b.buffer));
      return b;
    };
    for (const f of files) {
      const name = new TextEncoder().encode(f.name);
      const crc = crc32(f.bytes);
      const common = (v, at) => {
        v.setUint16(at, 20, true); // version needed: 2.0
        v.setUint16(at + 2, 0, true); // no flags
        v.setUint16(at + 4, 0, true); // stored
        v.setUint16(at + 6, time, true);
        v.setUint16(at + 8, date, true);
        v.setUint32(at + 10, crc, true);
        v.setUint32(at + 14, f.bytes.length, true);
        v.setUint32(at + 18, f.bytes.length, true);
        v.setUint16(at + 22, name.length, true);
      };
      const local = header(30, (v) => {
        v.setUint32(0, 0x04034b50, true);
        common(v, 4);
      });
      central.push(header(46, (v) => {
        v.setUint32(0, 0x02014b50, true);
        v.setUint16(4, 20, true); // made by: 2.0
        common(v, 6);
        v.setUint32(42, offset, true);
      }), name);
      parts.push(local, name, f.bytes);
      offset += 30 + name.length + f.bytes.length;
    }
    const centralSize = central.reduce((n, b) => n + b.length, 0);
    const end = header(22, (v) => {
      v.setUint32(0, 0x06054b50, true);
      v.setUint16(8, files.length, true);
      v.setUint16(10, files.length, true);
      v.setUint32(12, centralSize, true);
      v.setUint32(16, offset, true);
    });
    return new Blob([...parts, ...central, end], { type: 'application/zip' });
  }

  function deliver(files, zipName) {
    if (files.length === 1 && !zipName) download(files[0].name, files[0].bytes);
    else if (files.length > 0) download(zipName || baseName() + '.zip', zip(files), 'application/zip');
  }

  function baseName() {
    return image.name.replace(/\.[^.]*$/, '') || image.name;
  }

  function extract(names) {
    const files = [];
    for (const name of names) {
      const args = [image.arg, '/x', 'out/' + name];
      const result = run(args, image.bytes);
      log(args, result);
      for (const f of result.files) if (!files.some((g) => g.name === f.name)) files.push(f);
    }
    deliver(files, names.length > 1 ? baseName() + '.zip' : null);
  }

  function extractAll() {
    const args = [image.arg, '/x', 'out/*.*'];
    const result = run(args, image.bytes);
    log(args, result);
    deliver(result.files, baseName() + '.zip');
  }

  async function addFiles(list) {
    if (!image || list.length === 0) return;
    const inputs = [];
    for (const f of list) inputs.push({ name: f.name, bytes: await readFile(f) });
    change([image.arg, '/a', 'in/*.*'], inputs);
    // The tool's mask passes over host names that begin with a dot, without a word: say so here.
    const passed = inputs.filter((f) => f.name.startsWith('.')).map((f) => f.name);
    if (passed.length) note('Not added (a name beginning with a dot is not a CP/M name): ' + passed.join(', '));
  }

  function confirmDialog(text, items, okLabel) {
    const dialog = $('confirm');
    $('confirm-text').textContent = text;
    const list = $('confirm-list');
    list.textContent = '';
    for (const item of items) list.append(Object.assign(document.createElement('li'), { textContent: item }));
    list.hidden = items.length === 0;
    $('confirm-ok').textContent = okLabel;
    dialog.returnValue = '';
    dialog.showModal();
    return new Promise((resolve) => dialog.addEventListener('close', () => resolve(dialog.returnValue === 'ok'), { once: true }));
  }

  // Runs one user action at a time; an unexpected failure is shown rather than left in the console.
  function action(fn) {
    return async (...args) => {
      if (busy || !tool) return;
      note('');
      busy = true;
      update();
      try {
        await fn(...args);
      } catch (e) {
        note('The page could not finish this: ' + e);
      } finally {
        busy = false;
        update();
      }
    };
  }

  // Page notes go beside the log, which holds only what the tool printed.
  function note(text) {
    $('note').textContent = text;
  }

  // Opening or making an image puts the open one away: not without asking when it has changes.
  async function mayReplace() {
    return !unsaved || confirmDialog(image.name + ' has changes that were not downloaded. Put them away?', [], 'Put away');
  }

  async function readFile(file) {
    return new Uint8Array(await file.arrayBuffer());
  }

  function wire() {
    $('open').addEventListener('click', () => $('open-input').click());
    $('open-input').addEventListener('change', action(async () => {
      const file = $('open-input').files[0];
      $('open-input').value = '';
      if (file && (await mayReplace())) openImage(file.name, await readFile(file));
    }));
    $('new-form').addEventListener('submit', action(async (e) => {
      e.preventDefault();
      const name = $('new-name').value.trim();
      if (name && (await mayReplace())) newImage(name);
    }));
    $('save').addEventListener('click', () => {
      if (!image) return;
      download(image.name, image.bytes);
      unsaved = false;
      update();
    });
    $('quick').addEventListener('click', action(async () => {
      if (await confirmDialog('Quick format ' + image.name + '? Its directory is emptied: every file in it is lost.', [], 'Quick format'))
        change([image.arg, '/q']);
    }));
    $('full').addEventListener('click', action(async () => {
      if (await confirmDialog('Full format ' + image.name + '? The whole disk is cleared: every file in it is lost.', [], 'Full format'))
        change([image.arg, '/f']);
    }));
    $('add').addEventListener('click', () => $('add-input').click());
    $('add-input').addEventListener('change', action(async () => {
      const files = [...$('add-input').files];
      $('add-input').value = '';
      await addFiles(files);
    }));
    $('extract').addEventListener('click', action(async () => extract(selected())));
    $('extract-all').addEventListener('click', action(async () => extractAll()));
    $('erase').addEventListener('click', action(async () => {
      const names = selected();
      if (!(await confirmDialog('Erase these files from ' + image.name + '?', names, 'Erase'))) return;
      for (const name of names) change([image.arg, '/e', name]);
    }));
    $('select-all').addEventListener('change', () => {
      for (const b of document.querySelectorAll('#catalogue tbody input')) b.checked = $('select-all').checked;
      update();
    });
    $('copy').addEventListener('click', () => {
      const text = $('log').textContent;
      if (navigator.clipboard) navigator.clipboard.writeText(text).catch(() => selectLog());
      else selectLog();
    });
    $('clear').addEventListener('click', () => {
      $('log').textContent = '';
    });

    // Dropping: files on the table are added, anything dropped elsewhere is opened as the image.
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
      $('drop-files').classList.toggle('over', image !== null && $('drop-files').contains(e.target));
    });
    document.addEventListener('drop', action(async (e) => {
      e.preventDefault();
      depth = 0;
      document.body.classList.remove('dragging');
      const files = [...((e.dataTransfer && e.dataTransfer.files) || [])];
      if (files.length === 0) return;
      if (image && $('drop-files').contains(e.target)) await addFiles(files);
      else if (await mayReplace()) openImage(files[0].name, await readFile(files[0]));
    }));
    window.addEventListener('beforeunload', (e) => {
      if (!unsaved) return;
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
  const z18page = { history, scriptAt, run, get image() { return image; }, get unsaved() { return unsaved; }, get busy() { return busy; } };
  window.z18page = z18page;
  wire();
  update();
  const ignore = () => {};
  // Input and output are plain devices, not a terminal: the tool then never waits for a key.
  createZ18({ thisProgram: 'z18man', stdin: () => null, stdout: ignore, stderr: ignore, print: ignore, printErr: ignore }).then((m) => {
    tool = m;
    z18page.readyAt = performance.now();
    document.documentElement.dataset.ready = 'true';
    update();
  });
})();
