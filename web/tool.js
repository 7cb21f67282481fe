'use strict';
// The tool and its in-memory files: z18man and z18fsck built for the page (web/page_main.cpp).
// Every request is a run of the tool itself in a scratch folder of the runtime's in-memory file
// system, which holds the image under the name the tool opens, the files to add in in/ and an
// empty out/ to extract into. The page keeps the image's bytes between runs, so a request the tool
// refuses leaves them as they were.
const { toolFileName } = require('./names');

const WORK = '/run';
const decoder = new TextDecoder();
const encoder = new TextEncoder();

let tool = null; // the started module
let requests = []; // z18man's requests as its own table has them: { switch, writes, ... }

// Starts the module; input and output are plain devices, not a terminal, so the tool never waits
// for a key.
async function start() {
  const ignore = () => {};
  tool = await createZ18({ thisProgram: 'z18man', stdin: () => null, stdout: ignore, stderr: ignore, print: ignore, printErr: ignore });
  tool.ccall('z18_requests', 'number', [], []);
  requests = JSON.parse(output());
}

const ready = () => tool !== null;

// Whether a z18man request may change the image, which is then read back after the run.
const writes = (args) => requests.some((r) => r.switch === args[1] && r.writes);

// Every file under a folder, by its path below it, in name order.
// A file's bytes are taken from its in-memory node, which nothing changes once the run is over,
// rather than read through a stream. A file written whole at once holds a copy of the module's
// signed view of its memory: the bytes are read as unsigned all the same.
function readFolder(path, prefix = '') {
  const FS = tool.FS;
  const files = [];
  const folder = FS.lookupPath(path).node;
  for (const name of FS.readdir(path).sort()) {
    if (name === '.' || name === '..') continue;
    const node = FS.lookupNode(folder, name);
    if (FS.isDir(node.mode)) files.push(...readFolder(path + '/' + name, prefix + name + '/'));
    else files.push({ name: prefix + name, bytes: node.contents ? new Uint8Array(node.contents.buffer, node.contents.byteOffset, node.usedBytes) : new Uint8Array(0) });
  }
  return files;
}

// The scratch folder as a run finds it: the image under `file`, the files to add in in/, an
// empty out/. The folder is a file system of its own, which a new one replaces at once, however
// many files the run before left there.
function prepare(file, imageBytes, inputs = []) {
  const FS = tool.FS;
  FS.chdir('/');
  if (FS.analyzePath(WORK).exists) FS.unmount(WORK);
  else FS.mkdir(WORK);
  FS.mount(FS.filesystems.MEMFS, {}, WORK);
  FS.mkdir(WORK + '/in');
  FS.mkdir(WORK + '/out');
  if (imageBytes) FS.writeFile(WORK + '/' + file, imageBytes);
  for (const input of inputs) FS.writeFile(WORK + '/in/' + input.name, input.bytes);
}

// What the latest run or call printed.
function output() {
  const at = tool._z18_output();
  return decoder.decode(tool.HEAPU8.slice(at, at + tool._z18_output_size()));
}

// One run of z18man (or of z18fsck, whose image is its last argument) on `image`, the bytes put
// in place first; `inputs` go into in/. With `alone`, the first entry of a file, the run sees a
// copy of the image holding that file alone. Returns the exit status, what it printed, the image
// it left (none after a request that only reads it), the files it wrote into out/ and the time
// the run itself took.
function run(args, image, { inputs = [], program = 'z18man', alone = null } = {}) {
  const FS = tool.FS;
  const file = program === 'z18man' ? toolFileName(args[0]) : args[args.length - 1];
  prepare(file, image, inputs);
  if (alone !== null && !tool.ccall('z18_narrow', 'number', ['string', 'number'], [WORK + '/' + file, alone])) {
    return { status: 1, text: output(), image: null, files: [], toolMs: 0 };
  }
  FS.chdir(WORK);
  let status;
  const start = performance.now();
  try {
    if (program === 'z18man') {
      status = tool.callMain(args.slice());
    } else {
      const words = encoder.encode(args.map((a) => a + '\0').join(''));
      status = tool.ccall('z18_fsck', 'number', ['array', 'number'], [words, words.length]);
    }
  } finally {
    FS.chdir('/');
  }
  const toolMs = performance.now() - start;
  // A check never writes the image it reads.
  const kept = program === 'z18man' && writes(args) ? FS.analyzePath(WORK + '/' + file) : { exists: false };
  const after = kept.exists && FS.isFile(kept.object.mode) ? FS.readFile(WORK + '/' + file) : null;
  return { status, text: output(), image: after, files: readFolder(WORK + '/out'), toolMs };
}

// The core's catalogue of the image (catalogue.js reads it), or null when it does not load.
function catalogue(arg, image) {
  const file = toolFileName(arg);
  prepare(file, image);
  return tool.ccall('z18_catalogue', 'number', ['string'], [WORK + '/' + file]) ? output() : null;
}

// The names the files handed out together take, in order, from their own names and the user
// areas they are to show, as z18fsck's salvage names the files it writes ("uN-" before the name
// for user area N other than 0; "~1", "~2"... before the type of a name taken already, whatever
// its case).
function fileNames(list) {
  const words = encoder.encode(list.map(({ name, area }) => area + '\0' + name + '\0').join(''));
  tool.ccall('z18_file_names', 'number', ['array', 'number'], [words, words.length]);
  return output().split('\n').slice(0, list.length);
}

module.exports = { start, ready, run, catalogue, fileNames };
