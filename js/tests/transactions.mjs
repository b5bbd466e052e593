/* Transactions built from their parts, for the tests of the package and of the page: tagged
 * records whose LEN counts its own digits, Type-4 and Type-14 print records, and a Type-1
 * record listing the records that follow it. */
const text = (value) => new TextEncoder().encode(value);

export function join(...parts) {
  const out = new Uint8Array(parts.reduce((n, part) => n + part.length, 0));
  parts.reduce((at, part) => { out.set(part, at); return at + part.length; }, 0);
  return out;
}

/* A tagged record of the [tag, value] fields after LEN (a value is text or bytes). */
export function tagged(type, fields) {
  const rest = join(...fields.flatMap(([tag, value]) =>
    [[0x1d], text(`${type}.${tag}:`), typeof value === 'string' ? text(value) : value]), [0x1c]);
  const head = `${type}.001:`;
  let length = 0;
  while (head.length + String(length).length + rest.length !== length) {
    length = head.length + String(length).length + rest.length;
  }
  return join(text(head + length), rest);
}

/* A Type-4 record, live-scan rolled, of one finger position, the compression (0 none, 1 WSQ)
 * and the data. */
export function type4(idc, position, width, height, compression, data) {
  const header = new Uint8Array(18).fill(0xff);
  const view = new DataView(header.buffer);
  view.setUint32(0, 18 + data.length);
  header.set([idc, 1, position], 4);
  header[12] = 0;
  view.setUint16(13, width);
  view.setUint16(15, height);
  header[17] = compression;
  return join(header, data);
}

/* A Type-14 record of a WSQ stream at 500 ppi, live-scan plain. */
export function type14(idc, position, width, height, stream) {
  return tagged(14, [['002', String(idc)], ['003', '0'], ['004', 'SRC1'], ['005', '20240131'],
    ['006', String(width)], ['007', String(height)], ['008', '1'], ['009', '500'], ['010', '500'],
    ['011', 'WSQ20'], ['012', '8'], ['013', String(position)], ['999', stream]]);
}

/* Type-1 (VER 0500, TOT CAR, TCN1) listing the [type, idc, bytes] records, then those. */
export function transaction(records) {
  const cnt = [`1\x1f${records.length}`, ...records.map(([type, idc]) => `${type}\x1f${idc}`)];
  const type1 = tagged(1, [['002', '0500'], ['003', cnt.join('\x1e')], ['004', 'CAR'],
    ['005', '20240131'], ['007', 'DAI1'], ['008', 'ORI1'], ['009', 'TCN1'], ['011', '19.69'],
    ['012', '19.69']]);
  return join(type1, ...records.map(([, , bytes]) => bytes));
}
