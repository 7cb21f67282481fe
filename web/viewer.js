'use strict';
// The file viewer: a file's bytes as CP/M text or as a hex dump. Only the lines in sight are in
// the document (a spacer gives the scroll range), so a whole disk's worth opens at once.
const { $, reveal } = require('./dom');
const { HEX_WIDTH, hexLine, textEnd, textLines } = require('./lines');

let viewed = null; // { bytes, hex, lines: { count, at(i), width } }

// Shows the bytes under the title; a file shown after another keeps its view (text or hex).
function show(title, bytes) {
  viewed = { bytes, hex: viewed ? viewed.hex : false };
  $('view-name').textContent = title;
  reveal('view');
  draw();
}

function close() {
  viewed = null;
  $('view-part').hidden = true;
  $('view-lines').textContent = '';
}

function draw() {
  const { bytes, hex } = viewed;
  if (hex) {
    viewed.lines = { count: Math.ceil(bytes.length / 16), at: (i) => hexLine(bytes, i * 16), width: HEX_WIDTH };
    $('view-info').textContent = bytes.length + ' bytes, offsets in hex.';
  } else {
    const end = textEnd(bytes);
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

// The Text and Hex buttons, and the drawing of the lines scrolled into sight.
function wire() {
  for (const [id, hex] of [['view-text', false], ['view-hex', true]]) {
    $(id).addEventListener('click', () => {
      if (viewed && viewed.hex !== hex) {
        viewed.hex = hex;
        draw();
      }
    });
  }
  let drawing = false;
  $('view-body').addEventListener('scroll', () => {
    if (drawing) return;
    drawing = true;
    requestAnimationFrame(() => {
      drawing = false;
      drawLines();
    });
  });
}

module.exports = { show, close, wire };
