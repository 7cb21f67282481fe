'use strict';
// How bytes and printed text become lines: the viewer's text and hex dump, and the messages as a
// terminal shows them.

const CTRL_Z = 0x1a; // where CP/M text ends

const HEX = Array.from({ length: 256 }, (_, b) => b.toString(16).padStart(2, '0'));
const PRINTED = Array.from({ length: 256 }, (_, b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : '.'));
// In the text view a tab and a line end are themselves; other control bytes show in caret
// notation (^@ for 0, ^A for 1, ^? for 127), and bytes from 0x80 up, which CP/M text does not
// use, as a middle dot.
const AS_TEXT = Array.from({ length: 256 }, (_, b) =>
  b === 9 || b === 10 ? String.fromCharCode(b) : b < 0x20 ? '^' + String.fromCharCode(0x40 + b) : b === 0x7f ? '^?' : b > 0x7f ? '\u00b7' : String.fromCharCode(b),
);

// The width of a hex line in characters.
const HEX_WIDTH = 78;

// The hex line of the 16 bytes from `at`: offset, the bytes in two groups of 8, the printable ones.
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

// Where the text ends: at its first ^Z, or with its bytes.
function textEnd(bytes) {
  const stop = bytes.indexOf(CTRL_Z);
  return stop < 0 ? bytes.length : stop;
}

// The lines of the text up to `end`, a CR LF pair or a lone LF ending a line.
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

// What a terminal shows of the text: a carriage return goes back to the start of its line, and
// what follows is written over what stood there (a tab taking the columns to its next stop).
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

module.exports = { HEX_WIDTH, hexLine, textEnd, textLines, onTerminal };
