// The page's codec worker: takes the bytes of each file it is sent, decodes WSQ streams,
// opens transactions or makes a WSQ stream of an image, and posts back the
// pixels and facts, then, for a WSQ file, the list's thumbnail of it, and for
// a transaction, one thumbnail a print. It also answers the page's requests
// (a print of a transaction whole, an image made WSQ, a transaction with a
// print replaced): those carry the bytes they need, so the worker keeps nothing.
// Jobs and requests run one after another in the order they arrive (the page
// shares them among several workers), the last message of each saying that it
// is finished; a failure is posted as a message and the next job goes on.
import { ready, decode, decodeAll, encode, gray as grayOf, readTransaction, WsqError } from './wsq/wsq.mjs';

const WSQ_START = [0xff, 0xa0];  // Start-Of-Image marker: the first bytes of every stream
const THUMBNAIL = 96;            // pixels a thumbnail's longer side fits in, where it can
const REDUCTIONS = [1, 2, 4, 8];  // the fractions of each dimension the decoder gives
const DEFAULT_PPI = 500;         // the resolution of a print whose file states none
const MIN_SCAN_PPI = 250;        // below this, a stated resolution is not a print's
const TRANSACTION_NAME = /\.(eft|an2|int)$/i;
const TYPE1_START = /^1\.0*1:\d/;  // a transaction's first field, its Type-1 record's length
const HEAD = 16;                   // bytes of a file looked at to tell what it holds
// Transactions are read tolerating what real files are reported to hold; the
// page says what was tolerated, so that such a file is never taken for a valid one.
const TOLERANT = { tolerant: true };

// The engine compiles the codec fast at first and well only once its code has
// run: a small image coded at start, before any file comes, takes that cost.
// The page is told when the codec is ready, or why it could not load.
let queue = ready.then(warmUp).then(
  () => self.postMessage({ ready: true }),
  (error) => self.postMessage({ ready: false, error: describe(error) }));

function warmUp() {
  const side = 256, pixels = new Uint8Array(side * side);
  for (let i = 0; i < pixels.length; i++) pixels[i] = (i * 7919) % 251;
  decode(encode(pixels, side, side));
}

// A job comes with its file, read as soon as the job comes, or with the
// file's bytes (or why they could not be read), which the page reads while the
// job waits; a failed read is reported as the job's failure. A job's last message says that it is
// finished. The thumbnails of WSQ files are made when the page says that
// every worker is idle, so that they delay no file's view.
const owedThumbnails = [];  // [job id, the file's bytes, its first stream]
self.onmessage = ({ data: job }) => {
  if (job.idle) {
    queue = queue.then(postThumbnails);
    return;
  }
  const read = job.request ? null : job.file?.arrayBuffer();  // while the worker is idle, as it is when files come at once
  read?.catch(() => {});
  queue = queue.then(() => (job.request ? answer(job) : run(job, read)))
    .then(([message, transfer = []]) => self.postMessage({ ...message, finished: true }, transfer));
};

// Runs a job: its last message and what that message transfers.
async function run(job, read) {
  const progress = (stage, fraction) => self.postMessage({ id: job.id, stage, progress: fraction });
  try {
    await ready;
    if (job.replace)  // an edit: the transaction with a record's image replaced by a WSQ stream
      return openTransaction(job.id, replaced(job.replace), true);
    const early = (result) => self.postMessage({ id: job.id, early: result });
    const { name, bytes } = await fileOf(job, read), head = bytes.subarray(0, HEAD);
    if (isTransaction(head, name)) {
      progress('checking', 0.4);
      return openTransaction(job.id, bytes);
    }
    const wsq = isWsq(head, name);
    const result = wsq ? view(bytes, progress) : await convert(bytes, job.settings, progress, early);
    if (wsq) owedThumbnails.push([job.id, bytes, result.streams[0]]);  // before the pixels go
    return [{ id: job.id, result }, transfers(result)];
  } catch (error) {
    return [{ id: job.id, error: describe(error) }];
  }
}

// The name and bytes of a job's file, read or being read.
async function fileOf({ file, name, bytes, unread }, read) {
  if (file) return { name: file.name, bytes: new Uint8Array(await read) };
  if (unread !== undefined) throw new Error(unread);
  return { name, bytes: new Uint8Array(bytes) };
}

// The thumbnails owed, in one message: each {id, preview}, or {id, error}.
function postThumbnails() {
  if (!owedThumbnails.length) return;
  const previews = owedThumbnails.splice(0).map(([id, bytes, stream]) => {
    try {
      return { id, preview: thumbnail(bytes, stream) };
    } catch (error) {
      return { id, error: describe(error) };
    }
  });
  self.postMessage({ previews }, previews.filter((p) => p.preview).map((p) => p.preview.pixels.buffer));
}

// The page's requests, each answered by one reply or an error.
const REQUESTS = {
  // A print whole, its data as stored when that is a WSQ stream, and its resolution.
  print: ({ bytes, image }) => {
    const tx = readTransaction(bytes, TOLERANT);
    const { width, height, pixels } = tx.pixels(image);
    const { compression, ppi } = tx.images[image];
    return { width, height, pixels, wsq: compression === 1 ? tx.data(image) : null, resolution: resolution(ppi) };
  },
  // An image file made WSQ as a conversion is, to be shown beside the print it would replace.
  convert: async ({ file, settings }) =>
    convert(new Uint8Array(await file.arrayBuffer()), settings, () => {}, () => {}),
  encode: ({ pixels, width, height, settings }) => encode(pixels, width, height, { bitrate: settings.bitrate }),
};

async function answer(job) {
  try {
    await ready;
    return [{ id: job.id, reply: await REQUESTS[job.request](job) }];
  } catch (error) {
    return [{ id: job.id, error: describe(error) }];
  }
}

function replaced({ bytes, record, wsq }) {
  const tx = readTransaction(bytes, TOLERANT);
  tx.replace(record, wsq);
  return tx.bytes();
}

// A file is read as a transaction when it starts as one does or has the name of one.
function isTransaction(head, name) {
  return TRANSACTION_NAME.test(name) || TYPE1_START.test(String.fromCharCode(...head));
}

// Posts a transaction's records, images, Type-1 fields and verdict as the result of job
// id, and gives the message that follows: one thumbnail a print, a failed one
// carrying its error instead.
function openTransaction(id, bytes, edited = false) {
  const tx = readTransaction(bytes, TOLERANT);
  const latin1 = new TextDecoder('latin1');
  const type1 = Object.fromEntries(tx.fields(0).map((field) => [field.number, latin1.decode(field.value)]));
  const result = { kind: 'transaction', bytes: tx.bytes(), records: tx.records, images: tx.images, type1,
    verdict: tx.check(), warning: tx.warning, edited };
  self.postMessage({ id, result });
  const thumbnails = tx.images.map((image, index) => {
    try {
      return tx.pixels(index, { reduce: reduction(image.width, image.height) });
    } catch (error) {
      return { error: describe(error) };
    }
  });
  return [{ id, thumbnails }, thumbnails.filter((t) => t.pixels).map((t) => t.pixels.buffer)];
}

// A file is read as WSQ when it starts as a stream does or is named .wsq:
// a damaged .wsq file then gets the decoder's own verdict, not an image error.
function isWsq(head, name) {
  return (head[0] === WSQ_START[0] && head[1] === WSQ_START[1]) || /\.wsq$/i.test(name);
}

function view(bytes, progress) {
  progress('decoding', 0.4);
  const streams = decodeAll(bytes).map((image) => ({
    width: image.width, height: image.height, pixels: image.pixels, facts: image.info,
    resolution: resolution(commentPpi(image.info.comments)),
  }));
  return { kind: 'view', fileBytes: bytes.length, streams };
}

// The first print of a file at the largest of its reduced sizes that fits
// THUMBNAIL pixels (an eighth when none does): the reduced decode rebuilds
// only that much of it.
function thumbnail(bytes, { width, height, facts }) {
  const preview = decode(bytes.subarray(0, facts.streamBytes), { reduce: reduction(width, height) });
  return { width: preview.width, height: preview.height, pixels: preview.pixels };
}

function reduction(width, height) {
  const longer = Math.max(width, height);
  return REDUCTIONS.find((r) => Math.ceil(longer / r) <= THUMBNAIL) ?? REDUCTIONS.at(-1);
}

// The stream and its facts go to the page as soon as they are made; the
// decoded stream and the PSNR, for the comparison, follow.
async function convert(bytes, settings, progress, early) {
  progress('reading image', 0.2);
  const image = await readImage(new Blob([bytes]));
  if (settings.bitrate === null) throw new Error('the bit rate field holds no number above 0: enter one, such as 0.75');
  progress('encoding', 0.4);
  const options = { bitrate: settings.bitrate };
  if (settings.comment) options.comment = settings.comment;
  const gray = grayOf(image);  // the package's rule, as encode(image) applies it
  const wsq = encode(gray, image.width, image.height, options);
  const stated = imagePpi(bytes.subarray(0, 1 << 16));
  const made = { kind: 'convert', fileBytes: bytes.length, width: image.width, height: image.height, gray, wsq, settings,
    resolution: resolution(stated) };
  early(made);
  progress('comparing', 0.8);
  const decoded = decode(wsq);
  return { ...made, decoded: decoded.pixels, psnr: psnr(gray, decoded.pixels) };
}

// The file's pixels as the browser decodes them, RGBA, neither colour-managed nor premultiplied
// by alpha, so that a gray PNG keeps its exact samples and a translucent pixel its colour:
// WebGL hands back the bitmap's own bytes, where a 2D canvas, which stores colours multiplied
// by alpha, would change them. Without WebGL the canvas serves opaque images alone, which it
// keeps exactly.
async function readImage(file) {
  let bitmap;
  try {
    bitmap = await createImageBitmap(file, { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
  } catch {
    throw new Error('this browser cannot read it as an image (PNG, JPEG, BMP, GIF or WebP)');
  }
  try {
    return webglPixels(bitmap) ?? opaqueCanvasPixels(bitmap);
  } finally {
    bitmap.close();
  }
}

// The bitmap's RGBA bytes as a WebGL 2 texture holds them, row after row from the top; null
// when the browser has no WebGL 2, or none for an image of that size.
function webglPixels(bitmap) {
  const { width, height } = bitmap;
  const gl = new OffscreenCanvas(1, 1).getContext('webgl2');
  if (!gl) return null;
  try {
    if (Math.max(width, height) > gl.getParameter(gl.MAX_TEXTURE_SIZE)) return null;
    const texture = gl.createTexture();
    gl.bindTexture(gl.TEXTURE_2D, texture);
    gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA8, gl.RGBA, gl.UNSIGNED_BYTE, bitmap);
    gl.bindFramebuffer(gl.FRAMEBUFFER, gl.createFramebuffer());
    gl.framebufferTexture2D(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.TEXTURE_2D, texture, 0);
    const data = new Uint8Array(4 * width * height);
    gl.readPixels(0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE, data);
    return gl.getError() === gl.NO_ERROR ? { data, width, height } : null;
  } finally {
    gl.getExtension('WEBGL_lose_context')?.loseContext();
  }
}

function opaqueCanvasPixels(bitmap) {
  const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
  const context = canvas.getContext('2d', { willReadFrequently: true });
  context.drawImage(bitmap, 0, 0);
  const image = context.getImageData(0, 0, canvas.width, canvas.height);
  for (let i = 3; i < image.data.length; i += 4) {
    if (image.data[i] !== 255) {
      throw new Error('it has translucent pixels, whose colours this browser reads exactly only ' +
                      'through WebGL 2, which it lacks here: save the image without transparency');
    }
  }
  return image;
}

// The print's resolution in pixels per inch, and whether its file states it. A
// file stating less than a scan's least is taken to state a screen's default
// (72 or 96 ppi, written where nothing was measured), which is kept as unlikely.
function resolution(stated) {
  const likely = stated !== null && stated >= MIN_SCAN_PPI;
  return { ppi: likely ? stated : DEFAULT_PPI, stated: likely, unlikely: likely ? null : stated };
}

// The resolution a WSQ stream's comments state, as a line "PPI 500" (-1: unknown), or null.
function commentPpi(comments) {
  const ppi = comments.map((text) => Number(/^PPI (\d+)$/m.exec(text)?.[1])).find((value) => value > 0);
  return ppi ?? null;
}

// The resolution an image file's header states, or null: a PNG's pHYs chunk
// (in pixels per metre), a JPEG's JFIF header (per inch or per centimetre).
function imagePpi(head) {
  if (head.length < 24) return null;
  const view = new DataView(head.buffer, head.byteOffset, head.length);
  const text = (at, length) => String.fromCharCode(...head.subarray(at, at + length));
  if (text(1, 3) === 'PNG') {
    for (let at = 8; at + 8 <= head.length && text(at + 4, 4) !== 'IDAT'; at += 12 + view.getUint32(at)) {
      if (text(at + 4, 4) === 'pHYs' && at + 17 <= head.length && head[at + 16] === 1)
        return Math.round(view.getUint32(at + 8) * 0.0254);
    }
  } else if (view.getUint16(0) === 0xffd8 && text(6, 5) === 'JFIF\0' && head.length >= 18) {
    const units = head[13], density = view.getUint16(14);
    if (density && units === 1) return density;
    if (density && units === 2) return Math.round(density * 2.54);
  }
  return null;
}

function psnr(original, decoded) {
  let sum = 0;
  for (let i = 0; i < original.length; i++) {
    const d = original[i] - decoded[i];
    sum += d * d;
  }
  return sum === 0 ? Infinity : 10 * Math.log10((255 * 255 * original.length) / sum);
}

function describe(error) {
  if (error instanceof WsqError)
    return { status: error.status, statusName: error.statusName, offset: error.offset, message: error.message };
  return { status: null, message: String(error && error.message || error) };
}

function transfers(result) {
  if (result.kind === 'view') return result.streams.map((s) => s.pixels.buffer);
  return [result.gray.buffer, result.wsq.buffer, result.decoded.buffer];
}
