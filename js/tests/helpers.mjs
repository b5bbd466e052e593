/* What the tests of the package share: the package as built (WSQ_JS), the bundled images
 * (WSQ_TEST_DATA) and the native programs (WSQ1, UNWSQ). */
import { execFileSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

export const packageDir = process.env.WSQ_JS;
export const data = process.env.WSQ_TEST_DATA;
export const wsq = await import(pathToFileURL(join(packageDir, 'wsq.mjs')));
await wsq.ready;

export function sha256(bytes) {
  return createHash('sha256').update(bytes).digest('hex');
}

/* The dimensions of each bundled image, from the manifest. */
export const sizes = new Map(readFileSync(join(data, 'MANIFEST.tsv'), 'utf8').trim().split('\n')
  .slice(1).map((line) => line.split('\t')).map(([name, w, h]) => [name, [+w, +h]]));

/* A bundled image NAME, or the part NAME@X,Y,WxH of it: {pixels, width, height}. */
export function image(source) {
  const [name, part] = source.split('@');
  const [width, height] = sizes.get(name);
  const whole = readFileSync(join(data, `${name}.raw`));
  if (!part) return { pixels: new Uint8Array(whole), width, height };
  const [x, y, w, h] = part.split(/[,x]/).map(Number);
  const pixels = new Uint8Array(w * h);
  for (let row = 0; row < h; ++row) {
    pixels.set(whole.subarray((y + row) * width + x, (y + row) * width + x + w), row * w);
  }
  return { pixels, width: w, height: h };
}

/* What a native program writes to its standard output for the input file of the given
 * bytes, named name, after the given arguments. */
function native(program, bytes, name, args) {
  const dir = mkdtempSync(join(tmpdir(), 'wsq-js-'));
  try {
    writeFileSync(join(dir, name), bytes);
    return new Uint8Array(execFileSync(program, [...args, join(dir, name)],
      { maxBuffer: 2 ** 30, stdio: ['ignore', 'pipe', 'ignore'] }));
  } finally {
    rmSync(dir, { recursive: true });
  }
}

/* What the native wsq1 writes for pixels with the given arguments (-rW,H among them). */
export function wsq1(pixels, args) {
  return native(process.env.WSQ1, pixels, 'in.raw', args);
}

/* The raw pixels the native unwsq writes for a stream with the given arguments. */
export function unwsq(stream, args) {
  return native(process.env.UNWSQ, stream, 'in.wsq', [...args, '-f', 'raw', '-o', '-']);
}
