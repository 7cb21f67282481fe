'use strict';
// Times the page in headless Chromium: navigation to ready, each request inside the page (median
// of many runs) beside the native process given the same request, and the file viewer.
//   node measure.js PAGE.html NATIVE-z18man WORK   (WORK holds blank.z18, full.z18, view.z18, in/)
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');
const puppeteer = require(path.join(__dirname, '../../web/test/node_modules/puppeteer-core'));

const [pageFile, native, work] = process.argv.slice(2).map((p) => path.resolve(p));
const LOADS = Number(process.env.BENCH_LOADS || 15);
const RUNS = Number(process.env.BENCH_RUNS || 30);
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const ms = (x) => x.toFixed(2).padStart(8);
const inputs = fs.readdirSync(path.join(work, 'in')).sort().map((name) => ({ name, data: fs.readFileSync(path.join(work, 'in', name)).toString('base64') }));

// label, image it starts from, arguments, whether the 64 host files go into in/
const requests = [
  ['catalogue of 64 files', 'full', ['/c'], false],
  ['extract all 64 files', 'full', ['/x', 'out/*.*'], false],
  ['erase all 64 files', 'full', ['/e', '*.*'], false],
  ['add 64 files filling the disk', 'blank', ['/a', 'in/*.*'], true],
  ['quick format', 'full', ['/q'], false],
  ['full format', 'full', ['/f'], false],
];

function nativeTime(image, args, withInputs) {
  const times = [];
  for (let i = 0; i < RUNS; i++) {
    const dir = fs.mkdtempSync(path.join(work, 'run-'));
    fs.mkdirSync(path.join(dir, 'out'));
    fs.copyFileSync(path.join(work, image + '.z18'), path.join(dir, 'w.z18'));
    if (withInputs) fs.cpSync(path.join(work, 'in'), path.join(dir, 'in'), { recursive: true });
    const start = process.hrtime.bigint();
    execFileSync(native, ['w', ...args], { cwd: dir, stdio: 'ignore' });
    times.push(Number(process.hrtime.bigint() - start) / 1e6);
    fs.rmSync(dir, { recursive: true });
  }
  return median(times);
}

(async () => {
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--no-first-run', '--disable-sync', '--user-data-dir=' + path.join(work, 'profile')],
  });
  const loads = [];
  let page;
  for (let i = 0; i < LOADS; i++) {
    if (page) await page.close();
    page = await browser.newPage();
    await page.goto('file://' + pageFile);
    await page.waitForSelector('html[data-ready]');
    loads.push(await page.evaluate(() => {
      const nav = performance.getEntriesByType('navigation')[0];
      return { ready: z18page.readyAt, script: z18page.scriptAt, response: nav.responseEnd };
    }));
  }
  console.log(`navigation to ready: median ${ms(median(loads.map((l) => l.ready)))} ms over ${LOADS} loads (goal 250 ms)`);
  console.log(`  of which: file read ${ms(median(loads.map((l) => l.response)))} ms, up to the page's script (HTML and script parsed) ` +
    `${ms(median(loads.map((l) => l.script)))} ms, wasm decoded, compiled and started ${ms(median(loads.map((l) => l.ready - l.script)))} ms`);

  const images = {};
  for (const name of ['blank', 'full']) images[name] = fs.readFileSync(path.join(work, name + '.z18')).toString('base64');
  console.log(`\nrequest (median of ${RUNS}, ms)            in page   tool only   native process`);
  for (const [label, image, args, withInputs] of requests) {
    const t = await page.evaluate((image, args, inputs, runs) => {
      const bytes = (b64) => Uint8Array.from(atob(b64), (c) => c.charCodeAt(0));
      const img = bytes(image);
      const files = inputs ? inputs.map((f) => ({ name: f.name, bytes: bytes(f.data) })) : [];
      const whole = [];
      const tool = [];
      for (let i = 0; i < runs; i++) {
        const start = performance.now();
        const r = z18page.run(['w', ...args], img, { inputs: files });
        whole.push(performance.now() - start);
        tool.push(r.toolMs);
      }
      const median = (xs) => xs.sort((a, b) => a - b)[Math.floor(xs.length / 2)];
      return { whole: median(whole), tool: median(tool) };
    }, images[image], args, withInputs ? inputs : null, RUNS);
    console.log(`${label.padEnd(36)}${ms(t.whole)}    ${ms(t.tool)}    ${ms(nativeTime(image, args, withInputs))}`);
  }
  console.log('\nin page: the whole request (files put into and read back from memory); tool only: the run itself;');
  console.log('native process: start to exit of build/.../z18man, as a shell would see it (goal: in page within 10 ms)');

  // The viewer, through the page's own controls: the image dropped on the page, then its one file's
  // View button and the Hex and Text buttons, each timed from the click until the page is laid out.
  const view = fs.readFileSync(path.join(work, 'view.z18')).toString('base64');
  const t = await page.evaluate(async (view, runs) => {
    const dt = new DataTransfer();
    dt.items.add(new File([Uint8Array.from(atob(view), (c) => c.charCodeAt(0))], 'view.z18'));
    for (const type of ['dragenter', 'dragover', 'drop']) document.querySelector('header').dispatchEvent(new DragEvent(type, { dataTransfer: dt, bubbles: true, cancelable: true }));
    while (z18page.busy || !z18page.image || z18page.image.name !== 'view.z18') await new Promise((r) => setTimeout(r, 10));
    const timed = (button) => {
      const start = performance.now();
      document.querySelector(button).click();
      void document.body.offsetHeight;
      return performance.now() - start;
    };
    const median = (xs) => xs.sort((a, b) => a - b)[Math.floor(xs.length / 2)];
    const open = [];
    const hex = [];
    const text = [];
    for (let i = 0; i < runs; i++) {
      // Closing is an action of its own, which ends after this task.
      document.getElementById('view-close').click();
      await new Promise((r) => setTimeout(r));
      open.push(timed('#catalogue tbody button[aria-label="View VIEW.TXT"]'));
      hex.push(timed('#view-hex'));
      text.push(timed('#view-text'));
      await new Promise((r) => requestAnimationFrame(() => setTimeout(r)));
    }
    return { open: median(open), hex: median(hex), text: median(text) };
  }, view, RUNS);
  console.log(`\nviewer, 348K text file (median of ${RUNS}, ms, click to laid out; goal 100 ms)`);
  console.log(`${'open from its row (text view)'.padEnd(36)}${ms(t.open)}`);
  console.log(`${'switch to hex'.padEnd(36)}${ms(t.hex)}`);
  console.log(`${'switch back to text'.padEnd(36)}${ms(t.text)}`);
  await browser.close();
})();
