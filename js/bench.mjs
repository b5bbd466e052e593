/* The WebAssembly build against the native library, side by side in one run: the median
 * processor milliseconds of encode() and decode() of the bundled 512x512 print and of a
 * 2048x2048 mosaic of the bundled prints (one thread each; on a shared machine, what a call
 * costs whatever else runs), and the sizes of the package's files.
 *
 *     node js/bench.mjs [BUILD]      (BUILD: the build directory, build by default)
 *
 * Needs the package in BUILD/js and BUILD/bench/wsq_benchtool (the benchmarks, with Google
 * Benchmark installed). */
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { gzipSync } from 'node:zlib';

const build = resolve(process.argv[2] ?? 'build');
const benchtool = join(build, 'bench', 'wsq_benchtool');
const wsq = await import(pathToFileURL(join(build, 'js', 'wsq.mjs')));
await wsq.ready;

function median(runs, call) {
  const times = [];
  for (let run = 0; run < runs; ++run) {
    const start = process.cpuUsage();
    call();
    const used = process.cpuUsage(start);
    times.push((used.user + used.system) / 1000);
  }
  return times.sort((a, b) => a - b)[runs >> 1];
}

/* Median milliseconds of encode and decode, in WebAssembly and natively. */
function timings(file, side, runs) {
  const pixels = new Uint8Array(readFileSync(file));
  const stream = wsq.encode(pixels, side, side);
  const wasm = [median(runs, () => wsq.encode(pixels, side, side)),
                median(runs, () => wsq.decode(stream))];
  const native = execFileSync(benchtool, ['time', file, String(side), String(side), String(runs)],
                              { encoding: 'utf8' }).split(' ').filter((_, i) => i % 2).map(Number);
  return { wasm, native };
}

const dir = mkdtempSync(join(tmpdir(), 'wsq-bench-'));
try {
  const mosaic = join(dir, 'mosaic.raw');
  execFileSync(benchtool, ['mosaic', '2048', '2048', mosaic]);
  const print = fileURLToPath(new URL('../tests/data/sd04_f0001_01.raw', import.meta.url));
  const cases = [['512x512', print, 512, 21], ['2048x2048', mosaic, 2048, 7]];
  console.log('| image | encode wasm | encode native | ratio | decode wasm | decode native ' +
              '| ratio |');
  console.log('| --- | ---: | ---: | ---: | ---: | ---: | ---: |');
  for (const [name, file, side, runs] of cases) {
    const { wasm, native } = timings(file, side, runs);
    const ms = (value) => `${value.toFixed(1)} ms`;
    const ratio = (step) => (wasm[step] / native[step]).toFixed(1);
    console.log(`| ${name} | ${ms(wasm[0])} | ${ms(native[0])} | ${ratio(0)} ` +
                `| ${ms(wasm[1])} | ${ms(native[1])} | ${ratio(1)} |`);
  }
} finally {
  rmSync(dir, { recursive: true });
}

console.log('\n| file | bytes | gzip -9 |\n| --- | ---: | ---: |');
for (const file of ['libwsq.wasm', 'libwsq.mjs', 'wsq.mjs']) {
  const bytes = readFileSync(join(build, 'js', file));
  console.log(`| ${file} | ${bytes.length} | ${gzipSync(bytes, { level: 9 }).length} |`);
}
