/* Every golden row encodes in WebAssembly to the bytes the native wsq1 writes, and decodes to
 * the pixels the native library gives (the digests golden_test.cpp keeps). */
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';
import { data, image, sha256, wsq, wsq1 } from './helpers.mjs';

/* wsq1's settings as encode() options. */
function options(args) {
  const settings = {};
  for (const arg of args) {
    if (arg.startsWith('-Z')) settings.bitrate = Number(arg.slice(2));
    if (arg.startsWith('-c')) settings.comment = arg.slice(2);
    if (arg.startsWith('-S')) {
      [settings.black, settings.white] = arg.slice(2).split(',').map(Number);
    }
  }
  return settings;
}

const rows = readFileSync(join(data, '../cli/golden.tsv'), 'utf8').split('\n')
  .filter((line) => line && !line.startsWith('#')).map((line) => line.split('\t'));

for (const [name, source, args, length, streamDigest, pixelsDigest] of rows) {
  test(name, () => {
    const { pixels, width, height } = image(source);
    const argv = args ? args.split(' ') : [];
    const stream = wsq.encode(pixels, width, height, options(argv));
    assert.deepEqual(stream, wsq1(pixels, argv));
    assert.equal(stream.length, Number(length));
    assert.equal(sha256(stream), streamDigest);
    const decoded = wsq.decode(stream);
    assert.equal(decoded.width, width);
    assert.equal(decoded.height, height);
    assert.equal(sha256(decoded.pixels), pixelsDigest);
  });
}

test('an RGBA image encodes as its gray does, whatever its alpha', () => {
  const { pixels, width, height } = image('mcc_sample_1_1');
  const rgba = new Uint8ClampedArray(pixels.length * 4);
  pixels.forEach((gray, i) => rgba.set([gray, gray, gray, i * 7], 4 * i));
  assert.deepEqual(wsq.encode({ data: rgba, width, height }, { bitrate: 1.5 }),
                   wsq1(pixels, [`-r${width},${height}`, '-Z1.5']));
});

test('a colour pixel becomes gray by the luma rule of Pillow\'s "L"', () => {
  /* A 96x96 image of two colours: 100,150,200 gives (19595*100 + 38470*150 + 7471*200 +
   * 32768) >> 16 = 141, and 250,20,90 gives 97. */
  const width = 96, height = 96, rgba = new Uint8Array(width * height * 4);
  const gray = new Uint8Array(width * height);
  for (let i = 0; i < gray.length; ++i) {
    const first = (i * 37 % 11) < 5;
    rgba.set(first ? [100, 150, 200, 255] : [250, 20, 90, 0], 4 * i);
    gray[i] = first ? 141 : 97;
  }
  assert.deepEqual(wsq.gray({ data: rgba, width, height }), gray);
  assert.deepEqual(wsq.encode({ data: rgba, width, height }),
                   wsq.encode(gray, width, height));
});
