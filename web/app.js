// The page: takes files from the picker or a drop, hands each to one of the
// codec workers (one a core, at most four, so that the prints of a card are
// decoded side by side), lists their states (and a thumbnail of each WSQ file)
// and shows the one selected: a transaction as its summary, verdict and grid of
// prints, any of which opens whole, is saved, or is replaced by an image dropped on it.
import { Viewer, fillFacts, grayImage } from './view.js';
import { download, grayPng, zip } from './files.js';
import { printFacts as transactionPrintFacts, printName, printTile, summary, verdictText } from './transaction.js';

const $ = (id) => document.getElementById(id);
const LIST_INTERVAL = 100;  // ms between drawings of the list while files are worked on
const AHEAD = 2;  // jobs a worker holds: the one it runs, and the next
const READ_AHEAD = 4;  // files the page reads ahead, a worker, while their jobs wait
const workers = Array.from({ length: Math.min(Math.max(navigator.hardwareConcurrency || 1, 1), 4) }, startWorker);
const viewer = new Viewer();
const items = [];        // in the order chosen
const jobs = new Map();  // job id -> item
const requests = new Map();  // request id -> its promise's {resolve, reject}
const unsent = [];           // jobs and requests that no worker holds yet
let nextId = 1;
let selected = null;     // the item shown
let followNew = true;    // show the next batch's first result until the user picks another
let gridShown = null;    // the transaction whose prints the grid holds
const changedItems = new Set();  // the items the list shows otherwise than they are
const settledBatches = [];       // batches whose last result the list does not show yet
let listFrame = null;            // the frame that draws the list, when one is asked
let listTimer, listDrawnAt = -Infinity;  // the wait for the list's next drawing; the time of its last

// ---- Files in ---------------------------------------------------------------------------------

function add(files) {
  const batch = { chosenAt: performance.now(), shown: false, left: files.length };  // its first result is shown
  for (const file of files) {
    const item = { id: nextId++, file, name: file.name, state: 'queued', progress: 0, batch };
    items.push(item);
    $('list').append(row(item));
    submit(item);
    drawItem(item);  // a new row shows its state at once, the others at the list's next drawing
  }
  followNew = true;
  refresh();
}

function settings() {
  return { bitrate: bitrate(), comment: $('comment').value };
}

// The bit rate the field holds, a number above 0; else null, with the field
// marked invalid and its message shown. The preset it equals shows pressed.
function bitrate() {
  const field = $('bitrate'), value = field.valueAsNumber;  // NaN for empty or other text
  const valid = Number.isFinite(value) && value > 0;
  field.setAttribute('aria-invalid', String(!valid));
  $('bitrate-error').hidden = valid;
  for (const button of document.querySelectorAll('[data-bitrate]'))
    button.setAttribute('aria-pressed', String(Number(button.dataset.bitrate) === value));
  return valid ? value : null;
}

function submit(item) {
  item.job = nextId++;  // the latest job for this item; earlier answers are ignored
  jobs.set(item.job, item);
  Object.assign(item, { state: 'queued', progress: 0, error: null });  // a former result stays shown
  post({ id: item.job, file: item.file, settings: settings() });
  update(item);
}

// Asks a worker for one answer: a promise of its reply, rejected with its error.
function request(name, payload) {
  const id = nextId++;
  post({ request: name, id, ...payload });
  return new Promise((resolve, reject) => requests.set(id, { resolve, reject }));
}

// A worker runs what it is sent one after another and holds at most AHEAD jobs
// or requests; the others wait here, in order, for whichever worker frees
// first, so that one slowed by other work takes fewer. Every message carries
// what it needs, so any worker can take it. The files of the next jobs to go
// (READ_AHEAD a worker) are read here while they wait, and go as their bytes:
// a worker busy decoding would read its next file only once it had finished.
function post(message) {
  unsent.push(message);
  dispatch();
}

function dispatch() {
  for (;;) {
    const worker = workers.reduce((least, w) => (w.jobs < least.jobs ? w : least));
    if (!unsent.length || worker.jobs >= AHEAD) break;
    worker.jobs++;
    send(worker, unsent.shift());
  }
  for (const next of unsent.slice(0, READ_AHEAD * workers.length))
    if (next.file && !next.request) next.reading ??= readFile(next.file).then((got) => { next.got = got; });
}

// A job goes with its file's bytes when the page has read them, else with the file.
function send(worker, { reading, got, ...message }) {
  if (!got) {
    worker.postMessage(message);
    return;
  }
  const { file, ...job } = message;
  worker.postMessage({ ...job, name: file.name, ...got }, got.bytes ? [got.bytes] : []);
}

// A file's bytes, {bytes}, or why they could not be read, {unread}.
async function readFile(file) {
  try {
    return { bytes: await file.arrayBuffer() };
  } catch (error) {
    return { unread: error.message };
  }
}

function startWorker() {
  const worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
  worker.jobs = 0;
  worker.onmessage = ({ data }) => {
    if ('ready' in data) {
      codecState(data.ready ? 'ready' : 'failed', data.ready ? 'The codec is ready.' : `The codec could not be loaded: ${data.error.message}`);
      return;
    }
    if (data.finished) {
      worker.jobs--;
      dispatch();
    }
    const asked = requests.get(data.id);
    if (asked) {
      requests.delete(data.id);
      if (data.error) asked.reject(data.error);
      else asked.resolve(data.reply);
      return;
    }
    for (const message of data.previews ?? [data]) received(message);
  };
  // The module could not start (an old browser, or the package missing): every
  // waiting file fails with that reason.
  worker.onerror = (event) => {
    event.preventDefault();
    codecState('failed', 'The codec could not be loaded.');
    for (const item of items)
      if (item.state !== 'done' && item.state !== 'failed') fail(item, { status: null, message: `the codec could not be loaded (${event.message || 'worker error'})` });
    refresh();
  };
  return worker;
}

// Takes a message about a job; one about a job its item has since replaced is ignored.
function received(data) {
  const item = jobs.get(data.id);
  if (!item || item.job !== data.id) return;
  if (data.result) finish(item, data.result);
  else if (data.preview) showPreview(item, data.preview);
  else if (data.thumbnails) showThumbnails(item, data.thumbnails);
  else if (data.early) early(item, data.early);
  else if (data.error) fail(item, data.error);
  else Object.assign(item, { state: data.stage, progress: data.progress });
  update(item);
}

function codecState(state, text) {
  $('codec-state').dataset.state = state;
  $('codec-state').textContent = text;
}

function early(item, result) {
  Object.assign(item, { state: 'comparing', progress: 0.9, result });
  present(item);
}

function finish(item, result) {
  const comparing = item.state === 'comparing';
  Object.assign(item, { state: 'done', progress: 1, result, stream: 0, print: null, pending: null, thumbnails: null });
  present(item, comparing);
  if (item.reopen !== undefined) openPrint(item, item.reopen);  // the print just replaced
  item.reopen = undefined;
  settled(item);
}

// The time from choosing a batch of files to the frame that lists the last of
// their results goes to the performance timeline too.
function settled(item) {
  if (--item.batch.left === 0) settledBatches.push(item.batch);
}

// The first result of the latest batch is shown, unless the user chose
// another; a result shown early is shown again when complete. The times from
// choosing to the frame that paints each go to the performance timeline.
function present(item, comparing = false) {
  if (item === selected) show();
  else if (!item.batch.shown && followNew) select(item);
  else return;
  const shownFirst = !item.batch.shown;
  item.batch.shown = true;
  const name = { view: 'wsq-view', transaction: 'wsq-transaction' }[item.result.kind] ??
    (comparing ? 'wsq-compare' : 'wsq-convert');
  if (shownFirst || comparing) requestAnimationFrame(() => performance.measure(name,
    { start: item.batch.chosenAt, end: performance.now(), detail: { name: item.name } }));
}

function fail(item, error) {
  const settling = item.state !== 'done';  // a thumbnail can still fail after the view
  Object.assign(item, { state: 'failed', progress: 1, error });
  if (settling) settled(item);
  update(item);
  report(item.name, error, item.id);
}

// A failure in the messages' list; the file's item is unchanged. A file's
// failure (order: its item's id) goes in the order the files were chosen,
// whichever worker finished first; others go last.
function report(name, error, order = Infinity) {
  const entry = document.createElement('li');
  entry.textContent = failureText(name, error);
  entry.dataset.order = order;
  const later = [...$('messages').children].find((other) => Number(other.dataset.order) > order);
  $('messages').insertBefore(entry, later ?? null);
}

// "name: status name (status N, byte B): message", from the library's error.
function failureText(name, error) {
  if (error.status === null) return `${name}: ${error.message}`;
  const where = error.offset ? `, byte ${error.offset}` : '';
  return `${name}: ${error.statusName} (status ${error.status}${where}): ${error.message}`;
}

// ---- The list ---------------------------------------------------------------------------------

function row(item) {
  const li = document.createElement('li');
  li.id = `item-${item.id}`;
  const open = document.createElement('button');
  open.type = 'button';
  open.className = 'item-name';
  open.textContent = item.name;
  open.disabled = true;
  open.addEventListener('click', () => { followNew = false; select(item); });
  const state = document.createElement('span');
  state.className = 'state';
  const progress = document.createElement('progress');
  progress.max = 1;
  progress.setAttribute('aria-label', `Progress of ${item.name}`);
  li.append(open, state, progress);
  return li;
}

// The thumbnail of a WSQ file, drawn at its own size before the name.
function showPreview(item, { pixels, width, height }) {
  const canvas = document.createElement('canvas');
  Object.assign(canvas, { className: 'preview', width, height });
  canvas.setAttribute('role', 'img');
  canvas.setAttribute('aria-label', `Preview of ${item.name}`);
  canvas.getContext('2d').putImageData(grayImage(pixels, width, height), 0, 0);
  $(`item-${item.id}`)?.prepend(canvas);
}

// The list is drawn again in a frame, with the items changed since it was
// last: at the next frame when no worker has a job, else at most every
// LIST_INTERVAL ms, so that the frames of a batch leave the cores to decoding.
function update(item) {
  changedItems.add(item);
  refresh();
}

function refresh() {
  if (listFrame !== null) return;
  clearTimeout(listTimer);
  const wait = workers.some((w) => w.jobs) ? listDrawnAt + LIST_INTERVAL - performance.now() : 0;
  if (wait > 0) listTimer = setTimeout(refresh, wait);
  else listFrame = requestAnimationFrame(drawList);
}

function drawList(now) {
  listFrame = null;
  listDrawnAt = now;
  for (const item of changedItems) drawItem(item);
  changedItems.clear();
  drawSummary();
  for (const batch of settledBatches.splice(0))
    performance.measure('wsq-batch', { start: batch.chosenAt, end: performance.now() });
  // Once the list shows every result, each worker makes the thumbnails it owes:
  // made then, they delay no file.
  if (!workers.some((w) => w.jobs)) for (const worker of workers) worker.postMessage({ idle: true });
}

function drawItem(item) {
  const li = $(`item-${item.id}`);
  if (!li) return;
  li.dataset.state = item.state === 'done' || item.state === 'failed' ? item.state : 'working';
  li.querySelector('.item-name').disabled = item.state !== 'done';
  li.querySelector('.state').textContent = item.error ? `failed: ${item.error.statusName || item.error.message}` : describeState(item);
  li.querySelector('progress').value = item.progress;
  li.querySelector('.item-name').setAttribute('aria-current', String(item === selected));
}

function describeState(item) {
  if (item.state !== 'done') return item.state;
  const r = item.result;
  if (r.kind === 'transaction')
    return `transaction, ${r.images.length} images, ${r.verdict.valid && !r.warning ? 'valid' : 'not valid'}${r.edited ? ', edited' : ''}`;
  return r.kind === 'view' ? `WSQ, ${r.streams.length > 1 ? `${r.streams.length} images` : `${r.streams[0].width} x ${r.streams[0].height}`}`
    : `made WSQ, ${r.wsq.length} bytes`;
}

function drawSummary() {
  const done = items.filter((i) => i.state === 'done').length, failed = items.filter((i) => i.error).length;
  $('summary').textContent = items.length ? `(${done} done${failed ? `, ${failed} failed` : ''} of ${items.length})` : '';
  $('save-all').disabled = done === 0;
  $('clear').disabled = items.length === 0;
}

// ---- Showing ----------------------------------------------------------------------------------

function select(item) {
  const previous = selected;
  selected = item;
  if (previous) update(previous);
  update(item);
  show();
}

function show() {
  const item = selected, r = item.result;
  $('transaction').hidden = r.kind !== 'transaction';
  for (const id of ['replace', 'replace-actions']) $(id).hidden = true;
  if (r.kind === 'transaction') {
    showTransaction(item);
    return;
  }
  if (r.kind === 'view') {
    const stream = r.streams[item.stream], count = r.streams.length;
    viewer.showPrint(item.name, stream, count > 1 ? `Image ${item.stream + 1} of ${count}` : `${stream.width} x ${stream.height} pixels`,
      stream.resolution);
    viewer.setFacts(printFacts(r, stream));
    $('stream-field').hidden = count < 2;
    $('stream').replaceChildren(...r.streams.map((s, i) => new Option(`${i + 1} of ${count}`, i, false, i === item.stream)));
  } else {
    viewer.showConversion(`${item.name} as WSQ`, r);
    viewer.setFacts(conversionFacts(r));
    $('stream-field').hidden = true;
  }
}

// ---- Transactions -----------------------------------------------------------------------------

function showTransaction(item) {
  const r = item.result;
  if (!item.print) viewer.clear();
  $('viewer-title').textContent = item.name;
  $('placeholder').hidden = $('stream-field').hidden = true;
  $('tx-verdict').textContent = verdictText(r.verdict, r.warning);
  $('tx-verdict').dataset.valid = r.verdict.valid && !r.warning;
  fillFacts($('tx-summary'), summary(r));
  if (gridShown !== r) {  // built again only for another transaction, so that focus stays where it was
    gridShown = r;
    const actions = { open: (index) => openPrint(item, index), replace: (index, file) => prepareReplacement(item, index, file) };
    $('tx-grid').replaceChildren(...r.images.map((image, index) => printTile(image, index, actions)));
    if (item.thumbnails) drawThumbnails(item);
  }
  if (!item.print) return;
  const image = r.images[item.print.index], name = printName(image);
  const caption = `${name}: ${item.print.width} x ${item.print.height} pixels`;
  if (item.pending) {
    const p = item.pending;
    viewer.showPrints(`${item.name}: replace the ${name}?`, [
      { caption: `Now: ${caption}`, ...item.print },
      { caption: `Replacement: ${p.name}, as WSQ at ${p.settings.bitrate} bits per pixel, decoded (${p.width} x ${p.height})`,
        pixels: p.decoded, width: p.width, height: p.height },
    ], item.print.resolution);
    viewer.setFacts(conversionFacts(p));
    $('replace-actions').hidden = false;
  } else {
    viewer.showPrint(`${item.name}: ${name}`, item.print, caption, item.print.resolution);
    viewer.setFacts(transactionPrintFacts(image));
    $('save-wsq').hidden = $('replace').hidden = false;
  }
}

// The thumbnails, drawn at their own size in the grid's tiles; the time from
// choosing the file to the frame that shows them all goes to the timeline.
function showThumbnails(item, thumbnails) {
  item.thumbnails = thumbnails;
  if (item !== selected) return;
  drawThumbnails(item);
  requestAnimationFrame(() => performance.measure('wsq-transaction-thumbnails',
    { start: item.batch.chosenAt, end: performance.now(), detail: { name: item.name } }));
}

function drawThumbnails(item) {
  const canvases = $('tx-grid').querySelectorAll('canvas.thumb');
  item.thumbnails.forEach((thumbnail, index) => {
    const canvas = canvases[index];
    if (thumbnail.error) {
      canvas.title = failureText(printName(item.result.images[index]), thumbnail.error);
      canvas.dataset.failed = '';
      return;
    }
    Object.assign(canvas, { width: thumbnail.width, height: thumbnail.height });
    canvas.getContext('2d').putImageData(grayImage(thumbnail.pixels, thumbnail.width, thumbnail.height), 0, 0);
    canvas.dataset.drawn = '';
  });
}

// Opens print index of a transaction whole, in the viewer below the grid.
async function openPrint(item, index) {
  try {
    const print = await request('print', { bytes: item.result.bytes, image: index });
    Object.assign(item, { print: { index, ...print }, pending: null });
    if (item === selected) show();
    $('panes').scrollIntoView({ block: 'nearest' });
  } catch (error) {
    report(`${item.name}, ${printName(item.result.images[index])}`, error);
  }
}

// An image file made WSQ with the settings and shown beside the print it would replace.
async function prepareReplacement(item, index, file) {
  followNew = false;
  if (item !== selected) select(item);
  try {
    if (item.print?.index !== index) await openPrint(item, index);
    const made = await request('convert', { file, settings: settings() });
    item.pending = { name: file.name, ...made };
    if (item === selected) show();
  } catch (error) {
    report(file.name, error);
  }
}

// Puts the replacement shown into the transaction: the worker answers with the
// transaction anew, as when it was opened.
function applyReplacement(item) {
  const { index } = item.print;
  Object.assign(item, { reopen: index, batch: { chosenAt: performance.now(), shown: true, left: 1 } });
  item.job = nextId++;
  jobs.set(item.job, item);
  Object.assign(item, { state: 'replacing', progress: 0.5 });
  post({ id: item.job, replace: { bytes: item.result.bytes, record: item.result.images[index].record, wsq: item.pending.wsq } });
  update(item);
}

// The file name of a transaction's print: the transaction's, its record and position.
function printFileName(item, extension) {
  const image = item.result.images[item.print.index];
  return `${stem(item.name)}-record${image.record}-${printName(image).replace(/[^a-z0-9]+/gi, '-')}.${extension}`;
}

const ratio = (pixels, bytes) => `${(pixels / bytes).toFixed(1)} : 1`;
const bpp = (bytes, pixels) => (8 * bytes / pixels).toFixed(3);

function printFacts(result, stream) {
  const f = stream.facts, pixels = stream.width * stream.height;
  const comments = f.comments.length ? commentList(f.comments) : 'none';
  return [
    ['Size', `${stream.width} x ${stream.height} pixels`],
    ['Resolution', resolutionText(stream.resolution, stream.width, stream.height)],
    ['Stream', `${f.streamBytes} bytes${result.streams.length > 1 ? ` (file ${result.fileBytes} bytes)` : ''}`],
    ['Bits per pixel', bpp(f.streamBytes, pixels)],
    ['Compression ratio', ratio(pixels, f.streamBytes)],
    ['Calibrations', `black ${f.black}, white ${f.white}`],
    ['Pixel normalisation', `mid-point ${+f.midpoint.toPrecision(6)}, rescale ${+f.rescale.toPrecision(6)}`],
    ['Encoder', `parameterization ${f.encoder}, software ${f.software}`],
    ['Comments', comments],
  ];
}

function conversionFacts(r) {
  const pixels = r.width * r.height;
  return [
    ['Image', `${r.width} x ${r.height} pixels, file ${r.fileBytes} bytes`],
    ['Resolution', resolutionText(r.resolution, r.width, r.height)],
    ['WSQ', `${r.wsq.length} bytes at a set bit rate of ${r.settings.bitrate}`],
    ['Bits per pixel', bpp(r.wsq.length, pixels)],
    ['Compression ratio', `${ratio(pixels, r.wsq.length)} (against ${pixels} bytes of gray pixels)`],
    ['PSNR', r.psnr === undefined ? 'being measured' : Number.isFinite(r.psnr) ? `${r.psnr.toFixed(2)} dB` : 'identical'],
    ['Comment', r.settings.comment || 'none'],
  ];
}

function resolutionText({ ppi, stated, unlikely }, width, height) {
  const mm = (pixels) => (pixels * 25.4 / ppi).toFixed(1);
  const source = stated ? 'as the file states'
    : unlikely ? `assumed: the file's ${unlikely} ppi is a screen's, not a scan's` : 'assumed';
  return `${ppi} ppi (${source}): ${mm(width)} x ${mm(height)} mm`;
}

function commentList(comments) {
  const list = document.createElement('ol');
  list.className = 'comments';
  for (const text of comments) {
    const li = document.createElement('li');
    li.textContent = text;
    list.append(li);
  }
  return list;
}

// ---- Saving -----------------------------------------------------------------------------------

const stem = (name) => name.replace(/\.[^./]*$/, '');

async function outputs(item) {
  const r = item.result;
  if (r.kind === 'transaction') return [{ name: item.name, bytes: r.bytes }];
  if (r.kind === 'convert') return [{ name: `${stem(item.name)}.wsq`, bytes: r.wsq }];
  const many = r.streams.length > 1;
  return Promise.all(r.streams.map(async (s, i) => ({
    name: `${stem(item.name)}${many ? `-${i + 1}` : ''}.png`, bytes: await grayPng(s.pixels, s.width, s.height),
  })));
}

async function saveAll() {
  const done = items.filter((i) => i.state === 'done');
  const entries = unique((await Promise.all(done.map(outputs))).flat());
  if (entries.length === 1) download(entries[0].bytes, entries[0].name, 'application/octet-stream');
  else download(zip(entries), 'wsq-results.zip', 'application/zip');
}

// Files of the same name in one archive get -2, -3, ... before the extension.
function unique(entries) {
  const seen = new Map();
  return entries.map(({ name, bytes }) => {
    const n = (seen.get(name) || 0) + 1;
    seen.set(name, n);
    return { name: n === 1 ? name : name.replace(/(\.[^.]*)?$/, `-${n}$1`), bytes };
  });
}

// ---- Controls ---------------------------------------------------------------------------------

$('choose').addEventListener('click', () => $('files').click());
$('files').addEventListener('change', (e) => {
  add([...e.target.files]);
  e.target.value = '';
});

for (const type of ['dragenter', 'dragover']) document.addEventListener(type, (e) => {
  e.preventDefault();
  $('drop').classList.add('over');
});
document.addEventListener('dragleave', (e) => { if (!e.relatedTarget) $('drop').classList.remove('over'); });
document.addEventListener('drop', (e) => {
  e.preventDefault();
  $('drop').classList.remove('over');
  add([...e.dataTransfer.files]);
});

for (const button of document.querySelectorAll('[data-bitrate]'))
  button.addEventListener('click', () => {
    $('bitrate').value = button.dataset.bitrate;
    bitrate();
  });
$('bitrate').addEventListener('input', bitrate);
for (const name of ['invert', 'stretch']) $(name).addEventListener('click', () => viewer.toggleLook(name));
for (const button of document.querySelectorAll('[data-zoom]'))
  button.addEventListener('click', () => viewer.setZoom(button.dataset.zoom));
for (const button of document.querySelectorAll('[data-compare]'))
  button.addEventListener('click', () => viewer.setCompare(button.dataset.compare));

$('stream').addEventListener('change', (e) => {
  selected.stream = Number(e.target.value);
  show();
});
$('save-png').addEventListener('click', async () => {
  const r = selected.result;
  if (r.kind === 'transaction') {
    const { pixels, width, height } = selected.print;
    download(await grayPng(pixels, width, height), printFileName(selected, 'png'), 'image/png');
    return;
  }
  const pixels = r.kind === 'view' ? r.streams[selected.stream] : { pixels: r.decoded, width: r.width, height: r.height };
  const name = r.kind === 'view' ? (await outputs(selected))[selected.stream].name : `${stem(selected.name)}.wsq.png`;
  download(await grayPng(pixels.pixels, pixels.width, pixels.height), name, 'image/png');
});
$('save-wsq').addEventListener('click', async () => {
  if (selected.result.kind === 'transaction') {
    const { pixels, width, height, wsq } = selected.print;
    const bytes = wsq ?? await request('encode', { pixels, width, height, settings: settings() }).catch((error) => {
      report(printFileName(selected, 'wsq'), error);
    });
    if (bytes) download(bytes, printFileName(selected, 'wsq'), 'application/octet-stream');
    return;
  }
  const [entry] = await outputs(selected);
  download(entry.bytes, entry.name, 'application/octet-stream');
});
$('reencode').addEventListener('click', () => {
  if (bitrate() === null) {
    $('bitrate').focus();
    return;
  }
  selected.batch = { chosenAt: performance.now(), shown: false, left: 1 };
  followNew = true;
  submit(selected);
});
$('save-all').addEventListener('click', saveAll);
$('save-tx').addEventListener('click', () => download(selected.result.bytes, selected.name, 'application/octet-stream'));
$('replace').addEventListener('click', () => $('replace-file').click());
$('replace-file').addEventListener('change', (e) => {
  if (e.target.files.length) prepareReplacement(selected, selected.print.index, e.target.files[0]);
  e.target.value = '';
});
$('apply-replace').addEventListener('click', () => applyReplacement(selected));
$('cancel-replace').addEventListener('click', () => {
  selected.pending = null;
  show();
});
$('clear').addEventListener('click', () => {
  items.length = 0;
  jobs.clear();
  selected = null;
  $('list').replaceChildren();
  $('messages').replaceChildren();
  viewer.clear();
  $('transaction').hidden = true;
  gridShown = null;
  refresh();
});
