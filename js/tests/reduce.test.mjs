/* Previews: decode(bytes, {reduce}) gives the pixels the native decoder gives at that scale,
 * at each dimension divided and rounded up, with the stream's own facts; any other reduce is
 * the library's refusal. */
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';
import { data, image, unwsq, wsq } from './helpers.mjs';

const crop = image('sd04_f0001_01_crop437x391');
const streams = {
  'wsq-original.wsq': new Uint8Array(readFileSync(join(data, 'wsq-original.wsq'))),
  'the 437x391 crop': wsq.encode(crop.pixels, crop.width, crop.height),
};

for (const [name, stream] of Object.entries(streams)) {
  test(`${name} at 1/2, 1/4 and 1/8 gives unwsq --scale's pixels`, () => {
    const facts = wsq.info(stream);
    for (const reduce of [2, 4, 8]) {
      const preview = wsq.decode(stream, { reduce });
      assert.deepEqual(preview.pixels, unwsq(stream, ['--scale', `1/${reduce}`]));
      assert.deepEqual([preview.width, preview.height],
                       [Math.ceil(facts.width / reduce), Math.ceil(facts.height / reduce)]);
      assert.deepEqual(preview.info, facts);
    }
  });
}

test('reduce 3 is refused by the library', () => {
  assert.throws(() => wsq.decode(streams['wsq-original.wsq'], { reduce: 3 }), {
    name: 'WsqError', status: wsq.Status.ARGUMENT, message: 'reduce 3: give 1, 2, 4 or 8',
  });
});
