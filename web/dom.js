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

// Scrolls the page on just enough that nothing at the end of what an action shows lies under the
// outcome bar, which stays at the foot of the window: no part of the table's last row or of its
// totals (where an add puts rows), and not the end of the viewer or of any other part. The bar
// covers nothing once the page is scrolled to its end, so this stops.
const LINES = '#catalogue tbody tr:last-child, #totals';
const PARTS = '#view-body, main section';
function keepClear() {
  const bar = $('outcome');
  for (;;) {
    const { top, bottom } = bar.getBoundingClientRect();
    const covered = (e, whole) => {
      const r = e.getBoundingClientRect();
      return e.offsetParent && r.bottom > top + 0.5 && (whole ? r.top < bottom : r.bottom <= bottom + 0.5);
    };
    const under = [...document.querySelectorAll(LINES)].filter((e) => covered(e, true))
      .concat([...document.querySelectorAll(PARTS)].filter((e) => covered(e, false)));
    const before = scrollY;
    if (under.length === 0) return;
    scrollBy(0, Math.ceil(Math.max(...under.map((e) => e.getBoundingClientRect().bottom)) - top));
    if (scrollY === before) return;
  }
}

module.exports = { $, download, reveal, keepClear };
