'use strict';
// A zip archive with its members stored as they are: the files the page hands out are at most a
// disk's worth, so compressing them would buy little for the code it takes.

const encoder = new TextEncoder();

const crcTable = new Uint32Array(256).map((_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c;
});

function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

// The archive of `files` ({ name, bytes }, a name's folders separated by "/"), every member dated
// `when` in local time, as zip dates are.
function zip(files, when = new Date()) {
  const time = (when.getHours() << 11) | (when.getMinutes() << 5) | (when.getSeconds() >> 1);
  const date = ((when.getFullYear() - 1980) << 9) | ((when.getMonth() + 1) << 5) | when.getDate();
  const parts = [];
  const central = [];
  let offset = 0;
  const header = (size, fill) => {
    const b = new Uint8Array(size);
    fill(new DataView(b.buffer));
    return b;
  };
  for (const f of files) {
    const name = encoder.encode(f.name);
    const crc = crc32(f.bytes);
    const common = (v, at) => {
      v.setUint16(at, 20, true); // version needed: 2.0
      v.setUint16(at + 2, 0, true); // no flags
      v.setUint16(at + 4, 0, true); // stored
      v.setUint16(at + 6, time, true);
      v.setUint16(at + 8, date, true);
      v.setUint32(at + 10, crc, true);
      v.setUint32(at + 14, f.bytes.length, true);
      v.setUint32(at + 18, f.bytes.length, true);
      v.setUint16(at + 22, name.length, true);
    };
    const local = header(30, (v) => {
      v.setUint32(0, 0x04034b50, true);
      common(v, 4);
    });
    central.push(header(46, (v) => {
      v.setUint32(0, 0x02014b50, true);
      v.setUint16(4, 20, true); // made by: 2.0
      common(v, 6);
      v.setUint32(42, offset, true);
    }), name);
    parts.push(local, name, f.bytes);
    offset += 30 + name.length + f.bytes.length;
  }
  const centralSize = central.reduce((n, b) => n + b.length, 0);
  const end = header(22, (v) => {
    v.setUint32(0, 0x06054b50, true);
    v.setUint16(8, files.length, true);
    v.setUint16(10, files.length, true);
    v.setUint32(12, centralSize, true);
    v.setUint32(16, offset, true);
  });
  return new Blob([...parts, ...central, end], { type: 'application/zip' });
}

module.exports = { zip };
