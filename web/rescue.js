'use strict';
// The check by z18fsck: of the open image, or of a file the tool refused to open. z18fsck only
// reads what it checks, and it checks a copy: nothing it does reaches the page's image.
const tool = require('./tool');
const outcome = require('./outcome');
const { zip } = require('./zip');
const { $, download, reveal } = require('./dom');
const { toolFileName, baseName } = require('./names');

let suspect = null; // { name, bytes, open: whether it is the open image, repaired: { name, bytes } }

function fsck(words) {
  const args = [...words, toolFileName(suspect.name)];
  const result = tool.run(args, suspect.bytes, { program: 'z18fsck' });
  outcome.log(args, result, 'z18fsck');
  return result;
}

// Checks the target ({ name, bytes, open }) and shows the report with what can be done next.
function check(target) {
  suspect = { name: target.name, bytes: target.bytes.slice(), open: target.open };
  const result = fsck([]);
  $('rescue-name').textContent = toolFileName(suspect.name);
  $('rescue-report').textContent = result.text;
  $('open-repaired').hidden = true;
  // The check's codes for an erased file, or an erased extent of a live one, that a repair can
  // bring back.
  $('undelete').hidden = !/^I70[26] /m.test(result.text);
  reveal('rescue');
}

function salvage() {
  const result = fsck(['-x', 'out']);
  if (result.files.length) {
    const name = baseName(suspect.name) + '-salvage.zip';
    download(name, zip(result.files));
    outcome.say('ok', result.files.length + ' file(s), the report among them, downloaded as ' + name);
  }
}

// The repaired copy, or with `-u` the copy that also brings back the erased files.
function repair(words, suffix) {
  const name = baseName(suspect.name) + suffix;
  const result = fsck([...words, '-o', 'out/' + name]);
  const made = result.files.find((f) => f.name === name);
  if (!made) return;
  download(name, made.bytes);
  outcome.say('ok', 'Downloaded ' + name);
  suspect.repaired = { name, bytes: made.bytes };
  $('open-repaired').hidden = false;
}

function close() {
  suspect = null;
  $('rescue-part').hidden = true;
  $('rescue-report').textContent = '';
}

// The open image changed or gave way to another: a check of it is of bytes it no longer holds.
function forgetOpenImage() {
  if (suspect && suspect.open) close();
}

const repaired = () => suspect.repaired;

module.exports = { check, salvage, repair, close, forgetOpenImage, repaired };
