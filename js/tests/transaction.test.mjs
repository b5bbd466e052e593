/* Transactions built here from a bundled print: records, fields and images with their facts
 * and pixels, the verdicts, replacing a print and setting a field, and no memory left behind,
 * even by a transaction whose index outgrows the module's memory. */
import assert from 'node:assert/strict';
import { copyFileSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';
import { pathToFileURL } from 'node:url';
import { image, packageDir, unwsq, wsq } from './helpers.mjs';
import { tagged, transaction, type14, type4 } from './transactions.mjs';

const { Status } = wsq;
const text = (value) => new TextEncoder().encode(value);

const crops = [image('sd04_f0001_01@16,32,160x192'), image('sd04_f0001_01@176,32,160x192')];
const streams = crops.map((crop) => wsq.encode(crop.pixels, crop.width, crop.height));
const small = image('sd04_f0001_01@0,0,50x40');
const bytes = transaction([
  [2, 0, tagged(2, [['002', '0'], ['018', 'DOE\x1fJOHN\x1eX']])],
  [4, 1, type4(1, 2, 160, 192, 1, streams[0])],
  [14, 2, type14(2, 7, 160, 192, streams[1])],
  [4, 3, type4(3, 1, 50, 40, 0, small.pixels)],
]);

test('records, fields and images with their facts and pixels', () => {
  const tx = wsq.readTransaction(bytes);
  assert.deepEqual(tx.bytes(), bytes);
  const records = tx.records;
  assert.deepEqual(records.map((r) => [r.type, r.idc, r.tagged]),
                   [[1, null, true], [2, 0, true], [4, 1, false], [14, 2, true], [4, 3, false]]);
  assert.equal(records.reduce((sum, r) => sum + r.length, 0), bytes.length);
  assert.deepEqual(tx.fields(1)[2], { number: 18, value: text('DOE\x1fJOHN\x1eX'),
                                      subfields: [[text('DOE'), text('JOHN')], [text('X')]] });
  assert.deepEqual(tx.fields(3).at(-1).subfields, [[streams[1]]]);
  const [first, second, raw] = tx.images;
  assert.deepEqual(first, { record: 2, type: 4, idc: 1, positions: [2], impression: 1,
    compression: 1, compressionName: 'WSQ20', width: 160, height: 192, bitsPerPixel: 8,
    ppi: 500, dataOffset: records[2].offset + 18, dataLength: streams[0].length });
  assert.deepEqual([second.type, second.positions, second.ppi], [14, [7], 500]);
  assert.deepEqual([raw.compressionName, raw.width, raw.height], ['NONE', 50, 40]);
  assert.deepEqual(tx.data(second), streams[1]);
  assert.deepEqual(tx.pixels(first).pixels, wsq.decode(streams[0]).pixels);
  assert.deepEqual(tx.pixels(1, { reduce: 8 }).pixels, unwsq(streams[1], ['--scale', '1/8']));
  assert.deepEqual(tx.pixels(raw), small);
  assert.deepEqual(tx.pixels(raw, { reduce: 4 }).width, 13);
});

test('verdicts and refusals carry the status, the offset and the message', () => {
  const valid = wsq.readTransaction(bytes).check();
  assert.deepEqual([valid.valid, valid.status, valid.offset, valid.message], [true, Status.OK, 0, '']);
  const stated = wsq.readTransaction(transaction([[4, 1, type4(1, 2, 161, 192, 1, streams[0])]]));
  const verdict = stated.check();
  assert.deepEqual([verdict.valid, verdict.status, verdict.statusName],
                   [false, Status.HLL_VLL_MISMATCH, 'hll-vll-mismatch']);
  assert.ok(verdict.offset > 0 && verdict.message.length > 0);
  assert.throws(() => wsq.readTransaction(bytes.subarray(0, -1)),
                (error) => error.status === Status.LEN_PAST_END && error.offset > 0);
  // A last FS missing is read when tolerated, and is the transaction's warning.
  const whole = transaction([[14, 2, type14(2, 7, 160, 192, streams[1])]]);
  const tolerated = wsq.readTransaction(whole.subarray(0, -1), { tolerant: true });
  assert.deepEqual([tolerated.bytes(), tolerated.warning.statusName], [whole, 'fs-missing']);
  assert.equal(wsq.readTransaction(whole, { tolerant: true }).warning, null);
  const flawed = bytes.slice();
  const { dataOffset } = wsq.readTransaction(bytes).images[0];
  flawed.fill(0, dataOffset, dataOffset + 2);
  assert.throws(() => wsq.readTransaction(flawed).pixels(0), { offset: dataOffset });
  assert.throws(() => wsq.readTransaction(bytes).replace(1, streams[0]),
                { status: Status.ARGUMENT, message: /record 1/ });
});

test('replacing prints and setting a field give a valid transaction; memory is given back', () => {
  const before = wsq.memoryInUse();
  const tx = wsq.readTransaction(bytes);
  const part = image('sd04_f0001_01@200,200,120x100');
  tx.replace(2, part.pixels, part.width, part.height, { bitrate: 2.25 });
  tx.replace(3, streams[0]);
  tx.setField(1, 18, 'ROE\x1fJANE');
  assert.ok(tx.check().valid);
  assert.deepEqual(tx.data(0), wsq.encode(part.pixels, 120, 100, { bitrate: 2.25 }));
  assert.deepEqual([tx.images[0].width, tx.images[0].height], [120, 100]);
  assert.deepEqual(tx.data(1), streams[0]);
  assert.deepEqual(tx.fields(1)[2].subfields, [[text('ROE'), text('JANE')]]);
  assert.deepEqual(wsq.readTransaction(tx.bytes()).pixels(2), small);
  assert.throws(() => tx.setField(1, 18, 'A\x1cB'), { status: Status.ARGUMENT });
  assert.equal(wsq.memoryInUse(), before);
});

test('inserting and removing records; the first flaw of every record', () => {
  const before = wsq.memoryInUse();
  const tx = wsq.readTransaction(bytes);
  tx.insertBinary(2, 4, type4(5, 3, 50, 40, 0, small.pixels).fill(0, 0, 4));  // LEN set by the call
  tx.insertTagged(6, 10, 6);
  tx.remove(1);
  assert.deepEqual(tx.records.map((r) => [r.type, r.idc]),
                   [[1, null], [4, 5], [4, 1], [14, 2], [4, 3], [10, 6]]);
  assert.deepEqual(tx.fields(5).map((f) => f.number), [1, 2]);
  assert.deepEqual([tx.pixels(0), tx.check().valid, tx.checkAll()], [small, true, []]);
  const was = tx.bytes();
  assert.throws(() => tx.insertTagged(1, 10, 6), { status: Status.ARGUMENT,
    message: 'a Type-10 record with IDC 6 is there already' });
  assert.throws(() => tx.insertBinary(1, 5, was.subarray(0, 18)), { status: Status.ARGUMENT, message: /Type-5/ });
  assert.throws(() => tx.remove(6), { status: Status.ARGUMENT, message: /no record 6/ });
  assert.deepEqual(tx.bytes(), was);
  // Width 161 where the stream says 160, and one byte of pixels short: a flaw in each record.
  const flawed = wsq.readTransaction(transaction([[4, 1, type4(1, 2, 161, 192, 1, streams[0])],
    [2, 0, tagged(2, [['002', '0']])], [4, 2, type4(2, 2, 50, 40, 0, small.pixels.subarray(1))]]));
  const flaws = flawed.checkAll();
  assert.deepEqual(flaws.map((v) => [v.valid, v.statusName]),
                   [[false, 'hll-vll-mismatch'], [false, 'raw-size-mismatch']]);
  assert.deepEqual(flaws[0], flawed.check());
  const quoting = wsq.readTransaction(transaction([[2, 0, tagged(2, [['002', '0\u00e9']])]]));
  assert.deepEqual(quoting.checkAll(), [quoting.check()]);  // a message quoting UTF-8 bytes
  assert.equal(wsq.memoryInUse(), before);
  // Status lists the flaws the library names, under their short names, and no more are named.
  const named = Object.entries(Status).filter(([, code]) => code >= Status.BAD_TAG);
  assert.deepEqual(named.map(([, code]) => new wsq.WsqError(code).statusName),
                   named.map(([name]) => name.toLowerCase().replaceAll('_', '-')));
  assert.equal(new wsq.WsqError(Status.BAD_VALUE + 1).statusName, 'unknown status');
});

/* The unsigned LEB128 number at bytes[at]: [its value, the offset after it]. */
function leb128(bytes, at) {
  for (let value = 0, shift = 0; ; shift += 7) {
    value += (bytes[at] & 0x7f) * 2 ** shift;
    if (!(bytes[at++] & 0x80)) return [value, at];
  }
}

/* A copy of the package whose module's memory stops growing at pages of 64 KiB, not 2 GiB: the
 * maximum in libwsq.wasm's memory section rewritten in the three bytes it takes. */
async function cappedPackage(pages) {
  const dir = mkdtempSync(join(tmpdir(), 'wsq-capped-'));
  for (const file of ['wsq.mjs', 'libwsq.mjs']) copyFileSync(join(packageDir, file), join(dir, file));
  const wasm = readFileSync(join(packageDir, 'libwsq.wasm'));
  let at = 8;  // past the magic number and the version: sections of an id, a size and contents
  while (wasm[at] !== 5) {
    const [size, contents] = leb128(wasm, at + 1);
    at = contents + size;
  }
  const [, limits] = leb128(wasm, leb128(wasm, at + 1)[1]);  // past the size and the count
  const [, max] = leb128(wasm, limits + 1);  // past the flags (1: a maximum) and the minimum
  assert.deepEqual([wasm[limits], leb128(wasm, max)], [1, [32768, max + 3]]);
  wasm.set([0x80 | (pages & 0x7f), 0x80 | (pages >> 7 & 0x7f), pages >> 14], max);
  writeFileSync(join(dir, 'libwsq.wasm'), wasm);
  const capped = await import(pathToFileURL(join(dir, 'wsq.mjs')));
  await capped.ready;
  rmSync(dir, { recursive: true });
  return capped;
}

test('a transaction whose index outgrows memory is refused with MEMORY, and nothing is lost', async () => {
  const capped = await cappedPackage(512);  // 32 MiB
  const before = capped.memoryInUse();
  // Type-1's last value runs on into 8 MiB of empty fields "1.9:", 20 bytes of index each.
  const huge = tagged(1, [['002', '0500'], ['003', '1\x1f0'], ['009', `TCN1${'\x1d1.9:'.repeat(1677722)}`]]);
  assert.throws(() => capped.readTransaction(huge), { status: Status.MEMORY, offset: 0,
    message: `no memory to index a transaction of ${huge.length} bytes` });
  assert.equal(capped.memoryInUse(), before);
  assert.ok(capped.readTransaction(bytes).check().valid);
});
