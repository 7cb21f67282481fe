'use strict';
// Unit tests of the page's modules that need no browser: the zip writer (read back by Info-ZIP's
// unzip), names, the viewer's and the messages' lines, and the catalogue's model.
//   node --test web/test/modules_test.js
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const { zip } = require('../zip');
const names = require('../names');
const lines = require('../lines');
const catalogue = require('../catalogue');

const bytes = (n, seed) => Uint8Array.from({ length: n }, (_, i) => (i * 131 + seed * 17 + (i >> 7)) & 255);

test('zip: unzip reads back every member, its bytes, name and date', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'z18zip-'));
  const archives = [
    [new Date(2024, 1, 29, 13, 45, 59), '20240229.134558', [{ name: 'A.TXT', bytes: bytes(3, 1) }]],
    [new Date(1999, 11, 31, 23, 59, 0), '19991231.235900', [{ name: 'EMPTY.DAT', bytes: bytes(0, 0) }, { name: 'erased/BIG.BIN', bytes: bytes(70000, 2) },
      { name: 'u3-HELLO~1.TXT', bytes: bytes(128, 3) }]],
  ];
  for (const [i, [when, stamp, files]] of archives.entries()) {
    const file = path.join(dir, i + '.zip');
    fs.writeFileSync(file, Buffer.from(await zip(files, when).arrayBuffer()));
    execFileSync('unzip', ['-tq', file]); // every CRC and offset
    const listed = execFileSync('unzip', ['-Z', '-T', file]).toString();
    for (const f of files) {
      assert.match(listed, new RegExp(' ' + f.bytes.length + ' b- stor ' + stamp.replace('.', '\\.') + ' ' + f.name.replace(/[.~]/g, '\\$&') + '\n'));
      assert.deepStrictEqual(execFileSync('unzip', ['-p', file, f.name]), Buffer.from(f.bytes), f.name);
    }
  }
  fs.rmSync(dir, { recursive: true });
});

test('names: what the page keeps, adds, shows and writes', () => {
  const keepable = [['work.z18', true], ['a.b', true], ['é'.repeat(127) + 'a', true], ['', false], ['a/b', false], ['a\\b', false],
    ['a:b', false], ['tab\there', false], ['.z18', false], ['end.', false], [' x', false], ['x ', false], ['é'.repeat(128), false]];
  for (const [name, kept] of keepable) assert.strictEqual(names.unkeepable(name) === null, kept, JSON.stringify(name));
  const addable = [['OK.TXT', [], true], ['../UP.TXT', [], false], ['a\\b', [], false], ['.profile', [], false], ['A.TXT', ['A.TXT'], false],
    ['a.txt', ['A.TXT'], true]];
  for (const [name, earlier, added] of addable) assert.strictEqual(names.unaddable(name, earlier) === null, added, name);
  assert.strictEqual(names.shown('a\x00\x1f b~\x7f'), "'a\\x00\\x1f b~\\x7f'");
  for (const [word, written] of [['out/A.TXT', 'out/A.TXT'], ['in/*.*', "'in/*.*'"], ["it's", "'it'\\''s'"], ['a b', "'a b'"]]) {
    assert.strictEqual(names.shellWord(word), written);
  }
  assert.deepStrictEqual(['x', 'x.z18', 'x.Z18'].map(names.toolFileName), ['x.z18', 'x.z18', 'x.Z18.z18']);
  assert.deepStrictEqual(['x.z18', '.z18', 'x'].map(names.baseName), ['x', '.z18', 'x']);
});

test('lines: the hex dump, CP/M text and the terminal', () => {
  const data = Uint8Array.from([...'FIRST\r\n\tTAB\x01\x7f\x80\rLF\nEND\r\n'].map((c) => c.charCodeAt(0)).concat([0x1a, 0x41]));
  assert.strictEqual(lines.textEnd(data), data.length - 2);
  assert.strictEqual(lines.textEnd(data.subarray(0, 5)), 5);
  assert.deepStrictEqual(lines.textLines(data, lines.textEnd(data)), ['FIRST', '\tTAB^A^?\u00b7^MLF', 'END', '']);
  assert.deepStrictEqual(lines.textLines(data, 6), ['FIRST^M']); // a CR LF cut at the end is no line end
  const hex = [
    [0, '000000  46 49 52 53 54 0d 0a 09  54 41 42 01 7f 80 0d 4c  |FIRST...TAB....L|'],
    [16, '000010  46 0a 45 4e 44 0d 0a 1a  41                       |F.END...A|'],
  ];
  for (const [at, line] of hex) assert.strictEqual(lines.hexLine(data, at), line);
  assert.strictEqual(lines.hexLine(new Uint8Array(0x1000010), 0x1000000).slice(0, 8), '1000000 ');
  const screens = [
    ['no return\n', 'no return\n'],
    ['Press any key to continue...\rA.TXT   1\tB.TXT   2\n', 'A.TXT   1       B.TXT   2...\n'],
    ['Press any key\rA.TXT   1\tB.TXT   2\n', 'A.TXT   1\tB.TXT   2\n'],
    ['long text here\rshort\n', 'shorttext here\n'],
    ['1234567890\r\tX\n', '        X0\n'],
  ];
  for (const [text, seen] of screens) assert.strictEqual(lines.onTerminal(text), seen, JSON.stringify(text));
});

test('catalogue: rows from the core, and how a request by name reaches them', () => {
  const text = '9K in 4 file(s), 339K free\n3\t0\t2\t2\t0\t0\t1\tHELLO.TXT\n0\t7\t1\t2\t1\t1\t1\tHELLO.TXT\n5\t3\t16\t2\t0\t1\t0\tLOWER.TXT\n' +
    '7\t0\t0\t0\t0\t0\t1\tONE.TXT\n';
  const { rows, totals } = catalogue.parseCatalogue(text);
  assert.strictEqual(totals, '9K in 4 file(s), 339K free');
  assert.deepStrictEqual(rows[1], { index: 0, user: 7, records: 1, sizeK: 2, readOnly: true, hidden: true, byName: true, name: 'HELLO.TXT' });
  assert.deepStrictEqual(catalogue.parseCatalogue(''), { rows: [], totals: '' });
  assert.deepStrictEqual(catalogue.namesOf(rows), ['HELLO.TXT', 'LOWER.TXT', 'ONE.TXT']);
  const { byName, alone } = catalogue.reaching(rows, ['HELLO.TXT', 'LOWER.TXT']);
  assert.deepStrictEqual([byName, alone.map((r) => r.index)], [['HELLO.TXT'], [5]]);
  const out = catalogue.handedOut(rows, ['ONE.TXT', 'HELLO.TXT', 'LOWER.TXT']).map((f) => [f.row.index, f.shared, f.area]);
  assert.deepStrictEqual(out, [[7, false, 0], [3, true, 0], [0, true, 7], [5, false, 0]]);
});
