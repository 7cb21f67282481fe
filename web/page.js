'use strict';
// The page around the tool: every request is a run of z18man itself (or of z18fsck, for a check),
// in a scratch folder of the in-memory file system holding the image, the files to add and a
// folder to extract into. The page keeps the image's bytes between runs, so a request the tool
// refuses leaves them as they were.
(() => {
  const scriptAt = performance.now();
  const $ = (id) => document.getElementById(id);
  const decoder = new TextDecoder();
  const encoder = new TextEncoder();
  const WORK = '/run';
  const IMAGE_SIZE = 368640;
  const CTRL_Z = 0x1a; // where CP/M text ends
  const OUTCOME_LINES = 6;
  let tool = null;
  let image = null; // { arg: the image argument, name: the name it downloads under, bytes }
  let rows = []; // the catalogue's rows, each with the first entry and user area of its file
  let unsaved = false;
  let busy = false;
  let suspect = null; // what the check looks at: { name, bytes, open: whether it is the open image }
  let offered = null; // a refused file the outcome offers to check
  let viewed = null; // { row, bytes, hex, lines }
  let said = []; // what the action under way has to say: { kind: ok, warn or fail, text }
  const history = []; // every logged run: { program, args, status, text }

  const toolFileName = (arg) => (arg.endsWith('.z18') ? arg : arg + '.z18');
  // Names from files and images are shown as text, their control bytes escaped.
  const shown = (name) => "'" + name.replace(/[\x00-\x1f\x7f]/g, (c) => '\\x' + c.charCodeAt(0).toString(16).padStart(2, '0')) + "'";
  const described = (row) => row.name + (row.user ? ' (user ' + row.user + ')' : '');

  function shellWord(word) {
    return /^[A-Za-z0-9_.\/-]+$/.test(word) ? word : "'" + word.replace(/'/g, "'\\''") + "'";
  }

  // What a terminal shows of the text: a carriage return goes back to the start of its line, and
  // what follows is written over what stood there.
  function onTerminal(text) {
    if (!text.includes('\r')) return text;
    const columns = (s) => [...s].reduce((out, c) => out + (c === '\t' ? ' '.repeat(8 - (out.length % 8)) : c), '');
    return text
      .split('\n')
      .map((line) =>
        line.split('\r').reduce((under, over) => {
          const [a, b] = [columns(under), columns(over)];
          return b.length >= a.length ? over : b + a.slice(b.length);
        }),
      )
      .join('\n');
  }

  function log(args, result, program = 'z18man') {
    history.push({ program, args, status: result.status, text: result.text });
    const pane = $('log');
    pane.append('$ ' + program + ' ' + args.map(shellWord).join(' ') + '\n' + onTerminal(result.text));
    pane.scrollTop = pane.scrollHeight;
    tell(result, program);
  }

  // How a run ended, in its own words: every status line it printed, then its last line.
  function tell(result, program) {
    let lines = onTerminal(result.text).split('\n').map((l) => l.trimEnd()).filter((l) => l);
    if (program === 'z18man') lines = lines.slice(2); // the banner
    const failed = lines.filter((l) => l.endsWith('!!!') || l.startsWith('z18fsck: '));
    for (const line of failed) say('fail', line);
    const last = lines[lines.length - 1];
    const kind = result.status === 0 ? 'ok' : program === 'z18fsck' && result.status === 1 ? 'warn' : 'fail';
    if (last && !failed.includes(last)) say(kind, last);
  }

  function say(kind, text) {
    said.push({ kind, text });
  }

  // The outcome of the last action stays in view at the foot of the window, wherever the page is
  // scrolled, and its text is a live region that screen readers read out.
  function showOutcome() {
    if (said.length === 0) return;
    const lines = said.slice(0, OUTCOME_LINES).map((s) => s.text);
    if (said.length > OUTCOME_LINES) lines.push('… and ' + (said.length - OUTCOME_LINES) + ' more line(s) in Messages');
    $('outcome-text').textContent = lines.join('\n');
    $('outcome').className = ['fail', 'warn', 'ok'].find((k) => said.some((s) => s.kind === k));
    // What the keyboard brings into view is not left under it, nor the end of the messages.
    document.documentElement.style.setProperty('--outcome', $('outcome').offsetHeight + 'px');
    $('outcome-check').hidden = offered === null;
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

  // Every file under a folder, by its path below it, in name order.
  // A file's bytes are taken from its in-memory node, which nothing changes once the run is over,
  // rather than read through a stream.
  function readFolder(path, prefix = '') {
    const FS = tool.FS;
    const files = [];
    for (const name of FS.readdir(path).sort()) {
      if (name === '.' || name === '..') continue;
      const node = FS.lookupPath(path + '/' + name).node;
      if (FS.isDir(node.mode)) files.push(...readFolder(path + '/' + name, prefix + name + '/'));
      else files.push({ name: prefix + name, bytes: node.contents ? node.contents.subarray(0, node.usedBytes) : new Uint8Array(0) });
    }
    return files;
  }

  // The scratch folder as a run finds it: the image under `file`, the files to add in in/, an
  // empty out/.
  function prepare(file, imageBytes, inputs = []) {
    const FS = tool.FS;
    FS.chdir('/');
    if (!FS.analyzePath(WORK).exists) FS.mkdir(WORK);
    emptyFolder(WORK);
    FS.mkdir(WORK + '/in');
    FS.mkdir(WORK + '/out');
    if (imageBytes) FS.writeFile(WORK + '/' + file, imageBytes);
    for (const input of inputs) FS.writeFile(WORK + '/in/' + input.name, input.bytes);
  }

  function output() {
    const at = tool._z18_output();
    return decoder.decode(tool.HEAPU8.slice(at, at + tool._z18_output_size()));
  }

  // One run of z18man (or of z18fsck, whose image is its last argument): `imageBytes` is put in
  // place first, `inputs` go into in/. Returns the exit status, what it printed, the image it left
  // (none after a request that only reads it) and the files it wrote into out/.
  function run(args, imageBytes, inputs = [], program = 'z18man') {
    const FS = tool.FS;
    const file = program === 'z18man' ? toolFileName(args[0]) : args[args.length - 1];
    prepare(file, imageBytes, inputs);
    FS.chdir(WORK);
    let status;
    const start = performance.now();
    try {
      if (program === 'z18man') {
        status = tool.callMain(args.slice());
      } else {
        const words = encoder.encode(args.map((a) => a + '\0').join(''));
        status = tool.ccall('z18_fsck', 'number', ['array', 'number'], [words, words.length]);
      }
    } finally {
      FS.chdir('/');
    }
    const toolMs = performance.now() - start;
    // A listing, an extraction and a check only read the image: it is not read back.
    const reads = program !== 'z18man' || args[1] === '/c' || args[1] === '/x';
    const kept = reads ? { exists: false } : FS.analyzePath(WORK + '/' + file);
    const after = kept.exists && FS.isFile(kept.object.mode) ? FS.readFile(WORK + '/' + file) : null;
    return { status, text: output(), image: after, files: readFolder(WORK + '/out'), toolMs };
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

  // The files of the image in `file` (just run on), in directory order: first entry, user area, name.
  function filesOf(file) {
    if (!tool.ccall('z18_files', 'number', ['string'], [WORK + '/' + file])) return [];
    return output()
      .split('\n')
      .filter((line) => line)
      .map((line) => {
        const [index, user, name] = line.split('\t');
        return { index: Number(index), user: Number(user), name };
      });
  }

  // The catalogue's rows with the user area and first entry of each. The catalogue lists files by
  // name, and those of one name in directory order, so the first file of that name not yet taken
  // is the row's.
  function listing(text, file) {
    const shownRows = parseCatalogue(text);
    const files = filesOf(file);
    for (const row of shownRows.rows) {
      const at = files.findIndex((f) => f.name === row.name);
      Object.assign(row, at >= 0 ? files.splice(at, 1)[0] : { index: -1, user: 0 });
    }
    return shownRows;
  }

  function sameBytes(a, b) {
    if (!a || !b || a.length !== b.length) return false;
    for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
    return true;
  }

  function refresh() {
    const result = run([image.arg, '/c'], image.bytes);
    showCatalogue(result.status === 0 ? listing(result.text, toolFileName(image.arg)) : { rows: [], totals: '' });
  }

  function showCatalogue(list) {
    rows = list.rows;
    const body = $('catalogue').tBodies[0];
    body.textContent = '';
    rows.forEach((row, i) => {
      const tr = body.insertRow();
      const box = Object.assign(document.createElement('input'), { type: 'checkbox', id: 'row-' + i });
      box.dataset.index = i;
      box.setAttribute('aria-label', 'Select ' + described(row));
      box.addEventListener('change', update);
      tr.insertCell().append(box);
      // The name is the check box's label, so a click on it selects the file too.
      const name = Object.assign(document.createElement('label'), { htmlFor: box.id, textContent: row.name });
      Object.assign(tr.insertCell(), { className: 'name' }).append(name);
      const view = Object.assign(document.createElement('button'), { type: 'button', textContent: 'View', className: 'small' });
      view.setAttribute('aria-label', 'View ' + described(row));
      view.addEventListener('click', action(async () => showFile(row)));
      tr.insertCell().append(view);
      Object.assign(tr.insertCell(), { className: 'num user', textContent: row.user });
      for (const value of [row.records, row.size]) Object.assign(tr.insertCell(), { className: 'num', textContent: value });
      for (const value of [row.r ? 'R' : '-', row.h ? 'H' : '-']) Object.assign(tr.insertCell(), { className: 'flag', textContent: value });
    });
    $('totals').textContent = list.totals;
    $('select-all').checked = false;
    update();
  }

  function selected() {
    return [...document.querySelectorAll('#catalogue tbody input:checked')].map((b) => rows[b.dataset.index]);
  }

  function update() {
    const open = image !== null;
    const some = selected().length > 0;
    for (const id of ['save', 'quick', 'full', 'add', 'check']) $(id).disabled = !open || busy;
    $('extract').disabled = !some || busy;
    $('erase').disabled = !some || busy;
    $('extract-all').disabled = !open || rows.length === 0 || busy;
    $('select-all').disabled = rows.length === 0;
    for (const b of document.querySelectorAll('#catalogue tbody button, #rescue-part button, #outcome-check')) b.disabled = busy;
    $('current').textContent = open
      ? 'Open: ' + image.name + (unsaved ? ' (changed, not downloaded yet)' : '')
      : 'No image open.';
  }

  // A request that may change the image: the tool's result becomes the page's image.
  // The open image changed, or another took its place: its check and the file in the viewer are
  // of bytes it no longer holds.
  function forgetViews() {
    if (suspect && suspect.open) closeRescue();
    closeViewer();
  }

  function change(args, inputs) {
    const result = run(args, image.bytes, inputs);
    log(args, result);
    if (result.image && !sameBytes(result.image, image.bytes)) {
      image.bytes = result.image;
      unsaved = true;
      forgetViews();
    }
    refresh();
    return result;
  }

  // Why the page would not keep an image under this name: it would be a path, or a browser would
  // download it under another name (Chromium turns these characters into "_", drops a leading or
  // trailing dot and replaces a leading or trailing space).
  function unkeepable(name) {
    if (name === '') return 'the name is empty';
    if (/[\/\\]/.test(name)) return 'a name holding / or \\ is a path; the page keeps an image under a plain file name';
    if (/[\x00-\x1f\x7f:*?"<>|]/.test(name)) return 'browsers download a name holding : * ? " < > | or a control character with _ in their place';
    if (/^[. ]|[. ]$/.test(name)) return 'browsers download a name that begins or ends with a dot or a space without it';
    if (encoder.encode(name).length > 255) return 'the name is longer than the 255 bytes a downloaded file may have';
    return null;
  }

  async function openImage(name, bytes) {
    const why = unkeepable(name);
    if (why) return say('fail', 'Not opened: ' + shown(name) + ': ' + why + '.');
    const args = [name, '/c'];
    const result = run(args, bytes);
    log(args, result);
    // The tool said why; the open image stays as it was, and a damaged or foreign image may still
    // give up its files to z18fsck.
    if (result.status !== 0) {
      offered = { name, bytes, open: false };
      return;
    }
    const list = listing(result.text, toolFileName(name));
    if (!(await mayReplace())) return;
    image = { arg: name, name, bytes };
    unsaved = false;
    forgetViews();
    showCatalogue(list);
  }

  async function newImage(typed) {
    const name = typed.trim();
    const why = unkeepable(name) || unkeepable(toolFileName(name));
    if (why) return say('fail', 'No image made: ' + shown(name) + ': ' + why + '.');
    if (!(await mayReplace())) return;
    const result = run([name, '/f'], null);
    log([name, '/f'], result);
    if (result.status !== 0 || !result.image) return;
    image = { arg: name, name: toolFileName(name), bytes: result.image };
    unsaved = true;
    forgetViews();
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
      const name = encoder.encode(f.name);
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

  const baseName = (name) => name.replace(/\.z18$/, '') || name;

  // One file downloads under its own name when a browser keeps that name; anything else as a zip.
  function deliver(files, asZip) {
    if (files.length === 0) return;
    const zipName = baseName(image.name) + '.zip';
    if (files.length === 1 && !asZip && !unkeepable(files[0].name)) {
      download(files[0].name, files[0].bytes);
      say('ok', 'Downloaded ' + files[0].name);
    } else {
      download(zipName, zip(files), 'application/zip');
      say('ok', files.length + ' file(s) downloaded as ' + zipName);
    }
  }

  // The one file that starts at the row's entry, as the tool extracts it from that user area alone.
  function copyOut(row) {
    const file = toolFileName(image.arg);
    prepare(file, image.bytes);
    tool.ccall('z18_copy', 'number', ['string', 'number', 'string'], [WORK + '/' + file, row.index, WORK + '/out/']);
    const files = readFolder(WORK + '/out');
    if (files.length !== 1) {
      say('fail', 'The page could not read ' + shown(described(row)) + ' from the image: ' + output().trim());
      return null;
    }
    return { name: row.name, user: row.user, bytes: files[0].bytes };
  }

  // Every file the tool's extraction of these names touches. A name held by one file comes as the
  // tool wrote it; a name held in several user areas is taken from each area alone, and in the
  // download the areas other than 0 put "uN-" before it, the rule z18fsck's salvage names files
  // by; a name taken already (whatever its case) gets "~1", "~2"... before its type.
  function gather(names, extracted) {
    const files = [];
    for (const name of names) {
      const areas = rows.filter((r) => r.name === name);
      if (areas.length > 1) {
        for (const row of areas) {
          const f = copyOut(row);
          if (f) files.push({ name: row.user ? 'u' + row.user + '-' + name : name, bytes: f.bytes });
        }
      } else {
        files.push(...extracted.filter((f) => f.name === name));
      }
    }
    const taken = new Set();
    for (const f of files) {
      const plain = f.name;
      const dot = plain.lastIndexOf('.');
      const at = dot > 0 ? dot : plain.length;
      for (let n = 1; taken.has(f.name.toLowerCase()); n++) f.name = plain.slice(0, at) + '~' + n + plain.slice(at);
      taken.add(f.name.toLowerCase());
    }
    return files.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
  }

  // Extracting, as erasing, goes by name: when a name is in more than one user area, the dialog
  // lists every file the request touches first.
  async function extract(chosen) {
    const names = [...new Set(chosen.map((r) => r.name))];
    const touched = rows.filter((r) => names.includes(r.name));
    if (touched.length > names.length) {
      const text = 'The tool extracts a name from every user area that holds it. These files will be extracted:';
      if (!(await confirmed(text, touched.map(described), 'Extract', false))) return;
    }
    const extracted = [];
    for (const name of names) {
      const args = [image.arg, '/x', 'out/' + name];
      const result = run(args, image.bytes);
      log(args, result);
      extracted.push(...result.files);
    }
    const files = gather(names, extracted);
    deliver(files, files.length > 1);
  }

  function extractAll() {
    const args = [image.arg, '/x', 'out/*.*'];
    const result = run(args, image.bytes);
    log(args, result);
    deliver(gather([...new Set(rows.map((r) => r.name))], result.files), true);
  }

  async function erase(chosen) {
    const names = [...new Set(chosen.map((r) => r.name))];
    const touched = rows.filter((r) => names.includes(r.name));
    const areas = touched.length > names.length ? ' The tool erases a name from every user area that holds it.' : '';
    if (!(await confirmed('Erase these files from ' + image.name + '?' + areas, touched.map(described), 'Erase'))) return;
    for (const name of names) change([image.arg, '/e', name]);
  }

  // Files whose name would reach outside in/, that the tool's mask passes over without a word, or
  // that a second file of the drop would overwrite there, are refused here, before anything runs.
  async function addFiles(list) {
    if (!image || list.length === 0) return;
    const inputs = [];
    const refused = [];
    for (const f of list) {
      const why = /[\/\\]|\.\./.test(f.name)
        ? 'a name holding / \\ or .. would reach outside the files to add'
        : f.name.startsWith('.')
          ? 'a name beginning with a dot is not a CP/M name'
          : inputs.some((g) => g.name === f.name)
            ? 'a second file of this name in the same drop (the first one is added)'
            : null;
      if (why) refused.push('Not added: ' + shown(f.name) + ': ' + why + '.');
      else inputs.push({ name: f.name, bytes: await readFile(f) });
    }
    if (inputs.length) change([image.arg, '/a', 'in/*.*'], inputs);
    for (const text of refused) say('fail', text);
  }

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

  // Opening or making an image puts the open one away: not without asking when it has changes.
  async function mayReplace() {
    if (!unsaved) return true;
    const text = image.name + ' has changes that were not downloaded. Put them away?';
    return confirmed(text, [], 'Put away');
  }

  // Whether the one choice besides Cancel was taken; `danger` marks one that changes the image.
  async function confirmed(text, items, label, danger = true) {
    return (await ask(text, items, [{ label, value: 'ok', danger }])) === 'ok';
  }

  async function readFile(file) {
    return new Uint8Array(await file.arrayBuffer());
  }

  // ---- the check by z18fsck ----

  // Shows one of the parts below the catalogue (the check, the viewer), its title in focus.
  function reveal(part) {
    $(part + '-part').hidden = false;
    $(part + '-title').focus();
    $(part + '-part').scrollIntoView({ block: 'start' });
  }

  function closeRescue() {
    suspect = null;
    $('rescue-part').hidden = true;
    $('rescue-report').textContent = '';
  }

  function fsck(words) {
    const args = [...words, toolFileName(suspect.name)];
    const result = run(args, suspect.bytes, [], 'z18fsck');
    log(args, result, 'z18fsck');
    return result;
  }

  function check(target) {
    suspect = { name: target.name, bytes: target.bytes.slice(), open: target.open };
    const result = fsck([]);
    $('rescue-name').textContent = toolFileName(suspect.name);
    $('rescue-report').textContent = result.text;
    $('open-repaired').hidden = true;
    // The check's code for an erased file that a repair can bring back.
    $('undelete').hidden = !/^I702 /m.test(result.text);
    reveal('rescue');
  }

  function salvage() {
    const result = fsck(['-x', 'out']);
    if (result.files.length) {
      const name = baseName(suspect.name) + '-salvage.zip';
      download(name, zip(result.files), 'application/zip');
      say('ok', result.files.length + ' file(s), the report among them, downloaded as ' + name);
    }
  }

  // The repaired copy, or with `-u` the copy that also brings back the erased files.
  function repair(words, suffix) {
    const name = baseName(suspect.name) + suffix;
    const result = fsck([...words, '-o', 'out/' + name]);
    const made = result.files.find((f) => f.name === name);
    if (!made) return;
    download(name, made.bytes);
    say('ok', 'Downloaded ' + name);
    suspect.repaired = { name, bytes: made.bytes };
    $('open-repaired').hidden = false;
  }

  // ---- the file viewer ----

  const HEX = Array.from({ length: 256 }, (_, b) => b.toString(16).padStart(2, '0'));
  const PRINTED = Array.from({ length: 256 }, (_, b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : '.'));
  // In the text view a tab and a line end are themselves; other control bytes show in caret
  // notation (^@ for 0, ^A for 1, ^? for 127), and bytes from 0x80 up, which CP/M text does not
  // use, as a middle dot.
  const AS_TEXT = Array.from({ length: 256 }, (_, b) =>
    b === 9 || b === 10 ? String.fromCharCode(b) : b < 0x20 ? '^' + String.fromCharCode(0x40 + b) : b === 0x7f ? '^?' : b > 0x7f ? '\u00b7' : String.fromCharCode(b),
  );

  function hexLine(bytes, at) {
    let hex = at.toString(16).padStart(6, '0') + ' ';
    let text = '';
    for (let i = at; i < at + 16; i++) {
      if (i === at + 8) hex += ' ';
      if (i < bytes.length) {
        hex += ' ' + HEX[bytes[i]];
        text += PRINTED[bytes[i]];
      } else {
        hex += '   ';
      }
    }
    return hex + '  |' + text + '|';
  }

  // The text up to the first ^Z, a CR LF pair as one line end.
  function textLines(bytes, end) {
    const parts = [];
    for (let i = 0; i < end; i++) {
      if (bytes[i] === 13 && i + 1 < end && bytes[i + 1] === 10) {
        parts.push('\n');
        i++;
      } else {
        parts.push(AS_TEXT[bytes[i]]);
      }
    }
    return parts.join('').split('\n');
  }

  function showFile(row) {
    const f = copyOut(row);
    if (!f) return;
    viewed = { row, bytes: f.bytes, hex: viewed ? viewed.hex : false };
    $('view-name').textContent = described(row);
    reveal('view');
    drawFile();
  }

  function closeViewer() {
    viewed = null;
    $('view-part').hidden = true;
    $('view-lines').textContent = '';
  }

  // Only the lines in sight are in the document, so a whole disk's worth opens at once.
  function drawFile() {
    const { bytes, hex } = viewed;
    const stop = bytes.indexOf(CTRL_Z);
    const end = stop < 0 ? bytes.length : stop;
    if (hex) {
      viewed.lines = { count: Math.ceil(bytes.length / 16), at: (i) => hexLine(bytes, i * 16), width: 78 };
      $('view-info').textContent = bytes.length + ' bytes, offsets in hex.';
    } else {
      const lines = textLines(bytes, end);
      viewed.lines = { count: lines.length, at: (i) => lines[i], width: lines.reduce((w, l) => Math.max(w, l.length), 0) };
      $('view-info').textContent = (end < bytes.length ? 'Text up to the first ^Z, at byte ' + end + ' of ' : 'Text, no ^Z in its ') + bytes.length + ' bytes.';
    }
    $('view-text').setAttribute('aria-pressed', String(!hex));
    $('view-hex').setAttribute('aria-pressed', String(hex));
    const height = parseFloat(getComputedStyle($('view-lines')).lineHeight);
    Object.assign($('view-space').style, { height: viewed.lines.count * height + 'px', width: viewed.lines.width + 'ch' });
    $('view-body').scrollTop = 0;
    drawLines();
  }

  function drawLines() {
    if (!viewed) return;
    const body = $('view-body');
    const pre = $('view-lines');
    const height = parseFloat(getComputedStyle(pre).lineHeight);
    const first = Math.max(0, Math.floor(body.scrollTop / height) - 40);
    const last = Math.min(viewed.lines.count, first + Math.ceil(body.clientHeight / height) + 80);
    let text = '';
    for (let i = first; i < last; i++) text += viewed.lines.at(i) + '\n';
    pre.style.top = first * height + 'px';
    pre.textContent = text;
  }

  // Runs one user action at a time; an unexpected failure is shown rather than left in the console.
  function action(fn) {
    return async (...args) => {
      if (busy || !tool) return;
      said = [];
      offered = null;
      busy = true;
      update();
      try {
        await fn(...args);
      } catch (e) {
        say('fail', 'The page could not finish this: ' + e);
      } finally {
        busy = false;
        update();
        showOutcome();
      }
    };
  }

  function wire() {
    $('open').addEventListener('click', () => $('open-input').click());
    $('open-input').addEventListener('change', action(async () => {
      const file = $('open-input').files[0];
      $('open-input').value = '';
      if (file) await openImage(file.name, await readFile(file));
    }));
    $('new-form').addEventListener('submit', (e) => e.preventDefault());
    $('new-form').addEventListener('submit', action(async () => newImage($('new-name').value)));
    $('save').addEventListener('click', action(async () => {
      download(image.name, image.bytes);
      unsaved = false;
      say('ok', 'Downloaded ' + image.name);
    }));
    $('quick').addEventListener('click', action(async () => {
      const text = 'Quick format ' + image.name + '? Its directory is emptied: every file in it is lost.';
      if (await confirmed(text, [], 'Quick format')) change([image.arg, '/q']);
    }));
    $('full').addEventListener('click', action(async () => {
      const text = 'Full format ' + image.name + '? The whole disk is cleared: every file in it is lost.';
      if (await confirmed(text, [], 'Full format')) change([image.arg, '/f']);
    }));
    $('check').addEventListener('click', action(async () => check({ name: image.arg, bytes: image.bytes, open: true })));
    // The offer is taken before the action starts, which clears it.
    $('outcome-check').addEventListener('click', () => {
      const target = offered;
      if (target) action(async () => check(target))();
    });
    $('outcome-close').addEventListener('click', () => {
      $('outcome').className = 'empty';
      document.documentElement.style.removeProperty('--outcome');
    });
    $('salvage').addEventListener('click', action(async () => salvage()));
    $('repair').addEventListener('click', action(async () => repair([], '-repaired.z18')));
    $('undelete').addEventListener('click', action(async () => repair(['-u'], '-undeleted.z18')));
    $('open-repaired').addEventListener('click', action(async () => openImage(suspect.repaired.name, suspect.repaired.bytes)));
    $('rescue-close').addEventListener('click', closeRescue);
    $('add').addEventListener('click', () => $('add-input').click());
    $('add-input').addEventListener('change', action(async () => {
      const files = [...$('add-input').files];
      $('add-input').value = '';
      await addFiles(files);
    }));
    $('extract').addEventListener('click', action(async () => extract(selected())));
    $('extract-all').addEventListener('click', action(async () => extractAll()));
    $('erase').addEventListener('click', action(async () => erase(selected())));
    $('select-all').addEventListener('change', () => {
      for (const b of document.querySelectorAll('#catalogue tbody input')) b.checked = $('select-all').checked;
      update();
    });
    for (const [id, hex] of [['view-text', false], ['view-hex', true]]) {
      $(id).addEventListener('click', () => {
        if (viewed && viewed.hex !== hex) {
          viewed.hex = hex;
          drawFile();
        }
      });
    }
    $('view-close').addEventListener('click', closeViewer);
    let drawing = false;
    $('view-body').addEventListener('scroll', () => {
      if (drawing) return;
      drawing = true;
      requestAnimationFrame(() => {
        drawing = false;
        drawLines();
      });
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
      $('drop-files').classList.toggle('over', image !== null && $('drop-files').contains(e.target));
    });
    document.addEventListener('drop', action(async (e) => {
      e.preventDefault();
      depth = 0;
      document.body.classList.remove('dragging');
      const files = [...((e.dataTransfer && e.dataTransfer.files) || [])];
      if (files.length === 0) return;
      if (image && $('drop-files').contains(e.target)) {
        const disk = files.find((f) => f.size === IMAGE_SIZE || /\.z18$/i.test(f.name));
        if (disk) {
          const text = shown(disk.name) + ' looks like a disk image. Open it, or add the dropped file(s) to ' + image.name + '?';
          const choice = await ask(text, [], [{ label: 'Open image', value: 'open' }, { label: 'Add as file(s)', value: 'add' }]);
          if (choice === 'open') return openImage(disk.name, await readFile(disk));
          if (choice !== 'add') return;
        }
        return addFiles(files);
      }
      if (files.length > 1) say('warn', 'One image opens at a time: ' + shown(files[0].name) + ' is opened, the other dropped files are left alone.');
      await openImage(files[0].name, await readFile(files[0]));
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
