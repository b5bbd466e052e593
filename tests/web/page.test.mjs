// The web page in the system's Chromium, headless: it shows bundled prints
// with the native decoder's pixels and lists them with its previews, makes
// from PNG files the bytes wsq1 writes, reports bad input and goes on, saves
// every result, opens, checks, edits and saves transaction files, can be
// worked by keyboard, asks nothing of any host but 127.0.0.1, and lays out
// from a phone to a desktop. Screenshots and the timings go to the artifacts folder.
//
// Environment: WSQ_WEB (the built page), WSQ1 and UNWSQ (the programs),
// WSQ_DATA (tests/data), WSQ_ARTIFACTS (where screenshots go), CHROMIUM.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import { pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';
import { tagged, transaction, type14, type4 } from '../../js/tests/transactions.mjs';

const env = (name) => path.resolve(process.env[name] || assert.fail(`${name} is not set`));
const web = env('WSQ_WEB'), data = env('WSQ_DATA'), artifacts = env('WSQ_ARTIFACTS');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'wsq-web-'));
const downloads = path.join(work, 'downloads');
const requests = [], scriptErrors = [];
let server, browser, page;

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript', '.css': 'text/css',
  '.wasm': 'application/wasm' };

// Serves the built page, as any static server would.
function serve(root) {
  return new Promise((resolve) => {
    const s = http.createServer((request, response) => {
      const file = path.join(root, path.normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname)));
      const target = file.endsWith(path.sep) ? path.join(file, 'index.html') : file;
      if (!target.startsWith(root) || !fs.existsSync(target) || !fs.statSync(target).isFile()) {
        response.writeHead(404).end();
        return;
      }
      response.writeHead(200, { 'content-type': TYPES[path.extname(target)] || 'application/octet-stream' });
      fs.createReadStream(target).pipe(response);
    });
    s.listen(0, '127.0.0.1', () => resolve(s));
  });
}

const run = (program, ...args) => execFileSync(program, args, { cwd: work });
const file = (name) => path.join(work, name);

before(async () => {
  fs.mkdirSync(artifacts, { recursive: true });
  fs.mkdirSync(downloads);
  // The expectations, from the native programs.
  run(env('WSQ1'), '-ofinger', path.join(data, 'sd04_f0001_01.raw'));
  run(env('UNWSQ'), '-fraw', '-o', 'finger.raw', 'finger.wsq');
  run(env('UNWSQ'), '--scale', '1/8', '-fraw', '-o', 'finger-eighth.raw', 'finger.wsq');
  run(env('WSQ1'), '-r832,768', '-oconverted', path.join(data, 'wsq-converted.raw'));
  run(env('WSQ1'), '-r832,768', '-Z2.25', '-ccard 12', '-oconverted-2.25', path.join(data, 'wsq-converted.raw'));
  run(env('WSQ1'), '-ofinger-again', 'finger.raw');
  run(env('WSQ1'), '-r437,391', '-ocrop', path.join(data, 'sd04_f0001_01_crop437x391.raw'));
  fs.writeFileSync(file('two.wsq'), Buffer.concat([fs.readFileSync(file('finger.wsq')), fs.readFileSync(file('crop.wsq'))]));
  run(env('UNWSQ'), '-fraw', 'two.wsq');  // two-1.raw and two-2.raw
  fs.copyFileSync(path.join(data, 'hostile', 'literal-cut.wsq'), file('cut.wsq'));
  fs.writeFileSync(file('letter.png'), '%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\n%%EOF\n');
  // A ten-print card of 14 prints, about 1 MB: rolled fingers 1-10 in Type-4 records, plain
  // impressions 13, 14, 11 and 12 in Type-14 records; and, recognised by its content alone, a
  // transaction whose print's record states another width than its stream's; and one without
  // its last FS.
  run(env('WSQ1'), '-Z2.25', '-ocard-print', path.join(data, 'sd04_f0001_01.raw'));
  run(env('UNWSQ'), '-fraw', '-o', 'card-print.raw', 'card-print.wsq');
  run(env('UNWSQ'), '--scale', '1/8', '-fraw', '-o', 'card-print-eighth.raw', 'card-print.wsq');
  const stream = fs.readFileSync(file('card-print.wsq'));
  const rolled = Array.from({ length: 10 }, (_, i) => [4, i + 1, type4(i + 1, i + 1, 512, 512, 1, stream)]);
  const plain = [13, 14, 11, 12].map((position, i) => [14, 11 + i, type14(11 + i, position, 512, 512, stream)]);
  fs.writeFileSync(file('card.eft'), transaction([[2, 0, tagged(2, [['002', '0']])], ...rolled, ...plain]));
  fs.writeFileSync(file('flawed.dat'), transaction([[4, 1, type4(1, 2, 511, 512, 1, stream)]]));
  fs.writeFileSync(file('unended.an2'), transaction([[14, 1, type14(1, 2, 512, 512, stream)]]).subarray(0, -1));

  server = await serve(web);
  const origin = `http://127.0.0.1:${server.address().port}`;
  browser = await puppeteer.launch({
    executablePath: env('CHROMIUM'),
    userDataDir: path.join(work, 'profile'),
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  page = await browser.newPage();
  page.on('pageerror', (error) => scriptErrors.push(error.message));
  await recordRequests(page);
  await receiveDownloads();
  await page.setViewport({ width: 1280, height: 900 });
  await page.goto(`${origin}/`, { waitUntil: 'load' });
  await page.waitForSelector('#codec-state[data-state="ready"]');
});

after(async () => {
  await browser?.close();
  server?.close();
  fs.rmSync(work, { recursive: true, force: true });
});

// Every request of the page and of the workers it starts, from the first:
// a worker waits for its recorder to be in place before it runs. (The
// browser's own traffic, which the page does not cause, is not counted.)
async function recordRequests(target) {
  target.on('request', (request) => requests.push(request.url()));
  const session = await target.createCDPSession();
  session.on('Target.attachedToTarget', async ({ sessionId }) => {
    const worker = session.connection().session(sessionId);
    worker.on('Network.requestWillBeSent', (event) => requests.push(event.request.url));
    await worker.send('Network.enable');
    await worker.send('Runtime.runIfWaitingForDebugger');
  });
  await session.send('Target.setAutoAttach', { autoAttach: true, waitForDebuggerOnStart: true, flatten: true });
}

// Downloads are saved under their id in the downloads folder; each one's
// bytes go to whoever waited for it when it began.
let takeDownload = null;
async function receiveDownloads() {
  const session = await browser.target().createCDPSession();
  const waiting = new Map();  // download id -> taker of its bytes
  session.on('Browser.downloadWillBegin', ({ guid }) => waiting.set(guid, takeDownload));
  session.on('Browser.downloadProgress', ({ guid, state }) => {
    if (state === 'completed') waiting.get(guid)(fs.readFileSync(path.join(downloads, guid)));
  });
  await session.send('Browser.setDownloadBehavior', { behavior: 'allowAndName', downloadPath: downloads, eventsEnabled: true });
}

// The bytes of the download that clicking the selector starts.
function downloadFrom(selector) {
  const bytes = new Promise((resolve) => { takeDownload = resolve; });
  return page.click(selector).then(() => bytes);
}

// Chooses files in the picker and waits for the list to settle.
async function choose(...names) {
  const input = await page.$('#files');
  await settle(names.length, () => input.uploadFile(...names.map((n) => (path.isAbsolute(n) ? n : file(n)))));
}

// Drops a file on the page as a drag from the desktop does.
async function drop(name) {
  await settle(1, () => page.$eval('#drop', (target, bytes, fileName) => {
    const dataTransfer = new DataTransfer();
    dataTransfer.items.add(new File([new Uint8Array(bytes)], fileName));
    target.dispatchEvent(new DragEvent('drop', { dataTransfer, bubbles: true, cancelable: true }));
  }, [...fs.readFileSync(file(name))], name));
}

// The waits look again at each change of the page, not at every frame, so
// that they ask for no frame of their own while the page is timed.
const watching = { polling: 'mutation', timeout: 30_000 };

async function settle(added, action) {
  const before = await page.$$eval('#list li', (items) => items.length);
  await action();
  await page.waitForFunction((count) => {
    const items = [...document.querySelectorAll('#list li')];
    return items.length === count && items.every((li) => li.dataset.state === 'done' || li.dataset.state === 'failed');
  }, watching, before + added);
}

async function canvasPixels(selector = '#canvas-a') {
  return Buffer.from(await page.$eval(selector, (canvas) => {
    const rgba = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    return Array.from({ length: rgba.length / 4 }, (_, i) => rgba[4 * i]);
  }));
}

const measures = (name) => page.evaluate((n) => performance.getEntriesByName(n, 'measure').map((m) => m.duration), name);

test('a bundled print is shown with the pixels the native decoder gives', async () => {
  await choose('finger.wsq');
  assert.equal(await page.$eval('#viewer-title', (e) => e.textContent), 'finger.wsq');
  assert.deepEqual(await canvasPixels(), fs.readFileSync(file('finger.raw')));
  const facts = await page.$eval('#facts', (e) => e.textContent);
  assert.match(facts, /512 x 512 pixels/);
  assert.match(facts, /black 0, white 255/);
  // Its thumbnail in the list: the 1/8 preview, the largest of 512 x 512's that fits 96 pixels.
  const preview = await page.waitForSelector('#list li:first-child canvas.preview');
  assert.deepEqual(await preview.evaluate((c) => [c.width, c.height]), [64, 64]);
  assert.deepEqual(await canvasPixels('#list li:first-child canvas.preview'), fs.readFileSync(file('finger-eighth.raw')));
  await drop('two.wsq');  // two streams back to back
  await page.select('#stream', '1');
  assert.deepEqual(await canvasPixels(), fs.readFileSync(file('two-2.raw')));
  for (const zoom of ['1', '2', 'fit']) {
    await page.click(`[data-zoom="${zoom}"]`);
    const width = await page.$eval('#canvas-a', (c) => c.getBoundingClientRect().width);
    if (zoom !== 'fit') assert.equal(width, 437 * Number(zoom));
  }
});

test('images become the bytes wsq1 writes for their gray pixels', async () => {
  // The print saved as PNG from the page, then made into WSQ again.
  await page.click('#list li:first-child .item-name');
  fs.writeFileSync(file('finger.png'), await downloadFrom('#save-png'));
  await choose('finger.png');
  assert.deepEqual(await downloadFrom('#save-wsq'), fs.readFileSync(file('finger-again.wsq')));
  assert.match(await page.$eval('#facts', (e) => e.textContent), /PSNR\s*\d+\.\d\d dB/);
  for (const mode of ['flicker', 'difference', 'side']) await page.click(`[data-compare="${mode}"]`);

  await choose(path.join(data, 'wsq-converted.png'));
  assert.deepEqual(await downloadFrom('#save-wsq'), fs.readFileSync(file('converted.wsq')));
  await page.click('[data-bitrate="2.25"]');
  await page.type('#comment', 'card 12');
  await page.click('#reencode');
  await page.waitForFunction(() => document.querySelector('#facts').textContent.includes('bit rate of 2.25'));
  assert.deepEqual(await downloadFrom('#save-wsq'), fs.readFileSync(file('converted-2.25.wsq')));
});

test('bad input gets a message naming the file, status and reason; the next file still works', async () => {
  const tiny = await page.evaluate(async () => {
    const canvas = new OffscreenCanvas(30, 30);
    canvas.getContext('2d').fillRect(5, 5, 10, 10);
    return Array.from(new Uint8Array(await (await canvas.convertToBlob()).arrayBuffer()));
  });
  fs.writeFileSync(file('tiny.png'), Buffer.from(tiny));
  await choose('cut.wsq', 'letter.png', 'tiny.png', 'finger.wsq');
  const messages = await page.$$eval('#messages li', (items) => items.map((li) => li.textContent));
  assert.equal(messages.length, 3);
  assert.match(messages[0], /^cut\.wsq: [^:(]+ \(status \d+, byte \d+\): \S/);
  assert.match(messages[1], /^letter\.png: .*cannot read it as an image/);
  assert.match(messages[2], /^tiny\.png: [^:(]+ \(status \d+\): \S/);
  assert.equal(await page.$$eval('#list li[data-state="done"]', (items) => items.length), 5);
  await page.click('#list li:last-child .item-name');
  assert.deepEqual(await canvasPixels(), fs.readFileSync(file('finger.raw')));
});

test('"Save all results" gives one archive of every result', async () => {
  const archive = await downloadFrom('#save-all');
  assert.equal(archive.subarray(0, 4).toString('latin1'), 'PK\x03\x04');
  for (const name of ['finger.png', 'two-1.png', 'two-2.png', 'finger.wsq', 'wsq-converted.wsq', 'finger-2.png'])
    assert.ok(archive.includes(name), name);
  assert.ok(archive.includes(fs.readFileSync(file('finger-again.wsq'))));
});

test('every control has a label and is reached by Tab; the layout fits from a phone to a desktop', async () => {
  const snapshot = await page.accessibility.snapshot({ interestingOnly: false });
  const unnamed = [];
  (function walk(node) {
    if (['button', 'textbox', 'spinbutton', 'combobox'].includes(node.role) && !node.name) unnamed.push(node.role);
    node.children?.forEach(walk);
  })(snapshot);
  assert.deepEqual(unnamed, []);
  const unreached = await page.evaluate(() => {
    const controls = [...document.querySelectorAll('button, input:not([type="file"]), select, [tabindex="0"]')]
      .filter((e) => !e.disabled && e.getClientRects().length);
    controls.forEach((e, i) => { e.dataset.control = i; });
    return controls.map((e) => e.dataset.control);
  });
  for (let i = 0; i < 80 && unreached.length; i++) {
    await page.keyboard.press('Tab');
    const focused = await page.evaluate(() => document.activeElement?.dataset.control);
    if (unreached.includes(focused)) unreached.splice(unreached.indexOf(focused), 1);
  }
  assert.deepEqual(unreached, [], 'every visible control is reached by Tab');

  await page.click('#list li:nth-child(4) .item-name');  // the conversion at 2.25
  for (const [name, width, height] of [['desktop', 1280, 900], ['phone', 360, 780]]) {
    await page.setViewport({ width, height });
    await new Promise((resolve) => setTimeout(resolve, 100));
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= innerWidth), `${name}: no sideways scroll`);
    await page.screenshot({ path: path.join(artifacts, `page-${name}.png`), fullPage: true });
  }
});

test('a bit rate that is no number above 0 is refused before encoding', async () => {
  const fieldState = () => page.$eval('#bitrate', (field) =>
    [field.getAttribute('aria-invalid'), document.getElementById('bitrate-error').hidden]);
  await page.$eval('#bitrate', (field) => {
    field.value = '';
    field.dispatchEvent(new Event('input', { bubbles: true }));
  });
  assert.deepEqual(await fieldState(), ['true', false]);
  await choose('finger.png');
  assert.match(await page.$eval('#messages li:last-child', (e) => e.textContent),
    /^finger\.png: the bit rate field holds no number above 0/);
  await page.click('[data-bitrate="0.75"]');
  assert.deepEqual(await fieldState(), ['false', true]);
  const looks = await page.$$eval('#bitrate, [data-bitrate]', (elements) =>
    elements.map((e) => getComputedStyle(e).backgroundColor + getComputedStyle(e).borderRadius));
  assert.ok(looks.slice(1).every((look) => look !== looks[0]), 'the presets look unlike the field');
});

test('at 1280 x 860 the print, its facts and the tools are seen without scrolling', async () => {
  await page.setViewport({ width: 1280, height: 860 });
  for (const name of ['finger.wsq', path.join(data, 'wsq-converted.png')]) {
    await choose(name);
    await page.evaluate(() => scrollTo(0, 0));
    const outside = await page.evaluate(() =>
      ['#facts', '#panes', '#tools', '#scale'].filter((selector) => {
        const box = document.querySelector(selector).getBoundingClientRect();
        return box.top < 0 || box.bottom > innerHeight || box.height === 0;
      }));
    assert.deepEqual(outside, [], name);
    await page.screenshot({ path: path.join(artifacts, `page-1280x860-${path.basename(name).replace('.', '-')}.png`) });
  }
});

test('a print is shown inverted, stretched, and with a scale bar at its resolution', async () => {
  await choose('finger.wsq');
  const raw = fs.readFileSync(file('finger.raw'));
  await page.click('#invert');
  assert.deepEqual(await canvasPixels(), raw.map((gray) => 255 - gray));
  await page.click('#invert');
  await page.click('#stretch');
  const stretched = await canvasPixels();
  const order = [...raw.keys()].sort((a, b) => raw[a] - raw[b]);
  assert.ok(order.every((at, i) => i === 0 || stretched[order[i - 1]] <= stretched[at]), 'the order of grays is kept');
  assert.deepEqual([stretched.reduce((a, b) => Math.min(a, b)), stretched.reduce((a, b) => Math.max(a, b))], [0, 255]);
  await page.click('#stretch');
  assert.deepEqual(await canvasPixels(), raw);

  await page.click('[data-zoom="1"]');
  const scale = () => page.evaluate(() =>
    [document.getElementById('scale-bar').getBoundingClientRect().width, document.getElementById('scale-label').textContent]);
  const [width, label] = await scale();
  const [, mm] = /^(\d+) mm at 500 ppi \(assumed/.exec(label);
  assert.ok(Math.abs(width - mm * 500 / 25.4) < 1, `${width} px for ${label}`);
  run(env('WSQ1'), '-ccard 12\nPPI 1000', '-ofinger-1000', 'finger.raw');
  await choose('finger-1000.wsq');
  const [width1000, label1000] = await scale();
  assert.match(label1000, /^\d+ mm at 1000 ppi \(as the file states/);
  assert.ok(Math.abs(width1000 - parseInt(label1000) * 1000 / 25.4) < 1, `${width1000} px for ${label1000}`);
  await page.click('[data-zoom="fit"]');
});

// A PNG of width x height RGBA pixels, 8 bits a sample, as any image program writes one.
function rgbaPng(width, height, rgba) {
  const crc = (bytes) => ~bytes.reduce((c, byte) => {
    c ^= byte;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c;
  }, ~0) >>> 0;
  const chunk = (type, data) => {
    const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
    const framing = Buffer.alloc(8);
    framing.writeUInt32BE(data.length, 0);
    framing.writeUInt32BE(crc(body), 4);
    return Buffer.concat([framing.subarray(0, 4), body, framing.subarray(4)]);
  };
  const header = Buffer.from([0, 0, 0, 0, 0, 0, 0, 0, 8, 6, 0, 0, 0]);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  const rows = Buffer.concat(Array.from({ length: height }, (_, y) =>
    Buffer.concat([Buffer.from([0]), rgba.subarray(4 * width * y, 4 * width * (y + 1))])));
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', header),
    chunk('IDAT', zlib.deflateSync(rows)), chunk('IEND', Buffer.alloc(0))]);
}

test('translucent pixels become gray by the rule for colour, their alpha ignored', async () => {
  const gray = fs.readFileSync(file('finger.raw')), rgba = Buffer.alloc(4 * gray.length);
  gray.forEach((value, i) => rgba.set([value, value, value, (7 * i) % 256], 4 * i));
  for (let i = 0; i < 512; i++) rgba.set([255, 243, 186, 7], 4 * i);  // the top row, gray 240
  fs.writeFileSync(file('translucent.png'), rgbaPng(512, 512, rgba));
  fs.writeFileSync(file('translucent.raw'), Buffer.from(gray).fill(240, 0, 512));
  run(env('WSQ1'), '-otranslucent', 'translucent.raw');
  await page.click('[data-bitrate="0.75"]');
  await page.$eval('#comment', (field) => { field.value = ''; });
  await choose('translucent.png');
  assert.deepEqual(await downloadFrom('#save-wsq'), fs.readFileSync(file('translucent.wsq')));
});

// Drops a file on the element that the selector names.
function dropOn(selector, name) {
  return page.$eval(selector, (target, bytes, fileName) => {
    const dataTransfer = new DataTransfer();
    dataTransfer.items.add(new File([new Uint8Array(bytes)], fileName));
    target.dispatchEvent(new DragEvent('drop', { dataTransfer, bubbles: true, cancelable: true }));
  }, [...fs.readFileSync(file(name))], name);
}

const textOf = (selector) => page.$eval(selector, (e) => e.textContent);
const thumbnailsDrawn = (count) => page.waitForFunction((n) =>
  document.querySelectorAll('#tx-grid canvas.thumb[data-drawn]').length === n, watching, count);

test('a transaction is checked and shown, its prints opened, saved and replaced, and it is saved', async () => {
  await drop('card.eft');
  await thumbnailsDrawn(14);
  assert.match(await textOf('#tx-verdict'), /^Valid: /);
  assert.match(await textOf('#tx-summary'), /Type of transactionCAR.*Control numberTCN1.*Records16: Type-1, Type-2, 10 x Type-4, 4 x Type-14/s);
  const names = await page.$$eval('#tx-grid .print-name', (items) => items.map((e) => e.textContent));
  assert.deepEqual(names.slice(0, 2).concat(names.slice(-4)), ['right thumb', 'right index', 'plain right four fingers',
    'plain left four fingers', 'plain right thumb', 'plain left thumb']);
  assert.deepEqual(await canvasPixels('#tx-grid li:nth-child(14) canvas'), fs.readFileSync(file('card-print-eighth.raw')));

  await page.click('#tx-grid li:first-child button');
  await page.waitForSelector('#save-wsq:not([hidden])');
  assert.deepEqual(await canvasPixels(), fs.readFileSync(file('card-print.raw')));
  assert.match(await textOf('#facts'), /right thumb.*Type-4, IDC 1.*live-scan rolled.*WSQ20.*512 x 512/s);
  await page.screenshot({ path: path.join(artifacts, 'page-transaction.png'), fullPage: true });
  assert.deepEqual(await downloadFrom('#save-wsq'), fs.readFileSync(file('card-print.wsq')));
  assert.equal((await downloadFrom('#save-png')).subarray(1, 4).toString(), 'PNG');

  // A PNG dropped on the second print, at the settings' bit rate, is shown beside it, then put in.
  await page.click('[data-bitrate="0.75"]');
  await page.$eval('#comment', (input) => { input.value = ''; });
  await dropOn('#tx-grid li:nth-child(2)', 'finger.png');
  await page.waitForSelector('#replace-actions:not([hidden])');
  assert.ok(await page.$eval('#pane-b', (pane) => !pane.hidden));
  await page.click('#apply-replace');
  await page.waitForFunction(() => /edited/.test(document.querySelector('#tx-summary').textContent));
  await thumbnailsDrawn(14);
  assert.match(await textOf('#tx-verdict'), /^Valid: /);
  const saved = await downloadFrom('#save-tx');
  const wsq = await import(pathToFileURL(path.join(web, 'wsq', 'wsq.mjs')));
  await wsq.ready;
  const edited = wsq.readTransaction(saved);
  assert.ok(edited.check().valid);
  assert.deepEqual(Buffer.from(edited.data(1)), fs.readFileSync(file('finger-again.wsq')));
  assert.deepEqual(Buffer.from(edited.data(2)), fs.readFileSync(file('card-print.wsq')));

  await drop('flawed.dat');
  assert.match(await textOf('#tx-verdict'), /^Not valid: .+ \(hll-vll-mismatch, at byte \d+\)\.$/);
  await drop('unended.an2');
  assert.match(await textOf('#tx-verdict'), /^Not valid as it came: .+ \(fs-missing, at byte \d+\); .*Otherwise valid\.$/);
  await page.setViewport({ width: 360, height: 780 });
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= innerWidth), 'no sideways scroll');
  await page.click('#list li:nth-last-child(3) .item-name');
  await page.screenshot({ path: path.join(artifacts, 'page-transaction-phone.png'), fullPage: true });
  await page.setViewport({ width: 1280, height: 900 });
});

test('the page raised no script error', () => {
  assert.deepEqual(scriptErrors, []);
});

test('no request goes anywhere but 127.0.0.1', () => {
  const elsewhere = requests.filter((url) => !/^(http:\/\/127\.0\.0\.1:\d+\/|blob:|data:)/.test(url));
  assert.deepEqual(elsewhere, []);
  assert.ok(requests.some((url) => url.endsWith('.wasm')), 'the worker\'s module was seen loading');
});

// The benchmark's figures, with the codec's own time for the same work in
// the same browser beside them: medians of five runs.
test('timings: choosing a 512x512 file, or fourteen prints, to the results on screen (reported, not asserted)', async () => {
  const median = (values) => values.sort((a, b) => a - b)[values.length >> 1];
  const [first] = await measures('wsq-view'), [firstConvert] = await measures('wsq-convert');
  const [firstCompare] = await measures('wsq-compare');
  const earlier = (await measures('wsq-transaction-thumbnails')).length;
  for (let run = 0; run < 5; run++) {
    await choose('finger.wsq');
    await choose('finger.png');
    await drop('card.eft');
    await thumbnailsDrawn(14);
  }
  await page.waitForFunction((count) => performance.getEntriesByName('wsq-transaction-thumbnails', 'measure').length === count,
    {}, earlier + 5);
  const thumbnails = median((await measures('wsq-transaction-thumbnails')).slice(-5));
  const card = Array.from({ length: 14 }, (_, k) => `print${k + 1}.wsq`);
  for (const name of card) fs.copyFileSync(file('converted.wsq'), file(name));
  for (let run = 0; run < 5; run++) await choose(...card);
  const cardTime = median((await measures('wsq-batch')).slice(-5));
  const cores = await page.evaluate(() => navigator.hardwareConcurrency);
  const view = median((await measures('wsq-view')).slice(-5));
  const convert = median((await measures('wsq-convert')).slice(-5));
  const compare = median((await measures('wsq-compare')).slice(-5));
  const codec = await page.evaluate(async (wsqBytes, rawBytes) => {
    const wsq = await import('./wsq/wsq.mjs');
    await wsq.ready;
    const stream = new Uint8Array(wsqBytes), gray = new Uint8Array(rawBytes);
    const time = (work) => {
      const times = [];
      for (let run = 0; run < 5; run++) {
        const start = performance.now();
        work();
        times.push(performance.now() - start);
      }
      return times.sort((a, b) => a - b)[2];
    };
    return { decode: time(() => wsq.decode(stream)), encode: time(() => wsq.encode(gray, 512, 512)) };
  }, [...fs.readFileSync(file('finger.wsq'))], [...fs.readFileSync(file('finger.raw'))]);
  const ms = (value) => `${value.toFixed(1)} ms`;
  const report = `512x512 WSQ chosen to print on screen: ${ms(view)} (first time ${ms(first)}; decoding alone ${ms(codec.decode)})\n` +
    `512x512 PNG chosen to its WSQ result on screen: ${ms(convert)} (first time ${ms(firstConvert)}; ` +
    `encoding alone ${ms(codec.encode)}), to the comparison with the decoded stream: ${ms(compare)} ` +
    `(first time ${ms(firstCompare)})\n` +
    `14-print transaction of ${fs.statSync(file('card.eft')).size} bytes dropped to all 14 thumbnails on screen: ${ms(thumbnails)}\n` +
    `Fourteen 832x768 WSQ files chosen at once to the frame that lists the last one decoded, ${Math.min(cores, 4)} workers: ${ms(cardTime)}\n`;
  fs.writeFileSync(path.join(artifacts, 'timings.txt'), report);
  process.stdout.write(report);
});
