// Files the page writes: 8-bit gray PNG images, a ZIP archive of several
// results, and the download that hands either to the user.

const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

// CRC-32 as PNG chunks and ZIP entries use it.
function crc32(bytes, crc = 0) {
  crc = ~crc;
  for (const b of bytes) crc = CRC_TABLE[(crc ^ b) & 0xff] ^ (crc >>> 8);
  return ~crc >>> 0;
}

function concat(parts) {
  const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
  let at = 0;
  for (const p of parts) { out.set(p, at); at += p.length; }
  return out;
}

function bigEndian(...words) {
  const out = new Uint8Array(4 * words.length), view = new DataView(out.buffer);
  words.forEach((w, i) => view.setUint32(4 * i, w));
  return out;
}

function pngChunk(type, data) {
  const typed = concat([new TextEncoder().encode(type), data]);
  return concat([bigEndian(data.length), typed, bigEndian(crc32(typed))]);
}

// zlib-wrapped deflate, as PNG's image data is stored.
async function deflate(bytes) {
  const stream = new Blob([bytes]).stream().pipeThrough(new CompressionStream('deflate'));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

// An 8-bit gray PNG of width x height pixels, row after row.
export async function grayPng(pixels, width, height) {
  const rows = new Uint8Array((width + 1) * height);  // each row behind filter type 0
  for (let y = 0; y < height; y++) rows.set(pixels.subarray(y * width, (y + 1) * width), y * (width + 1) + 1);
  const header = concat([bigEndian(width, height), new Uint8Array([8, 0, 0, 0, 0])]);
  return concat([
    new Uint8Array([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    pngChunk('IHDR', header), pngChunk('IDAT', await deflate(rows)), pngChunk('IEND', new Uint8Array()),
  ]);
}

function littleEndian(...fields) {  // [value, bytes] pairs
  const out = new Uint8Array(fields.reduce((n, [, size]) => n + size, 0)), view = new DataView(out.buffer);
  let at = 0;
  for (const [value, size] of fields) {
    if (size === 2) view.setUint16(at, value, true); else view.setUint32(at, value, true);
    at += size;
  }
  return out;
}

// A ZIP archive of the given {name, bytes} entries, stored uncompressed
// (WSQ and PNG are compressed already). Names are UTF-8 (flag bit 11).
export function zip(entries) {
  const locals = [], centrals = [];
  let offset = 0;
  for (const { name, bytes } of entries) {
    const nameBytes = new TextEncoder().encode(name), crc = crc32(bytes);
    const common = [[0x0800, 2], [0, 2], [0, 2], [0x21, 2], [crc, 4], [bytes.length, 4], [bytes.length, 4],
      [nameBytes.length, 2], [0, 2]];  // flags, method, time, date (1980-01-01), crc, sizes, name, extra
    const local = concat([littleEndian([0x04034b50, 4], [20, 2], ...common), nameBytes, bytes]);
    centrals.push(concat([littleEndian([0x02014b50, 4], [20, 2], [20, 2], ...common, [0, 2], [0, 2], [0, 2],
      [0, 4], [offset, 4]), nameBytes]));
    locals.push(local);
    offset += local.length;
  }
  const directory = concat(centrals);
  const end = littleEndian([0x06054b50, 4], [0, 2], [0, 2], [entries.length, 2], [entries.length, 2],
    [directory.length, 4], [offset, 4], [0, 2]);
  return concat([...locals, directory, end]);
}

// Hands bytes to the browser's download under the given file name.
export function download(bytes, name, type) {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60_000);
}
