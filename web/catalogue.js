'use strict';
// The catalogue as the page holds it: the rows of the core's listing as data (web/page_main.cpp,
// z18_catalogue), in the listing's order, and what a request by name does with them. The tool's
// requests take a name, and one name may stand for several files, one in each user area; a
// name stored in lower case stands for none, as the tool matches names in upper case.

// The rows and the line of totals from the core's text: the totals first, then one row a line.
function parseCatalogue(text) {
  const [totals, ...lines] = text.split('\n').filter((line) => line);
  const rows = lines.map((line) => {
    const [index, user, records, sizeK, readOnly, hidden, byName, ...name] = line.split('\t');
    return {
      index: Number(index), // the file's first directory entry
      user: Number(user),
      records: Number(records),
      sizeK: Number(sizeK),
      readOnly: readOnly === '1',
      hidden: hidden === '1',
      byName: byName === '1', // whether the tool's mask of the name reaches the file
      name: name.join('\t'),
    };
  });
  return { rows, totals: totals || '' };
}

// The names of these rows, each once, in their order.
const namesOf = (rows) => [...new Set(rows.map((r) => r.name))];

// The rows a request by these names touches: every file of each name.
const touchedBy = (rows, names) => rows.filter((r) => names.includes(r.name));

// How a request by these names reaches each file: a name the tool's mask reaches runs as it is;
// the files of a name it reaches in no file run each on a copy of the image holding that file
// alone.
function reaching(rows, names) {
  const byName = [];
  const alone = [];
  for (const name of names) {
    const files = touchedBy(rows, [name]);
    if (files.some((r) => r.byName)) byName.push(name);
    else alone.push(...files);
  }
  return { byName, alone };
}

// The files an extraction of these names hands out, in order, each with the user area its name
// is to show: a name held by one file keeps its own name, whatever its user area; the files of a
// name held by several are each taken on their own and named by their user area.
function handedOut(rows, names) {
  const out = [];
  for (const name of names) {
    const files = touchedBy(rows, [name]);
    const shared = files.length > 1;
    for (const row of files) out.push({ row, shared, area: shared ? row.user : 0 });
  }
  return out;
}

module.exports = { parseCatalogue, namesOf, touchedBy, reaching, handedOut };
