'use strict';
// Drives z18man.html in headless Chromium, opened from file://, and holds every result against the
// native z18man and z18fsck given the same requests: the message log, downloaded images and
// extracted files; after every step the outcome must be in the window. Each scenario runs at a
// desktop's size and a phone's.
//   node page-test.js PAGE.html NATIVE-z18man [SCREENSHOT.png]   (z18fsck beside z18man)
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const puppeteer = require('puppeteer-core');

const [pageFile, native, shot] = process.argv.slice(2).map((p) => p && path.resolve(p));
const nativeFsck = path.join(path.dirname(native), 'z18fsck');
const pageUrl = 'file://' + pageFile;
const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'z18page-'));
const pattern = (n, seed) => Buffer.from(Array.from({ length: n }, (_, i) => (i * 31 + seed * 7 + (i >> 8)) & 255));
const file = (name, n, seed = 1) => ({ name, bytes: pattern(n, seed) });
const toolFile = (arg) => (arg.endsWith('.z18') ? arg : arg + '.z18');
const quote = (w) => (/^[A-Za-z0-9_./-]+$/.test(w) ? w : "'" + w.replace(/'/g, "'\\''") + "'");
const check = (ok, what) => {
  if (!ok) throw new Error(what);
};
const same = (a, b, what) => check(a && b && Buffer.compare(Buffer.from(a), Buffer.from(b)) === 0, what + ' differs');
// A terminal returns to the start of the line at a carriage return and writes over what was there.
const terminal = (text) => text.split('\n').map((l) => l.split('\r').reduce((a, b) => (b.length >= a.length ? b : b + a.slice(b.length)))).join('\n');

// The native side of a request: a fresh folder with the image and the files to add, as the page
// has. What it prints is logged, and its status lines and last line are what the page must show.
function nativeRun(st, args, inputs = [], program = native, note = '') {
  const dir = fs.mkdtempSync(path.join(tmp, 'n-'));
  for (const sub of ['in', 'out']) fs.mkdirSync(path.join(dir, sub));
  const img = path.join(dir, program === native ? toolFile(args[0]) : args[args.length - 1]);
  if (st.image) fs.writeFileSync(img, st.image);
  for (const f of inputs) fs.writeFileSync(path.join(dir, 'in', f.name), f.bytes);
  let out;
  let status = 0;
  try {
    out = execFileSync(program, args, { cwd: dir, stdio: ['ignore', 'pipe', 'inherit'] });
  } catch (e) {
    [out, status] = [e.stdout, e.status];
  }
  const text = out.toString();
  if (st.log !== undefined) {
    st.log += '$ ' + path.basename(program) + ' ' + args.map(quote).join(' ') + (note ? '    # ' + note : '') + '\n' + terminal(text);
    const lines = terminal(text).split('\n').filter((l) => l.trim());
    st.told.push(...lines.filter((l) => l.endsWith('!!!')), lines[lines.length - 1].trimEnd());
  }
  const files = readTree(path.join(dir, 'out'));
  return { status, text, image: fs.existsSync(img) ? fs.readFileSync(img) : null, files };
}
const readTree = (dir, at = '') => fs.readdirSync(dir).sort().flatMap((name) => (fs.statSync(path.join(dir, name)).isDirectory()
  ? readTree(path.join(dir, name), at + name + '/') : [{ name: at + name, bytes: fs.readFileSync(path.join(dir, name)) }]));
function makeImage(inputs) {
  const st = {};
  st.image = nativeRun(st, ['x', '/a', 'in/*.*'], inputs).image;
  return st.image;
}
// Moves the file of name `from` (11 characters, as the directory holds it) into user area `user`
// under the name `to`.
function moveToArea(img, from, user, to) {
  const out = Buffer.from(img);
  for (let at = out.indexOf(from, 9216, 'latin1'); at > 0; at = out.indexOf(from, at + 1, 'latin1')) {
    out.write(to, at, 'latin1');
    out[at - 1] = user;
  }
  return out;
}

// Page-side helpers.
const idle = (page, logged = 0) => page.waitForFunction((n) => window.z18page && !window.z18page.busy && window.z18page.history.length >= n, {}, logged);
const logged = (page) => page.evaluate(() => window.z18page.history.length + 1);
async function choose(page, button, files) {
  const [chooser, n] = await Promise.all([page.waitForFileChooser(), logged(page), page.click(button)]);
  const paths = files.map((f) => {
    const p = path.join(fs.mkdtempSync(path.join(tmp, 'up-')), f.name);
    fs.writeFileSync(p, f.bytes);
    return p;
  });
  await chooser.accept(paths);
  await idle(page, n);
}
// Drops the files and waits for that many more runs; with `runs` null, for nothing (a dialog).
async function drop(page, target, files, runs = 1) {
  const sent = files.map((f) => ({ name: f.name, data: f.bytes.toString('base64') }));
  const n = (await logged(page)) - 1 + runs;
  await page.evaluate((target, sent) => {
    const dt = new DataTransfer();
    for (const f of sent) dt.items.add(new File([Uint8Array.from(atob(f.data), (c) => c.charCodeAt(0))], f.name));
    const at = document.querySelector(target);
    for (const type of ['dragenter', 'dragover', 'drop']) at.dispatchEvent(new DragEvent(type, { dataTransfer: dt, bubbles: true, cancelable: true }));
  }, target, sent);
  if (runs !== null) await idle(page, n);
}
const boxOf = (name) => `#catalogue tbody input[aria-label="Select ${name}"]`;
// Ticks the files' boxes, and nothing else, with the keyboard.
async function select(page, names) {
  const ticked = await page.$$eval('#catalogue tbody input:checked', (boxes) => boxes.map((b) => b.getAttribute('aria-label').slice(7)));
  for (const name of [...ticked, ...names]) {
    await page.focus(boxOf(name));
    await page.keyboard.press('Space');
  }
}
const plain = (name) => name.replace(/ \(user \d+\)$/, '');
async function download(ctx, trigger) {
  const done = new Promise((resolve) => ctx.cdp.once('Browser.downloadProgress', function on(e) {
    if (e.state === 'completed') resolve(e.guid);
    else ctx.cdp.once('Browser.downloadProgress', on);
  }));
  const name = new Promise((resolve) => ctx.cdp.once('Browser.downloadWillBegin', (e) => resolve(e.suggestedFilename)));
  await trigger();
  const late = new Promise((_, fail) => setTimeout(() => fail(new Error('no download')), 20000).unref());
  const guid = await Promise.race([done, late]);
  return { name: await name, bytes: fs.readFileSync(path.join(ctx.downloads, guid)) };
}
// Answers the open dialog with the button `value` after checking what it lists; a button that
// changes the image must not look like Cancel.
async function answer(page, list, value = 'ok', danger = false) {
  await page.waitForSelector('#confirm[open]');
  const shown = await page.$$eval('#confirm-list li', (li) => li.map((e) => e.textContent));
  check(JSON.stringify(shown) === JSON.stringify(list), 'confirmation lists ' + shown);
  const look = (id) => page.$eval(id, (b) => getComputedStyle(b).backgroundColor);
  if (danger) check((await look('#confirm-' + value)) !== (await look('#confirm-cancel')), 'the ' + value + ' button looks like Cancel');
  await page.click('#confirm-' + value);
  await idle(page);
}
async function unzipSame(got, want) {
  const dir = fs.mkdtempSync(path.join(tmp, 'zip-'));
  fs.writeFileSync(path.join(dir, 'got.zip'), got.bytes);
  execFileSync('unzip', ['-q', 'got.zip', '-d', 'x'], { cwd: dir });
  const members = readTree(path.join(dir, 'x'));
  check(JSON.stringify(members.map((f) => f.name)) === JSON.stringify(want.map((f) => f.name)), 'zip members ' + members.map((f) => f.name));
  members.forEach((f, i) => same(f.bytes, want[i].bytes, 'zipped ' + f.name));
}
// What z18fsck's salvage makes of the image: the files of every user area, each under its name.
const salvaged = (img, name) => nativeRun({ image: img }, ['-x', 'out', name], [], nativeFsck).files;

// Each step does one thing on the page and the same requests natively, in `st` (image, log, and
// what the page must say).
const steps = {
  create: (name) => [async (p) => { await p.$eval('#new-name', (e) => (e.value = '')); await p.type('#new-name', name); await p.click('#new'); await idle(p); },
    (st) => { const r = nativeRun(Object.assign(st, { image: null }), [name, '/f']); if (r.status === 0) Object.assign(st, { image: r.image, arg: name, name: toolFile(name) }); }],
  open: (name, image, how) => [(p) => (how === 'drop' ? drop(p, 'header', [{ name, bytes: image }]) : choose(p, '#open', [{ name, bytes: image }])),
    (st) => {
      const r = nativeRun({ image, log: '', told: st.told }, [name, '/c']);
      st.log += '$ z18man ' + quote(name) + ' /c\n' + terminal(r.text);
      if (r.status === 0) Object.assign(st, { image, arg: name, name });
      else st.told.push(`'${name}' is not opened` + (st.name ? `; ${st.name} stays open.` : '.'));
    }],
  add: (files, how) => [(p) => (how === 'drop' ? drop(p, '#catalogue', files) : choose(p, '#add', files)),
    (st) => { st.image = nativeRun(st, [st.arg, '/a', 'in/*.*'], files).image; }],
  save: () => [async (p, ctx, st) => { const got = await download(ctx, () => p.click('#save')); check(got.name === st.name, 'saved as ' + got.name); same(got.bytes, st.image, 'downloaded image'); }, () => {}],
  // `areas` lists the files the request touches beyond the names, as the dialog names them.
  extract: (names, areas, alone) => alone ? extractAlone(names[0], alone) : [async (p, ctx, st) => {
    await select(p, names);
    const got = await download(ctx, async () => { await p.click('#extract'); if (areas) await answer(p, areas); });
    const want = names.flatMap((n) => nativeRun({ image: st.image }, [st.arg, '/x', 'out/' + plain(n)]).files);
    if (areas) return unzipSame(got, salvaged(st.image, toolFile(st.arg)).filter((f) => areas.includes(f.name.replace(/^u(\d+)-(.*)/, '$2 (user $1)'))));
    if (names.length === 1) return check(got.name === want[0].name, 'extracted as ' + got.name) || same(got.bytes, want[0].bytes, got.name);
    await unzipSame(got, want);
  }, (st) => names.forEach((n) => nativeRun(st, [st.arg, '/x', 'out/' + plain(n)]))],
  extractAll: (want) => [async (p, ctx, st) => unzipSame(await download(ctx, () => p.click('#extract-all')), want ? want(st) : nativeRun({ image: st.image }, [st.arg, '/x', 'out/*.*']).files),
    (st) => nativeRun(st, [st.arg, '/x', 'out/*.*'])],
  erase: (names, list = names) => [async (p) => { await select(p, names); await p.click('#erase'); await answer(p, list, 'ok', true); },
    (st) => [...new Set(names.map(plain))].forEach((n) => (st.image = nativeRun(st, [st.arg, '/e', n]).image))],
  quick: () => [async (p) => { await p.click('#quick'); await answer(p, [], 'ok', true); }, (st) => { st.image = nativeRun(st, [st.arg, '/q']).image; }],
  // A request the page refuses before anything runs: `says` is in the outcome.
  refused: (onPage, says) => [onPage, (st) => st.told.push(says)],
  users: (want) => [async (p) => check(JSON.stringify(await p.$$eval('#catalogue tbody td.user', (c) => c.map((e) => e.textContent))) === JSON.stringify(want), 'user areas'), () => {}],
  dropOnTable: (f, choice, says) => [async (p) => { await drop(p, '#catalogue', [f], null); await answer(p, [], choice); },
    (st) => (says ? st.told.push(says) : choice === 'open' ? steps.open(f.name, f.bytes)[1](st) : steps.add([f])[1](st))],
  // The viewer of the file: its first lines in the text view and in the hex view (by default those
  // of the native extraction), and the last line once scrolled to the end with the keyboard; with
  // `alone`, an image holding that file alone, the native extraction is of that.
  view: (name, text, hex, alone) => [async (p, ctx, st) => {
    const bytes = alone ? nativeRun({ image: alone }, [st.arg, '/x', 'out/*.*']).files[0].bytes : nativeRun({ image: st.image }, [st.arg, '/x', 'out/' + name]).files[0].bytes;
    const last = hexLine(bytes, (Math.ceil(bytes.length / 16) - 1) * 16);
    hex = hex || hexLine(bytes, 0);
    await p.focus(`#catalogue tbody button[aria-label="View ${name}"]`);
    await p.keyboard.press('Enter');
    await idle(p);
    const lines = () => p.$eval('#view-lines', (e) => e.textContent.split('\n'));
    check(JSON.stringify((await lines()).slice(0, text.length)) === JSON.stringify(text), 'text view ' + (await lines()).slice(0, 3));
    await p.click('#view-hex');
    check((await lines())[0] === hex, 'hex view ' + (await lines())[0]);
    await p.focus('#view-body');
    await p.keyboard.press('End');
    await p.waitForFunction((l) => document.getElementById('view-lines').textContent.endsWith(l + '\n'), {}, last);
  }, () => {}, 'quiet'],
  closeViewer: () => [async (p) => { await p.click('#view-close'); await idle(p); }, () => {}, 'quiet'],
  // Erase selected, then Cancel in its dialog: nothing runs.
  cancel: (names) => [async (p) => { await select(p, names); await p.click('#erase'); await answer(p, names, 'cancel'); await select(p, []); }, () => {}, 'quiet'],
  // Every column of every row of the table in view, and the table not wider than its box.
  fits: () => [async (p) => {
    const out = await p.$eval('#catalogue', (t) => {
      const box = t.parentElement.getBoundingClientRect();
      const cells = [...t.querySelectorAll('tr > *')].filter((c) => { const r = c.getBoundingClientRect(); return r.left < box.left - 0.5 || r.right > box.right + 0.5; });
      return { wide: t.parentElement.scrollWidth > t.parentElement.clientWidth, cells: cells.length, inside: box.right <= innerWidth };
    });
    check(!out.wide && out.cells === 0 && out.inside, 'the table does not fit: ' + JSON.stringify(out));
  }, () => {}],
  // z18fsck's check from the outcome's offer, or of the open image; its report, salvage and repair.
  check: (offer) => [async (p, ctx, st) => {
    if (offer) check((await p.$eval('#outcome-check', (b) => b.textContent)).includes(`'${st.rescueName}'`), 'the offered check names no file');
    await p.click(offer ? '#outcome-check' : '#check');
    await idle(p);
  },
    (st) => { Object.assign(st, st.rescue ? { fsck: st.rescue, fsckImage: st.rescueImage } : { fsck: toolFile(st.arg), fsckImage: st.image }); st.report = fsckRun(st, [st.fsck]); }],
  salvage: () => [async (p, ctx, st) => {
    check((await p.$eval('#rescue-report', (e) => e.textContent)) === st.report.text, 'report');
    check(await p.$eval('#rescue-report', (e) => e.scrollWidth <= e.clientWidth), 'the report does not wrap');
    await unzipSame(await download(ctx, () => p.click('#salvage')), salvaged(st.fsckImage, st.fsck));
  }, (st) => fsckRun(st, ['-x', 'out', st.fsck])],
  // The repaired copy, or with `-u` (the Undelete button) the one with the erased files back.
  repair: (words = [], suffix = '-repaired.z18') => [async (p, ctx, st) => {
    const got = await download(ctx, () => p.click(words.length ? '#undelete' : '#repair'));
    check(got.name === made(st, suffix), 'repaired as ' + got.name);
    same(got.bytes, st.made, 'repaired image');
  }, (st) => { st.made = fsckRun(st, [...words, '-o', 'out/' + made(st, suffix), st.fsck]).files[0].bytes; st.madeName = made(st, suffix); }],
  // Opens the image just made, after putting away the changes of the open one.
  openMade: () => [async (p) => { await p.click('#open-repaired'); await answer(p, [], 'ok', true); },
    (st) => steps.open(st.madeName, st.made)[1](st)],
  // The README's picture, from the top of the page, which is then scrolled back to where it was.
  screenshot: () => [async (p) => {
    if (!shot || p.viewport().width !== 1280) return;
    const at = await p.evaluate(() => [scrollY, scrollTo(0, 0)][0]);
    await p.screenshot({ path: shot });
    await p.evaluate((y) => scrollTo(0, y), at);
  }, () => {}],
};
// A native z18fsck run on the image being checked, logged as the page logs it.
function fsckRun(st, args) {
  const r = nativeRun({ image: st.fsckImage || st.image, log: st.log === undefined ? undefined : '', told: st.told }, args, [], nativeFsck);
  if (st.log !== undefined) st.log += '$ z18fsck ' + args.map(quote).join(' ') + '\n' + r.text;
  return r;
}
const made = (st, suffix) => st.fsck.replace(/\.z18$/, '') + suffix;
// A damaged image is kept for the check of the outcome's offer.
const openBad = (name, img, how) => [steps.open(name, img, how)[0], (st) => { steps.open(name, img, how)[1](st); Object.assign(st, { rescue: toolFile(name), rescueName: name, rescueImage: img }); }];
// Extracting a file whose name is stored in lower case: the page runs the extraction on a copy
// of the image holding that file alone; `alone` is such an image, made natively.
const aloneNote = (name) => 'on a copy holding ' + name + ' alone (its name is stored in lower case)';
const extractAlone = (name, alone) => [async (p, ctx, st) => {
  await select(p, [name]);
  const got = await download(ctx, () => p.click('#extract'));
  const want = nativeRun({ image: alone }, [st.arg, '/x', 'out/*.*']).files;
  check(want.length === 1 && got.name === want[0].name, 'extracted as ' + got.name);
  same(got.bytes, want[0].bytes, got.name);
}, (st) => {
  const run = { image: alone, log: '', told: st.told };
  nativeRun(run, [st.arg, '/x', 'out/*.*'], [], native, aloneNote(name));
  st.log += run.log;
}];

// The zip of all files on the user-area image: z18fsck's salvage names, but a name held by one
// file only keeps it (OTHER.TXT, in user area 3 alone).
const areasZip = (st) => salvaged(st.image, 'areas.z18').filter((f) => !f.name.startsWith('z18fsck'))
  .map((f) => (f.name === 'u3-OTHER.TXT' ? { ...f, name: 'OTHER.TXT' } : f)).sort((a, b) => (a.name < b.name ? -1 : 1));
// A line of a hex dump: offset, 16 bytes in two groups, the printable ones.
const hexLine = (bytes, at) => {
  const b = [...bytes.subarray(at, at + 16)];
  return at.toString(16).padStart(6, '0') + '  ' + b.map((x, i) => (i === 8 ? ' ' : '') + x.toString(16).padStart(2, '0')).join(' ') +
    '  |' + b.map((x) => (x >= 32 && x < 127 ? String.fromCharCode(x) : '.')).join('') + '|';
};

const three = [file('hello.txt', 22), file('data.bin', 40000, 2), file('empty.dat', 0)];
const some = makeImage([...three, file('notes.doc', 7, 3), file('game.com', 5000, 4)]);
const damaged = Buffer.from(some);
damaged.write('%', damaged.indexOf('GAME    COM'), 'latin1');
const areas = moveToArea(moveToArea(makeImage([file('hello.txt', 300, 5), file('hxllo.txt', 200, 6), file('oxher.txt', 9, 7), file('u7-hello.txt', 5, 8)]),
  'HXLLO   TXT', 7, 'HELLO'), 'OXHER   TXT', 3, 'OTHER');
const text = Buffer.from('FIRST LINE\r\n\tTABBED\x01\r\nLAST\r\n\x1aafter the end');
const viewed = makeImage([{ name: 'text.txt', bytes: text }, file('big.bin', 346 * 1024, 9)]);
// 40 files of the longest names, in user areas 0 and 15, one of them four digits of records.
const twoAreas = Array.from({ length: 40 }, (_, i) => i).reduce((img, i) => (i % 2 ? moveToArea(img, `NAME${1000 + i}TXT`, 15, `NAME${1000 + i}`) : img),
  makeImage(Array.from({ length: 40 }, (_, i) => file(`name${1000 + i}.txt`, i === 7 ? 130000 : 50 * i, i))));
// README.TXT stored as "readme.txt", beside a file of an upper-case name; and an image of it alone.
const readme = Buffer.from('HELLO\r\nLOWER\r\n\x1a');
const lowered = (img) => moveToArea(img, 'README  TXT', 0, 'readme  txt');
const lower = lowered(makeImage([{ name: 'readme.txt', bytes: readme }, file('other.txt', 40, 4)]));
const loneReadme = lowered(makeImage([{ name: 'readme.txt', bytes: readme }]));
const typeName = async (p, name) => { await p.$eval('#new-name', (e) => (e.value = '')); await p.type('#new-name', name); await p.click('#new'); await idle(p); };
const scenarios = [
  ['a new image, three files added, downloaded', [steps.create('work'), steps.add(three), steps.save()]],
  ['an image of 40 files, its pause prompt overwritten', [steps.open('forty.z18', makeImage(Array.from({ length: 40 }, (_, i) => file(`f${i + 100}.txt`, 300 * i, i))))]],
  ['refused names and a duplicate', [steps.create('names.z18'), steps.add([file('bad;name.txt', 9), file('muchtoolong.txt', 9), file('ok.txt', 9)], 'drop'), steps.add([file('OK.TXT', 3)], 'drop'), steps.save()]],
  ['a full disk and a full directory', [steps.create('full'), steps.add([file('a.bin', 200000), file('b.bin', 200000), file('c.txt', 5)]),
    steps.add(Array.from({ length: 70 }, (_, i) => file(`s${i + 10}.txt`, 1, i))), steps.save()]],
  ['extracting one, some and all', [steps.open('some.z18', some, 'drop'), steps.extract(['HELLO.TXT']), steps.extract(['DATA.BIN', 'NOTES.DOC']), steps.extractAll(), steps.screenshot()]],
  ['an erase after its confirmation', [steps.open('some.z18', some), steps.erase(['DATA.BIN', 'GAME.COM']), steps.save()]],
  ['a quick format', [steps.open('some', some), steps.quick(), steps.save()]],
  ['a wrong size and a damaged directory, without a question', [steps.create('kept'), steps.add([file('new.txt', 10)]), steps.open('photo.png', pattern(1000, 5)),
    steps.open('notes.txt', pattern(1000, 5), 'drop'), steps.open('bad.z18', damaged), steps.save()]],
  ['user areas: a column, every file in the dialogs and the zips', [steps.open('areas.z18', areas), steps.users(['0', '7', '3', '0']),
    steps.extract(['HELLO.TXT (user 7)'], ['HELLO.TXT', 'HELLO.TXT (user 7)']), steps.extractAll(areasZip),
    steps.erase(['HELLO.TXT'], ['HELLO.TXT', 'HELLO.TXT (user 7)']), steps.save()]],
  ['the viewer: text up to ^Z, hex, a 348K file', [steps.open('viewed.z18', viewed),
    steps.view('TEXT.TXT', ['FIRST LINE', '\tTABBED^A', 'LAST', ''], '000000  46 49 52 53 54 20 4c 49  4e 45 0d 0a 09 54 41 42  |FIRST LINE...TAB|'),
    steps.view('BIG.BIN', [], '000000  3f 5e 7d 9c bb da f9 18  37 56 75 94 b3 d2 f1 10  |?^}.....7Vu.....|'), steps.save()]],
  ['an image dropped on the table: open it or add it', [steps.create('drop'), steps.dropOnTable({ name: 'other.z18', bytes: some }, 'add'), steps.save(), steps.dropOnTable({ name: 'other.z18', bytes: some }, 'open')]],
  ['two dropped files of one name', [steps.create('twice'), [(p) => drop(p, '#catalogue', [file('a.txt', 5, 1), file('a.txt', 9, 2)]),
    (st) => { st.image = nativeRun(st, [st.arg, '/a', 'in/*.*'], [file('a.txt', 5, 1)]).image; st.told.push("Not added: 'a.txt': a second file of this name in the same drop (the first one is added)."); }], steps.save()]],
  ['image names the page cannot keep', [steps.create('keep'), ...['/abs', '/c', '.z18', '../up', '   ', 'a:b', 'end.'].map((n) => steps.refused((p) => typeName(p, n), null)),
    steps.dropOnTable({ name: '../KEEP.z18', bytes: pattern(9, 1) }, 'add', "Not added: '../KEEP.z18': a name holding / \\ or .. would reach outside the files to add."),
    steps.save(), steps.create('a.b'), steps.save()]],
  ['a damaged image checked, salvaged and repaired', [steps.open('some.z18', some), openBad('bad.z18', damaged), steps.check(true), steps.salvage(), steps.repair(), steps.save()]],
  ['an erased file brought back by z18fsck', [steps.open('erased.z18', some), steps.erase(['DATA.BIN']), steps.check(false), steps.salvage(),
    steps.repair(['-u'], '-undeleted.z18'), steps.openMade(), steps.save()]],
  ['the open image checked and salvaged, unchanged', [steps.open('areas.z18', areas), steps.check(false), steps.salvage(), steps.save()]],
  ['40 files in two user areas: every column in view, a file viewed, an erase cancelled', [steps.open('two.z18', twoAreas), steps.fits(),
    steps.view('NAME1038.TXT', []), steps.extract(['NAME1038.TXT']), steps.closeViewer(), steps.extract(['NAME1000.TXT']), steps.cancel(['NAME1001.TXT (user 15)'])]],
  ['a name stored in lower case, viewed and extracted', [steps.open('lower.z18', lower), steps.view('README.TXT', ['HELLO', 'LOWER', ''], null, loneReadme),
    steps.extract(['README.TXT'], null, loneReadme), steps.extract(['OTHER.TXT']), steps.save()]],
];
(async () => {
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--no-first-run', '--disable-sync', '--user-data-dir=' + path.join(tmp, 'profile')],
  });
  const cdp = await browser.target().createCDPSession();
  const ctx = { cdp, downloads: path.join(tmp, 'downloads') };
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allowAndName', downloadPath: ctx.downloads, eventsEnabled: true });
  let passed = 0;
  let failed = 0;
  const sizes = [[1280, 900], [390, 844]];
  for (const [width, height] of sizes) {
    for (const [title, list] of scenarios.filter(([t]) => t.includes(process.env.ONLY || ''))) {
      const page = await browser.newPage();
      const stray = [];
      try {
        await page.setViewport({ width, height });
        await page.setRequestInterception(true);
        page.on('request', (r) => (r.url() === pageUrl || /^(blob|data):/.test(r.url()) ? r.continue() : (stray.push(r.url()), r.abort())));
        page.on('dialog', (d) => (stray.push('dialog: ' + d.message()), d.dismiss()));
        page.on('pageerror', (e) => stray.push('error: ' + e.message));
        await page.goto(pageUrl);
        await page.waitForSelector('html[data-ready]');
        const st = { image: null, log: '', told: [] };
        const said = () => page.$eval('#outcome-text', (e) => e.textContent);
        for (const [onPage, natively, quiet] of list) {
          st.told = [];
          natively(st);
          const before = await said();
          await onPage(page, ctx, st);
          // Every status line and the last line of the step's runs, or the page's own refusal, stand
          // in the outcome, inside the window; an action with nothing to tell shows nothing of the
          // one before.
          const outcome = await page.$eval('#outcome', (e) => {
            const r = e.getBoundingClientRect();
            return { text: e.textContent, seen: r.height > 0 && r.top >= 0 && r.bottom <= innerHeight };
          });
          for (const line of st.told.slice(0, 5)) check(outcome.seen && (line === null || outcome.text.includes(line)), 'outcome ' + JSON.stringify(outcome) + ' lacks ' + line);
          if (st.told.includes(null)) check(/No image made: .*: /.test(outcome.text), 'refusal ' + outcome.text);
          if (quiet && before) check(!(await said()).includes(before), 'the outcome is still the one before: ' + before);
          // Nothing an action shows ends under the bar: the table's last row, the viewer's end.
          const covered = await page.evaluate(() => {
            const bar = document.getElementById('outcome').getBoundingClientRect();
            const under = (e, whole) => { const r = e.getBoundingClientRect(); return e.offsetParent && r.bottom > bar.top + 1 && (whole ? r.top < bar.bottom : r.bottom <= bar.bottom); };
            return [...document.querySelectorAll('#catalogue tbody tr:last-child')].filter((e) => under(e, true)).map((e) => e.textContent)
              .concat([...document.querySelectorAll('#view-body')].filter((e) => under(e, false)).map((e) => e.id));
          });
          check(covered.length === 0, 'under the outcome bar after step ' + list.findIndex((x) => x[0] === onPage) + ': ' + covered);
        }
        // The messages keep every line whole, as a terminal does: none is broken over two.
        const broken = await page.$eval('#log', (log) => {
          const range = document.createRange();
          const found = [];
          for (const node of log.childNodes) {
            let at = 0;
            for (const line of node.textContent.split('\n')) {
              range.setStart(node, at);
              range.setEnd(node, at + line.length);
              if (new Set([...range.getClientRects()].map((r) => Math.round(r.top))).size > 1) found.push(line);
              at += line.length + 1;
            }
          }
          return found;
        });
        check(broken.length === 0, 'message lines broken: ' + broken.slice(0, 2));
        // The banner's version line names the build, which is all the two may differ in.
        const build = (t) => t.replace(/^(v[\d.]+ \().*( build, z18man project\))$/gm, '$1$2');
        const pane = await page.$eval('#log', (e) => e.textContent);
        if (process.env.DEBUG && build(pane) !== build(st.log)) console.log(pane + '\n======\n' + st.log);
        same(Buffer.from(build(pane)), Buffer.from(build(st.log)), 'message log');
        const rows = await page.$$eval('#catalogue tbody tr', (trs) => trs.map((tr) => [...tr.querySelectorAll('.name, .num:not(.user), .flag')].map((c) => c.textContent).join(' ')));
        const listed = st.image ? nativeRun(st, [st.arg, '/c']).text.match(/\S+ +\d+ +\d+K {2}[R-][H-]/g) || [] : [];
        check(JSON.stringify(rows) === JSON.stringify(listed.map((c) => c.replace(/ +/g, ' ').replace(/K ([R-])([H-])$/, 'K $1 $2'))), 'catalogue rows ' + rows.length);
        check(stray.length === 0, 'requests, dialogs or errors: ' + stray.join(', '));
        console.log(`ok   ${title} (${width}x${height})`);
        passed++;
      } catch (e) {
        console.log(`FAIL ${title} (${width}x${height}): ${e.message}`);
        failed++;
      }
      await page.close();
    }
  }
  await browser.close();
  fs.rmSync(tmp, { recursive: true, force: true });
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
})();
