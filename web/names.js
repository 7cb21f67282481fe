'use strict';
// Names as the page shows, checks and forms them: image names a browser keeps, files it may hand
// to the tool, and the words of the command lines it writes into the messages.

const encoder = new TextEncoder();

// The image file the tool opens for an image argument.
const toolFileName = (arg) => (arg.endsWith('.z18') ? arg : arg + '.z18');
// The name without its .z18, for the names of the files made from an image.
const baseName = (name) => name.replace(/\.z18$/, '') || name;

// Names from files and images are shown as text, their control bytes escaped.
const shown = (name) => "'" + name.replace(/[\x00-\x1f\x7f]/g, (c) => '\\x' + c.charCodeAt(0).toString(16).padStart(2, '0')) + "'";

// A catalogue row by its name, and its user area where that is not 0.
const described = (row) => row.name + (row.user ? ' (user ' + row.user + ')' : '');

// A word of a command line as a shell would need it written.
function shellWord(word) {
  return /^[A-Za-z0-9_.\/-]+$/.test(word) ? word : "'" + word.replace(/'/g, "'\\''") + "'";
}

// Why the page would not keep an image under this name: it would be a path, or a browser would
// download it under another name (Chromium turns these characters into "_", drops a leading or
// trailing dot and replaces a leading or trailing space). Null when it may.
function unkeepable(name) {
  if (name === '') return 'the name is empty';
  if (/[\/\\]/.test(name)) return 'a name holding / or \\ is a path; the page keeps an image under a plain file name';
  if (/[\x00-\x1f\x7f:*?"<>|]/.test(name)) return 'browsers download a name holding : * ? " < > | or a control character with _ in their place';
  if (/^[. ]|[. ]$/.test(name)) return 'browsers download a name that begins or ends with a dot or a space without it';
  if (encoder.encode(name).length > 255) return 'the name is longer than the 255 bytes a downloaded file may have';
  return null;
}

// Why a file the user gave is not put into in/ for the tool to add, `earlier` being the names of
// the files put there already; null when it goes in. A name that would reach outside in/, that
// the tool's mask passes over without a word, or that would overwrite an earlier file there.
function unaddable(name, earlier) {
  if (/[\/\\]|\.\./.test(name)) return 'a name holding / \\ or .. would reach outside the files to add';
  if (name.startsWith('.')) return 'a name beginning with a dot is not a CP/M name';
  if (earlier.includes(name)) return 'a second file of this name in the same drop (the first one is added)';
  return null;
}

module.exports = { toolFileName, baseName, shown, described, shellWord, unkeepable, unaddable };
