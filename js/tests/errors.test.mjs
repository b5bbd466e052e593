/* Failures: every one a WsqError with the library's status, its name, the offset and the
 * message; no call leaves memory behind; large images work, and past the decoder's limit
 * the answer is its status. */
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';
import { data, image, wsq, wsq1 } from './helpers.mjs';

const { Status, WsqError } = wsq;
const print = image('sd04_f0001_01');
const small = image('sd04_f0001_01@215,200,81x81').pixels;
const stream = wsq.encode(small, 81, 81, { comment: 'first' });
const lastBlock = stream.length - 2 - wsq.info(stream).blockBytes[2];
const frame = stream.findIndex((byte, i) => byte === 0xff && stream[i + 1] === 0xa2);

function fails(call, status, offset = 0) {
  assert.throws(call, (error) => {
    assert.ok(error instanceof WsqError, String(error));
    assert.equal(error.status, status, error.message);
    assert.equal(error.offset, offset);
    assert.ok(error.message.length > 0 && error.statusName.length > 0);
    return true;
  });
}

/* The stream with its frame header's dimensions replaced. */
function withDimensions(bytes, width, height) {
  const copy = bytes.slice();
  new DataView(copy.buffer).setUint16(frame + 6, height);
  new DataView(copy.buffer).setUint16(frame + 8, width);
  return copy;
}

const failingCalls = [
  [() => wsq.encode([1, 2, 3], 81, 81), Status.ARGUMENT],
  [() => wsq.encode(small, 81.5, 81), Status.ARGUMENT],
  [() => wsq.encode(small, 81, 81, { bitRate: 1 }), Status.ARGUMENT],
  [() => wsq.encode(small, 81, 82), Status.ARGUMENT],
  [() => wsq.encode(print.pixels, 512, 500), Status.ARGUMENT],
  [() => wsq.encode({ data: new Uint8Array(4 * 81 * 81 + 4), width: 81, height: 81 }),
   Status.ARGUMENT],
  [() => wsq.encode(small, 81, 81, { white: 256 }), Status.ARGUMENT],
  [() => wsq.encode(small, 81, 81, { comment: 'a\0b' }), Status.ARGUMENT],
  [() => wsq.encode(small, 81, 81, { threads: 257 }), Status.ARGUMENT],
  [() => wsq.encode(small.subarray(0, 40 * 40), 40, 40), Status.IMAGE],
  [() => wsq.encode(new Uint8Array(100 * 100).fill(7), 100, 100), Status.IMAGE],
  [() => wsq.encode(small, 81, 81, { bitrate: NaN }), Status.BITRATE],
  [() => wsq.encode(small, 81, 81, { bitrate: -1 }), Status.BITRATE],
  [() => wsq.decode(new Uint8Array(0)), Status.NOT_WSQ],
  [() => wsq.decode('not bytes'), Status.ARGUMENT],
  [() => wsq.decode(stream.subarray(0, stream.length - 100)), Status.TRUNCATED, lastBlock],
  [() => wsq.info(stream.subarray(0, 2)), Status.TRUNCATED, 2],
  [() => wsq.decode(new Uint8Array([...stream, 1, 2])), Status.TRAILING, stream.length],
  [() => wsq.decode(new Uint8Array([...stream, ...stream.subarray(0, 30)])), Status.TRUNCATED,
   stream.length + 13],
  [() => wsq.decode(stream, { maxPixels: 81 * 80 }), Status.LIMIT, frame + 6],
  [() => wsq.decode(withDimensions(stream, 32767, 32767)), Status.LIMIT, frame + 6],
];

test('every failure is a WsqError with its status and offset', () => {
  for (const [call, status, offset] of failingCalls) fails(call, status, offset);
});

test('a hostile stream is refused for its first flaw, as every path refuses it', () => {
  const hostile = join(data, 'hostile');
  for (const line of readFileSync(join(hostile, 'verdicts.tsv'), 'utf8').trim().split('\n')) {
    const [name, status, offset, message] = line.split('\t');
    const bytes = readFileSync(join(hostile, name));
    for (const reduce of [1, 8]) {
      assert.throws(() => wsq.decodeAll(bytes, { reduce }), (error) => {
        assert.deepEqual([error.status, error.offset, error.message],
                         [+status, +offset, message], name);
        return true;
      });
    }
  }
});

test('10,000 failing calls leave the memory in use where it was', () => {
  const before = wsq.memoryInUse();
  for (let i = 0; i < 10000; ++i) {
    const [call] = failingCalls[i % failingCalls.length];
    assert.throws(call, WsqError);
  }
  assert.equal(wsq.memoryInUse(), before);
});

test('deep (16-bit) pixels are refused in the words of every binding, or scaled on request', () => {
  for (const offset of [-128, 128]) {  // the farthest values from v x 257 that scale to v
    const deep = Uint16Array.from(small, (v) => Math.min(65535, Math.max(0, v * 257 + offset)));
    assert.deepEqual(wsq.encode(deep, 81, 81, { deep: 'scale', comment: 'first' }), stream);
    assert.throws(() => wsq.encode(deep, 81, 81), {
      status: Status.ARGUMENT,
      message: 'the image has 16 bits a sample, and WSQ codes 8: set the option deep to "scale" ' +
               'to scale its values to 0-255 (v x 255 / 65535, rounded)',
    });
  }
  fails(() => wsq.encode(small, 81, 81, { deep: 'shift' }), Status.ARGUMENT);
});

test('streams back to back: decodeAll and infoAll give each, decode and info refuse them', () => {
  const second = wsq.encode(small, 81, 81, { bitrate: 2.25 });
  const both = new Uint8Array([...stream, ...second]);
  const [one, two] = wsq.decodeAll(both);
  assert.deepEqual(one.pixels, wsq.decode(stream).pixels);
  assert.deepEqual(two.pixels, wsq.decode(second).pixels);
  const facts = wsq.infoAll(both);
  assert.deepEqual(facts.map((f) => f.comments), [['first'], []]);
  assert.deepEqual(facts.map((f) => f.streamBytes), [stream.length, second.length]);
  assert.equal(facts[0].bitsPerPixel, stream.length * 8 / (81 * 81));
  fails(() => wsq.decode(both), Status.ARGUMENT, stream.length);
  fails(() => wsq.info(both), Status.ARGUMENT, stream.length);
  assert.deepEqual(wsq.encode(small, 81, 81, { threads: 4, comment: 'first' }), stream);
});

test('a 4096x4096 image encodes as wsq1 encodes it, and decodes', () => {
  const side = 4096, pixels = new Uint8Array(side * side);
  for (let row = 0; row < side; ++row) {
    pixels.set(print.pixels.subarray((row % 512) * 512, (row % 512 + 1) * 512).map(
      (value, column) => value ^ (row >> 9) ^ (column & 3)), row * side);
    for (let tile = 1; tile < 8; ++tile) {
      pixels.copyWithin(row * side + tile * 512, row * side, row * side + 512);
    }
  }
  const big = wsq.encode(pixels, side, side);
  assert.deepEqual(big, wsq1(pixels, [`-r${side},${side}`]));
  const decoded = wsq.decode(big);
  assert.equal(decoded.pixels.length, side * side);
  assert.equal(wsq.memoryInUse(), 0);
});
