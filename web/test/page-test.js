'use strict';
// Drives z18man.html in headless Chromium, opened from file://, and holds every result against the
// native z18man given the same requests: the message log, downloaded images and extracted files.
//   node page-test.js PAGE.html NATIVE-z18man [SCREENSHOT.png]
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const puppeteer = require('puppeteer-core');

const [pageFile, native, shot] = process.argv.slice(2).map((p) => p && path.resolve(p));
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

// The native side of a request: a fresh folder with the image and the files to add, as the page has.
function nativeRun(st, args, inputs = []) {
  const dir = fs.mkdtempSync(path.join(tmp, 'n-'));
  for (const sub of ['in', 'out']) fs.mkdirSync(path.join(dir, sub));
  const img = path.join(dir, toolFile(args[0]));
  if (st.image) fs.writeFileSync(img, st.image);
  for (const f of inputs) fs.writeFileSync(path.join(dir, 'in', f.name), f.bytes);
  let out;
  let status = 0;
  try {
    out = execFileSync(native, args, { cwd: dir, stdio: ['ignore', 'pipe', 'inherit'] });
  } catch (e) {
    [out, status] = [e.stdout, e.status];
  }
  if (st.log !== undefined) st.log += '$ z18man ' + args.map(quote).join(' ') + '\n' + out;
  const files = fs.readdirSync(path.join(dir, 'out')).sort().map((name) => ({ name, bytes: fs.readFileSync(path.join(dir, 'out', name)) }));
  return { status, text: out.toString(), image: fs.existsSync(img) ? fs.readFileSync(img) : null, files };
}
function makeImage(inputs) {
  const st = {};
  st.image = nativeRun(st, ['x', '/a', 'in/*.*'], inputs).image;
  return st.image;
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
async function drop(page, target, files) {
  const sent = files.map((f) => ({ name: f.name, data: f.bytes.toString('base64') }));
  const n = await logged(page);
  await page.evaluate((target, sent) => {
    const dt = new DataTransfer();
    for (const f of sent) dt.items.add(new File([Uint8Array.from(atob(f.data), (c) => c.charCodeAt(0))], f.name));
    const at = document.querySelector(target);
    for (const type of ['dragenter', 'dragover', 'drop']) at.dispatchEvent(new DragEvent(type, { dataTransfer: dt, bubbles: true, cancelable: true }));
  }, target, sent);
  await idle(page, n);
}
async function select(page, names) {
  for (const box of await page.$$('#catalogue tbody input:checked')) await box.click();
  for (const name of names) {
    const box = `#catalogue tbody input[aria-label="Select ${name}"]`;
    await page.focus(box);
    await page.keyboard.press('Space');
  }
}
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
async function confirmWith(page, list) {
  await page.waitForSelector('#confirm[open]');
  const shown = await page.$$eval('#confirm-list li', (li) => li.map((e) => e.textContent));
  check(JSON.stringify(shown) === JSON.stringify(list), 'confirmation lists ' + shown);
  await page.click('#confirm-ok');
  await idle(page);
}

// Each step does one thing on the page and the same requests natively, in `st` (image, log).
const steps = {
  create: (name) => [async (p) => { await p.$eval('#new-name', (e) => (e.value = '')); await p.type('#new-name', name); await p.click('#new'); await idle(p); },
    (st) => { const r = nativeRun(st, [name, '/f']); if (r.status === 0) Object.assign(st, { image: r.image, arg: name, name: toolFile(name) }); }],
  open: (name, image, how) => [(p) => (how === 'drop' ? drop(p, 'header', [{ name, bytes: image }]) : choose(p, '#open', [{ name, bytes: image }])),
    (st) => { const r = nativeRun({ image, log: '' }, [name, '/c']); st.log += '$ z18man ' + quote(name) + ' /c\n' + r.text; if (r.status === 0) Object.assign(st, { image, arg: name, name }); }],
  add: (files, how) => [(p) => (how === 'drop' ? drop(p, '#catalogue', files) : choose(p, '#add', files)),
    (st) => { st.image = nativeRun(st, [st.arg, '/a', 'in/*.*'], files).image; }],
  save: () => [async (p, ctx, st) => { const got = await download(ctx, () => p.click('#save')); check(got.name === st.name, 'saved as ' + got.name); same(got.bytes, st.image, 'downloaded image'); }, () => {}],
  extract: (names) => [async (p, ctx, st) => {
    await select(p, names);
    const got = await download(ctx, () => p.click('#extract'));
    const want = names.flatMap((n) => nativeRun({ image: st.image }, [st.arg, '/x', 'out/' + n]).files);
    if (names.length === 1) return check(got.name === want[0].name, 'extracted as ' + got.name) || same(got.bytes, want[0].bytes, got.name);
    unzipSame(got, want);
  }, (st) => names.forEach((n) => nativeRun(st, [st.arg, '/x', 'out/' + n]))],
  extractAll: () => [async (p, ctx, st) => unzipSame(await download(ctx, () => p.click('#extract-all')), nativeRun({ image: st.image }, [st.arg, '/x', 'out/*.*']).files),
    (st) => nativeRun(st, [st.arg, '/x', 'out/*.*'])],
  erase: (names) => [async (p) => { await select(p, names); await p.click('#erase'); await confirmWith(p, names); },
    (st) => names.forEach((n) => (st.image = nativeRun(st, [st.arg, '/e', n]).image))],
  quick: () => [async (p) => { await p.click('#quick'); await confirmWith(p, []); }, (st) => { st.image = nativeRun(st, [st.arg, '/q']).image; }],
  screenshot: () => [async (p) => shot && (await p.screenshot({ path: shot })), () => {}],
};
function unzipSame(got, want) {
  const dir = fs.mkdtempSync(path.join(tmp, 'zip-'));
  fs.writeFileSync(path.join(dir, got.name), got.bytes);
  execFileSync('unzip', ['-q', got.name, '-d', 'x'], { cwd: dir });
  check(JSON.stringify(fs.readdirSync(path.join(dir, 'x')).sort()) === JSON.stringify(want.map((f) => f.name)), 'zip members');
  for (const f of want) same(fs.readFileSync(path.join(dir, 'x', f.name)), f.bytes, 'zipped ' + f.name);
}

const three = [file('hello.txt', 22), file('data.bin', 40000, 2), file('empty.dat', 0)];
const some = makeImage([...three, file('notes.doc', 7, 3), file('game.com', 5000, 4)]);
const damaged = Buffer.from(some);
damaged.write('%', damaged.indexOf('GAME    COM'), 'latin1');
const scenarios = [
  ['a new image, three files added, downloaded', [steps.create('work'), steps.add(three), steps.save()]],
  ['an image of 40 files', [steps.open('forty.z18', makeImage(Array.from({ length: 40 }, (_, i) => file(`f${i + 100}.txt`, 300 * i, i))))]],
  ['refused names and a duplicate', [steps.create('names.z18'), steps.add([file('bad;name.txt', 9), file('muchtoolong.txt', 9), file('ok.txt', 9)], 'drop'), steps.add([file('OK.TXT', 3)], 'drop'), steps.save()]],
  ['a full disk and a full directory', [steps.create('full'), steps.add([file('a.bin', 200000), file('b.bin', 200000), file('c.txt', 5)]),
    steps.add(Array.from({ length: 70 }, (_, i) => file(`s${i + 10}.txt`, 1, i))), steps.save()]],
  ['extracting one, some and all', [steps.open('some.z18', some, 'drop'), steps.extract(['HELLO.TXT']), steps.extract(['DATA.BIN', 'NOTES.DOC']), steps.extractAll(), steps.screenshot()]],
  ['an erase after its confirmation', [steps.open('some.z18', some), steps.erase(['DATA.BIN', 'GAME.COM']), steps.save()]],
  ['a quick format', [steps.open('some', some), steps.quick(), steps.save()]],
  ['a wrong size and a damaged directory', [steps.open('some.z18', some), steps.open('notes.txt', pattern(1000, 5), 'drop'),
    steps.open('bad.z18', damaged), steps.save()]],
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
  for (const [title, list] of scenarios.filter(([t]) => t.includes(process.env.ONLY || ""))) {
    const page = await browser.newPage();
    const stray = [];
    try {
      await page.setViewport({ width: 1280, height: 900 });
      await page.setRequestInterception(true);
      page.on('request', (r) => (r.url() === pageUrl || /^(blob|data):/.test(r.url()) ? r.continue() : (stray.push(r.url()), r.abort())));
      page.on('dialog', (d) => (stray.push('dialog: ' + d.message()), d.dismiss()));
      page.on('pageerror', (e) => stray.push('error: ' + e.message));
      await page.goto(pageUrl);
      await page.waitForSelector('html[data-ready]');
      const st = { image: null, log: '' };
      for (const [onPage, natively] of list) {
        natively(st);
        await onPage(page, ctx, st);
      }
      // The banner's version line names the build, which is all the two may differ in.
      const build = (t) => t.replace(/^(v[\d.]+ \().*( build, z18man project\))$/gm, '$1$2');
      same(Buffer.from(build(await page.$eval('#log', (e) => e.textContent))), Buffer.from(build(st.log)), 'message log');
      const rows = await page.$$eval('#catalogue tbody tr', (trs) => trs.map((tr) => [...tr.cells].slice(1).map((c) => c.textContent).join(' ')));
      const listed = st.image ? nativeRun(st, [st.arg, '/c']).text.match(/\S+ +\d+ +\d+K {2}[R-][H-]/g) || [] : [];
      check(JSON.stringify(rows) === JSON.stringify(listed.map((c) => c.replace(/ +/g, ' ').replace(/K ([R-])([H-])$/, 'K $1 $2'))), 'catalogue rows ' + rows.length);
      check(stray.length === 0, 'requests, dialogs or errors: ' + stray.join(', '));
      console.log('ok   ' + title);
      passed++;
    } catch (e) {
      console.log('FAIL ' + title + ': ' + e.message);
      failed++;
    }
    await page.close();
  }
  await browser.close();
  fs.rmSync(tmp, { recursive: true, force: true });
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
})();
