'use strict';
// Small helpers over the page's document.

const $ = (id) => document.getElementById(id);

// Hands the bytes (or a Blob) to the browser as a download under `name`.
function download(name, bytes, type = 'application/octet-stream') {
  const url = URL.createObjectURL(bytes instanceof Blob ? bytes : new Blob([bytes], { type }));
  const a = document.createElement('a');
  a.href = url;
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// Shows one of the parts below the catalogue (the check, the viewer), its title in focus.
function reveal(part) {
  $(part + '-part').hidden = false;
  $(part + '-title').focus();
  $(part + '-part').scrollIntoView({ block: 'start' });
}

// Scrolls the page on just enough that the end of no part shown lies under the outcome bar, which
// stays at the foot of the window: the rows an add put at the table's end, the end of the file
// in the viewer. The bar covers nothing once the page is scrolled to its end, so this stops.
function keepClear() {
  const bar = $('outcome');
  for (;;) {
    const { top, bottom } = bar.getBoundingClientRect();
    const ends = [...document.querySelectorAll('main section:not([hidden])')].map((part) => part.getBoundingClientRect().bottom);
    const under = ends.filter((end) => end > top + 0.5 && end <= bottom);
    const before = scrollY;
    if (under.length === 0) return;
    scrollBy(0, Math.ceil(Math.max(...under) - top));
    if (scrollY === before) return;
  }
}

module.exports = { $, download, reveal, keepClear };
