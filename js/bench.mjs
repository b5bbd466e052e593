/* The WebAssembly build against the native library, side by side in one run: encode() and
 * decode() of the bundled 512x512 print and of a 2048x2048 mosaic of the bundled prints (one
 * thread each), in Node and, where Chromium and the page test's puppeteer-core are installed,
 * in Chromium, with the sizes of the package's files. For each image and call: the first call
 * of a freshly loaded module (milliseconds of wall time, compiling included), then the median
 * of 50 calls after 5 more for warming (processor milliseconds in Node, wall time in the
 * browser, which has no processor clock), against wsq_benchtool's median processor
 * milliseconds of the native library, timed before and after each engine.
 *
 *     node js/bench.mjs [BUILD [PACKAGE...]]
 *
 * BUILD is the build directory (build by default), which has BUILD/bench/wsq_benchtool (the
 * benchmarks, with Google Benchmark installed) and the package BUILD/js; other package
 * directories given after it are measured after that one, so that a change is seen before and
 * after in the same run. CHROMIUM names the browser (/usr/bin/chromium
 * by default). */
import { execFileSync } from 'node:child_process';
import { copyFileSync, createReadStream, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync,
         writeFileSync } from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import { loadavg, tmpdir } from 'node:os';
import { basename, extname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { gzipSync } from 'node:zlib';

const build = resolve(process.argv[2] ?? 'build');
const packages = [join(build, 'js'), ...process.argv.slice(3).map((dir) => resolve(dir))];
const benchtool = join(build, 'bench', 'wsq_benchtool');
const WARM = 5, RUNS = 50;

/* The measurements of one package, in whatever engine runs it: for each image, the first
 * encode and decode of a fresh module, then the medians. cpu() gives processor milliseconds
 * where there are any, else wall time. Runs in Node and, as its source text, in the page. */
async function measure(moduleUrl, images, cpu) {
  const wsq = await import(`${moduleUrl}?fresh=${Math.random()}`);
  await wsq.ready;
  const median = (call) => {
    for (let i = 0; i < WARM; ++i) call();
    const times = [];
    for (let i = 0; i < RUNS; ++i) times.push(cpu(call));
    return times.sort((a, b) => a - b)[RUNS >> 1];
  };
  const once = (call) => { const start = performance.now(); call(); return performance.now() - start; };
  const results = [];
  for (const { pixels, side } of images) {
    let stream;
    const firstEncode = once(() => { stream = wsq.encode(pixels, side, side); });
    const firstDecode = once(() => wsq.decode(stream));
    results.push({ firstEncode, firstDecode, encode: median(() => wsq.encode(pixels, side, side)),
                   decode: median(() => wsq.decode(stream)) });
  }
  return results;
}

function processorTime(call) {
  const start = process.cpuUsage();
  call();
  const used = process.cpuUsage(start);
  return (used.user + used.system) / 1000;
}

const TYPES = { '.html': 'text/html', '.mjs': 'text/javascript', '.wasm': 'application/wasm' };

/* Serves root on 127.0.0.1, as any static server would. */
function serve(root) {
  return new Promise((done) => {
    const server = http.createServer((request, response) => {
      const path = decodeURIComponent(new URL(request.url, 'http://x').pathname);
      const file = join(root, path.endsWith('/') ? `${path}index.html` : path);
      if (!file.startsWith(root) || !existsSync(file)) return response.writeHead(404).end();
      response.writeHead(200, { 'content-type': TYPES[extname(file)] ?? 'application/octet-stream' });
      createReadStream(file).pipe(response);
    });
    server.listen(0, '127.0.0.1', () => done(server));
  });
}

/* The same measurements in headless Chromium, or null where it or puppeteer-core is missing. */
async function inChromium(dir, cases) {
  let puppeteer;
  try {
    const require = createRequire(fileURLToPath(new URL('../tests/web/package.json', import.meta.url)));
    puppeteer = (await import(pathToFileURL(require.resolve('puppeteer-core')))).default;
  } catch {
    return null;
  }
  const chromium = process.env.CHROMIUM ?? '/usr/bin/chromium';
  const root = join(dir, 'served');
  packages.forEach((from, k) => {
    mkdirSync(join(root, `p${k}`), { recursive: true });
    for (const file of ['wsq.mjs', 'libwsq.mjs', 'libwsq.wasm']) copyFileSync(join(from, file), join(root, `p${k}`, file));
  });
  cases.forEach(({ file }, k) => copyFileSync(file, join(root, `image${k}.raw`)));
  writeFileSync(join(root, 'index.html'), '<!doctype html><title>wsq benchmark</title>');
  const server = await serve(root);
  let browser;
  try {
    browser = await puppeteer.launch({ executablePath: chromium, protocolTimeout: 30 * 60_000,
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'] });
    const page = await browser.newPage();
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    return await page.evaluate(async (source, packageCount, sides, warm, runs) => {
      const measure = new Function('WARM', 'RUNS', `return ${source}`)(warm, runs);
      const images = await Promise.all(sides.map(async (side, k) =>
        ({ side, pixels: new Uint8Array(await (await fetch(`/image${k}.raw`)).arrayBuffer()) })));
      const wall = (call) => { const start = performance.now(); call(); return performance.now() - start; };
      const results = [];
      for (let k = 0; k < packageCount; ++k) results.push(await measure(`${location.origin}/p${k}/wsq.mjs`, images, wall));
      return results;
    }, measure.toString(), packages.length, cases.map(({ side }) => side), WARM, RUNS);
  } catch (failure) {
    console.error(`Chromium: ${failure.message}`);
    return null;
  } finally {
    await browser?.close();
    server.close();
  }
}

function table(engine, cases, results, native) {
  const ms = (value) => `${value.toFixed(1)} ms`;
  console.log(`\n${engine}: first call of a fresh module, then the median of ${RUNS} after ${WARM}, ` +
              'against the native library\n');
  console.log('| image | package | first encode | first decode | encode | native | ratio ' +
              '| decode | native | ratio |');
  console.log('| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |');
  cases.forEach(({ name }, c) => results.forEach((result, k) => {
    const r = result[c], n = native[c];
    console.log(`| ${name} | ${basename(packages[k]) === 'js' ? packages[k] : basename(packages[k])} ` +
                `| ${ms(r.firstEncode)} | ${ms(r.firstDecode)} | ${ms(r.encode)} | ${ms(n.encode)} ` +
                `| ${(r.encode / n.encode).toFixed(1)} | ${ms(r.decode)} | ${ms(n.decode)} ` +
                `| ${(r.decode / n.decode).toFixed(1)} |`);
  }));
}

const dir = mkdtempSync(join(tmpdir(), 'wsq-bench-'));
try {
  const mosaic = join(dir, 'mosaic.raw');
  execFileSync(benchtool, ['mosaic', '2048', '2048', mosaic]);
  const print = fileURLToPath(new URL('../tests/data/sd04_f0001_01.raw', import.meta.url));
  const cases = [{ name: '512x512', file: print, side: 512 }, { name: '2048x2048', file: mosaic, side: 2048 }];
  /* The native library is timed again after each engine, and each engine's ratios take the
   * mean of the native times just before and just after it: on a machine that other work
   * loads, the load then weighs on both sides alike. */
  const nativeTimes = () => cases.map(({ file, side }) => {
    const [encode, decode] = execFileSync(benchtool, ['time', file, String(side), String(side), String(RUNS)],
                                          { encoding: 'utf8' }).split(' ').filter((_, i) => i % 2).map(Number);
    return { encode, decode };
  });
  const around = (before, after) => before.map((b, c) => ({ encode: (b.encode + after[c].encode) / 2,
                                                            decode: (b.decode + after[c].decode) / 2 }));
  const load = () => loadavg()[0].toFixed(1);
  console.log(`Load average (one minute) at the start: ${load()}`);
  const images = cases.map(({ file, side }) => ({ side, pixels: new Uint8Array(readFileSync(file)) }));
  const first = nativeTimes();
  const node = [];
  for (const from of packages) node.push(await measure(pathToFileURL(join(from, 'wsq.mjs')).href, images, processorTime));
  const second = nativeTimes();
  table('Node', cases, node, around(first, second));
  const chromium = await inChromium(dir, cases);
  if (chromium) table('Chromium', cases, chromium, around(second, nativeTimes()));
  else console.log('\nChromium: not measured (it needs chromium and npm ci --prefix tests/web)');
  console.log(`\nLoad average (one minute) at the end: ${load()}`);
} finally {
  rmSync(dir, { recursive: true });
}

console.log('\n| file | bytes | gzip -9 |\n| --- | ---: | ---: |');
for (const file of ['libwsq.wasm', 'libwsq.mjs', 'wsq.mjs']) {
  const bytes = readFileSync(join(build, 'js', file));
  console.log(`| ${file} | ${bytes.length} | ${gzipSync(bytes, { level: 9 }).length} |`);
}
