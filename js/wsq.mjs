/* wsq: WSQ gray-scale fingerprint image compression in JavaScript, through libwsq compiled to
 * WebAssembly. The streams are byte for byte those of the wsq1 program, the pixels those of
 * every other build of the library.
 *
 *     import { ready, encode, decode, info } from 'wsq';
 *     await ready;
 *     const stream = encode(gray, width, height, { bitrate: 0.75 });
 *     const { width, height, pixels } = decode(stream);
 *     const preview = decode(stream, { reduce: 8 });  // an eighth of each dimension, fast
 *
 * The module loads libwsq.wasm from beside itself (a file in Node, a fetch elsewhere) in the
 * first microtask after it is imported, unless init() is handed the WebAssembly first: its
 * bytes, a compiled module, a URL or a fetch Response. The calls run on the calling thread;
 * in a page, a worker keeps long ones off the main thread. */
import createLibwsq from './libwsq.mjs';

const defaultWasm = new URL('libwsq.wasm', import.meta.url);

/** The library's statuses (wsq_status in wsq.h): 1 to 11 tell what is wrong with a stream, 12
 * that memory ran out, 13 to 15 what the encoder refused, 32 to 49 the flaws of a transaction
 * file (transaction.h). */
export const Status = Object.freeze({
  OK: 0, NOT_WSQ: 1, TRUNCATED: 2, MARKER: 3, SEGMENT: 4, FRAME: 5, TRANSFORM: 6,
  QUANTIZATION: 7, HUFFMAN: 8, BLOCK: 9, TRAILING: 10, LIMIT: 11, MEMORY: 12, ARGUMENT: 13,
  IMAGE: 14, BITRATE: 15, BAD_TAG: 32, LEN_NOT_FIRST: 33, LEN_NOT_NUMERIC: 34, LEN_PAST_END: 35,
  FS_MISSING: 36, LEN_MISMATCH: 37, BINARY_LEN_SHORT: 38, CNT_MALFORMED: 39, CNT_COUNT: 40,
  TRAILING_BYTES: 41, CNT_MISMATCH: 42, IDC_DUPLICATE: 43, MANDATORY_MISSING: 44, CGA_UNKNOWN: 45,
  HLL_VLL_MISMATCH: 46, WSQ_BAD: 47, RAW_SIZE_MISMATCH: 48, BAD_VALUE: 49,
});

let lib = null;
let loading = null;

/** A failure of the codec: the library's status and its name, the byte offset of the flaw in
 * the input (decoding; 0 otherwise) and the library's message in words. */
export class WsqError extends Error {
  constructor(status, offset, message) {
    super(message);
    this.name = 'WsqError';
    this.status = status;
    this.statusName = lib ? lib.text(lib.exports._wsq_strerror(status)) : 'unknown status';
    this.offset = offset;
  }
}

function argumentError(message) {
  return new WsqError(Status.ARGUMENT, 0, message);
}

/** Loads the WebAssembly, from source when given (bytes, a WebAssembly.Module, a URL or its
 * text, a Response or a promise of one), else from libwsq.wasm beside this module. The first
 * call decides; later ones return the same promise, unless that load failed. */
export function init(source) {
  if (!loading) {
    loading = instantiate(source ?? defaultWasm).catch((failure) => {
      loading = null;
      throw failure;
    });
  }
  return loading;
}

/** Resolves when the module is usable. */
export const ready = Promise.resolve().then(() => init());

async function instantiate(source) {
  const compiled = await compile(await source);
  let failed;
  const failure = new Promise((resolve, reject) => { failed = reject; });
  const exports = await Promise.race([failure, createLibwsq({
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(compiled, imports)
        .then((instance) => receive(instance, compiled), failed);
      return {};
    },
  })]);
  const decoder = new TextDecoder();
  lib = {
    exports,
    text: (pointer) => {
      const heap = exports.HEAPU8;
      const start = pointer >>> 0;
      return decoder.decode(heap.subarray(start, heap.indexOf(0, start)));
    },
  };
}

async function compile(source) {
  if (source instanceof WebAssembly.Module) return source;
  if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) {
    return WebAssembly.compile(source);
  }
  if (typeof Response !== 'undefined' && source instanceof Response) {
    return compileResponse(source);
  }
  const url = new URL(source, import.meta.url);
  if (url.protocol === 'file:') {
    const fs = 'node:fs/promises';
    const { readFile } = await import(/* webpackIgnore: true */ /* @vite-ignore */ fs);
    return WebAssembly.compile(await readFile(url));
  }
  return compileResponse(await fetch(url));
}

/* Compiles while the bytes arrive where the server names them application/wasm. */
async function compileResponse(response) {
  if (!response.ok) throw new Error(`wsq: cannot load ${response.url}: ${response.status}`);
  if (WebAssembly.compileStreaming &&
      response.headers.get('Content-Type')?.startsWith('application/wasm')) {
    return WebAssembly.compileStreaming(response);
  }
  return WebAssembly.compile(await response.arrayBuffer());
}

function module() {
  if (!lib) throw new Error('wsq: the module is not loaded yet: await ready first');
  return lib.exports;
}

/* Copies bytes into the module's memory for the duration of use(pointer). */
function withBytes(bytes, use) {
  const m = module();
  const pointer = m._malloc(Math.max(bytes.length, 1)) >>> 0;
  if (!pointer) throw new WsqError(Status.MEMORY, 0, 'out of memory');
  try {
    m.HEAPU8.set(bytes, pointer);
    return use(pointer);
  } finally {
    m._free(pointer);
  }
}

/* Throws the failure the last call reported, its offset counted from base. */
function check(status, base = 0) {
  if (status !== Status.OK) {
    const m = module();
    const failure = new WsqError(status, base + m._wsqjs_offset(), lib.text(m._wsqjs_message()));
    m._wsqjs_release();
    throw failure;
  }
}

/* The bytes the last call left, copied out of the module's memory, which is then released. */
function takeResult() {
  const m = module();
  const start = m._wsqjs_data() >>> 0;
  const bytes = m.HEAPU8.slice(start, start + m._wsqjs_size());
  m._wsqjs_release();
  return bytes;
}

const encodeSettings = ['bitrate', 'black', 'white', 'comment', 'threads', 'deep'];
const decodeSettings = ['maxPixels', 'threads', 'reduce'];

function settings(options, known) {
  if (options === undefined || options === null) return {};
  if (typeof options !== 'object') throw argumentError('the options must be an object');
  const unknown = Object.keys(options).filter((name) => !known.includes(name));
  if (unknown.length) throw argumentError(`unknown option ${unknown[0]}: use ${known.join(', ')}`);
  return options;
}

function int32(value, what) {
  if (!Number.isInteger(value) || value < -0x80000000 || value > 0x7fffffff) {
    throw argumentError(`${what} must be an integer, not ${String(value)}`);
  }
  return value;
}

function isPixels(value) {
  return value instanceof Uint8Array || value instanceof Uint8ClampedArray;
}

/* The image argument of encode(): gray pixels (8 or 16 bits) with their dimensions, or an
 * ImageData-like object of RGBA pixels. */
function image(pixels, width, height, options) {
  if (isPixels(pixels) || pixels instanceof Uint16Array) {
    return { data: pixels, channels: 1, width, height, options };
  }
  if (pixels && isPixels(pixels.data) && typeof width !== 'number') {
    return { data: pixels.data, channels: 4, width: pixels.width, height: pixels.height,
             options: width };
  }
  throw argumentError('the pixels must be a Uint8Array or Uint8ClampedArray of gray samples, ' +
                      'a Uint16Array of deep ones, or an ImageData-like object ' +
                      '{data, width, height} of RGBA samples');
}

/* The 8-bit samples encode() codes: deep (16-bit) ones scaled to 0-255, v x 255 / 65535
 * rounded, when deep is 'scale', and refused otherwise in the words of every binding. */
function eightBits(samples, deep) {
  if (deep !== 'refuse' && deep !== 'scale') {
    throw argumentError(`deep must be "refuse" or "scale", not ${JSON.stringify(deep)}`);
  }
  if (!(samples instanceof Uint16Array)) return samples;
  if (deep === 'refuse') {
    throw argumentError('the image has 16 bits a sample, and WSQ codes 8: set the option deep ' +
                        'to "scale" to scale its values to 0-255 (v x 255 / 65535, rounded)');
  }
  return Uint8Array.from(samples, (value) => Math.floor((value * 510 + 65535) / 131070));
}

/* The comment as the NUL-terminated text the library takes, and its length. */
function commentText(comment) {
  if (comment === undefined || comment === null) return null;
  let bytes = comment;
  if (typeof comment === 'string') bytes = new TextEncoder().encode(comment);
  else if (!(comment instanceof Uint8Array)) {
    throw argumentError('the comment must be a string or a Uint8Array');
  }
  const text = new Uint8Array(bytes.length + 1);
  text.set(bytes);
  return text;
}

/** Compresses an image into one WSQ stream, the bytes wsq1 writes for the same pixels and
 * settings. */
export function encode(pixels, width, height, options) {
  const picture = image(pixels, width, height, options);
  const { bitrate = 0.75, black = 0, white = 255, comment, threads = 1, deep = 'refuse' } =
    settings(picture.options, encodeSettings);
  if (typeof bitrate !== 'number') throw argumentError('the bitrate must be a number');
  const columns = int32(picture.width, 'the width'), rows = int32(picture.height, 'the height');
  const count = picture.channels * columns * rows;
  if (picture.data.length !== count) {
    const kind = picture.channels === 1 ? 'gray' : 'RGBA';
    throw argumentError(`a ${columns} x ${rows} image has ${count} ${kind} samples, ` +
                        `not ${picture.data.length}`);
  }
  const samples = eightBits(picture.data, deep);
  const text = commentText(comment);
  const m = module();
  return withBytes(samples, (at) => withBytes(text ?? [], (commentAt) => {
    check(m._wsqjs_encode(at, samples.length, picture.channels, columns, rows,
                          bitrate, int32(black, 'black'), int32(white, 'white'),
                          text ? commentAt : 0, text ? text.length - 1 : 0,
                          int32(threads, 'threads')));
    return takeResult();
  }));
}

/** The gray pixels encode() codes for an ImageData-like object {data, width, height} of RGBA
 * samples: the library's rule, gray = (19595 R + 38470 G + 7471 B + 32768) >> 16. */
export function gray(imageData) {
  const picture = image(imageData);
  const count = picture.width * picture.height;
  if (picture.channels !== 4 || !(count >= 0) || picture.data.length !== 4 * count) {
    throw argumentError('gray() takes an ImageData-like object {data, width, height} holding ' +
                        '4 RGBA samples a pixel');
  }
  const m = module();
  return withBytes(picture.data, (at) => withBytes(new Uint8Array(count), (out) => {
    check(m._wsq_gray_from_color(out, at, count, 4));
    return m.HEAPU8.slice(out, out + count);
  }));
}

function byteArray(data) {
  if (data instanceof ArrayBuffer) return new Uint8Array(data);
  if (ArrayBuffer.isView(data)) {
    return new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
  }
  throw argumentError('WSQ data must be a Uint8Array, another ArrayBuffer view or an ArrayBuffer');
}

/* The facts of each stream of data (in the module's memory at at), in turn, its segments
 * checked as decoding checks them, with the offset where it starts: a caller that decodes each
 * before taking the next refuses data for its first flaw (wsq.h, Verdicts). */
function* streams(at, size) {
  const m = module();
  let offset = 0;
  do {
    check(m._wsqjs_info(at + offset, size - offset), offset);
    const facts = JSON.parse(lib.text(m._wsqjs_facts()));
    facts.comments = comments(at + offset, size - offset, facts.comments);
    facts.bitsPerPixel = facts.streamBytes * 8 / (facts.width * facts.height);
    yield { offset, facts };
    offset += facts.streamBytes;
  } while (offset < size);
}

function comments(at, size, count) {
  const m = module();
  const decoder = new TextDecoder();
  const texts = [];
  for (let index = 0; index < count; ++index) {
    check(m._wsqjs_comment(at, size, index));
    const start = m._wsqjs_data() >>> 0;
    texts.push(decoder.decode(m.HEAPU8.subarray(start, start + m._wsqjs_size())));
  }
  return texts;
}

/* Calls use(at, size, found) with data copied into the module's memory and found the
 * iterable of its streams, each located as it is taken. Given the name of the call for
 * several streams, use takes the first alone, and data of more than one is then refused. */
function withStreams(data, use, callForSeveral) {
  const bytes = byteArray(data);
  return withBytes(bytes, (at) => {
    const found = streams(at, bytes.length);
    if (!callForSeveral) return use(at, bytes.length, found);
    const first = found.next().value;
    const results = use(at, bytes.length, [first]);
    const count = 1 + [...found].length;
    if (count > 1) {
      throw new WsqError(Status.ARGUMENT, first.facts.streamBytes, `the data holds ${count} ` +
                         `streams back to back: ${callForSeveral} takes them, one result each`);
    }
    return results;
  });
}

function decodeStreams(data, options, callForSeveral) {
  const { maxPixels, threads = 1, reduce = 1 } = settings(options, decodeSettings);
  if (maxPixels !== undefined && !(Number.isInteger(maxPixels) && maxPixels >= 0)) {
    throw argumentError('maxPixels must be an integer, 0 or more');
  }
  int32(threads, 'threads');
  int32(reduce, 'reduce');
  const m = module();
  return withStreams(data, (at, size, found) => Array.from(found, ({ offset, facts }) => {
    check(m._wsqjs_decode(at + offset, size - offset, maxPixels ?? -1, threads, reduce), offset);
    const width = m._wsqjs_width(), height = m._wsqjs_height();
    return { width, height, pixels: takeResult(), info: facts };
  }), callForSeveral);
}

/** Rebuilds the pixels of WSQ data holding one stream: {width, height, pixels, info}. Data of
 * several streams back to back is refused with Status.ARGUMENT: decodeAll() decodes those.
 * With reduce 2, 4 or 8 the pixels are a preview at that fraction of each dimension, rounded
 * up; info keeps the stream's own width and height. */
export function decode(data, options) {
  return decodeStreams(data, options, 'decodeAll()')[0];
}

/** decode() for data of any number of streams back to back: an array, one image a stream,
 * decoded in order: a failure is the first flaw of data. */
export function decodeAll(data, options) {
  return decodeStreams(data, options);
}

const allFacts = (at, size, found) => Array.from(found, (stream) => stream.facts);

/** The header facts and comments of WSQ data holding one stream, read without decoding; data
 * of several streams is refused as decode() refuses it. */
export function info(data) {
  return withStreams(data, allFacts, 'infoAll()')[0];
}

/** info() for data of any number of streams back to back: an array, one object a stream. */
export function infoAll(data) {
  return withStreams(data, allFacts);
}

/** The version of the library, "MAJOR.MINOR.PATCH". */
export function version() {
  const m = module();
  return lib.text(m._wsq_version());
}

/** Bytes of the module's memory its allocator holds: constant across calls, since every
 * call releases what it took. */
export function memoryInUse() {
  return module()._wsqjs_heap_in_use();
}

/* ---- Transactions ------------------------------------------------------------------------- */

const WSQ = 1, NONE = 0;  // compression codes of image records
const RS = 0x1e, US = 0x1f;  // the separators of subfields and of items in a field's value

/* The runs of bytes between separators, copied: one pass, however many there are. */
function split(bytes, separator) {
  const parts = [];
  for (let start = 0, end; start <= bytes.length; start = end + 1) {
    end = bytes.indexOf(separator, start);
    if (end < 0) end = bytes.length;
    parts.push(bytes.slice(start, end));
  }
  return parts;
}

/* The JSON text the last call left, parsed; the module's memory is then released. */
function takeIndex() {
  return JSON.parse(new TextDecoder().decode(takeResult()));
}

/** A transaction file (.an2, .eft, .int) as records, fields and images, checked, edited and
 * written: made by readTransaction(). Edits change it in place; the indices and offsets of
 * records and images read before an edit may no longer hold after it. */
export class Transaction {
  #bytes;
  #tolerant;
  #index;
  #warning = null;

  constructor(bytes, tolerant = false) {
    this.#bytes = bytes;
    this.#tolerant = tolerant ? 1 : 0;
    this.#read();
    const warning = this.#index.warning;
    if (warning) {  // the bytes as the library holds them, with the FS a tolerant reading adds
      this.#warning = { ...warning, statusName: lib.text(module()._wsq_strerror(warning.status)) };
      check(this.#call('_wsqjs_transaction_write'));
      this.#bytes = takeResult();
      this.#read();
    }
  }

  /** What a tolerant reading tolerated first, {status, statusName, offset, message}: the flaw
   * it would have been; null when nothing was. */
  get warning() {
    return this.#warning && { ...this.#warning };
  }

  /** The records in file order, Type-1 first: {type, idc (null for Type-1), tagged, offset,
   * length}. */
  get records() {
    return this.#index.records.map(({ fields, ...record }) => record);
  }

  /** One entry per image record, in file order, with the facts the record declares (null where
   * it declares none). */
  get images() {
    return this.#index.images.map((image) => ({ ...image, positions: [...image.positions] }));
  }

  /** The fields of tagged record record, in its order: {number, value, subfields}, value the
   * field's bytes and subfields those split into items (field 999: one item, its data). */
  fields(record) {
    const found = this.#index.records[record];
    if (!found) throw argumentError(`no such record: ${record}`);
    if (!found.tagged) throw argumentError(`record ${record} is a binary record, without fields`);
    return found.fields.map(({ number, offset, length }) => {
      const value = this.#bytes.slice(offset, offset + length);
      return { number, value, subfields: number === 999 ? [[value]]
        : split(value, RS).map((subfield) => split(subfield, US)) };
    });
  }

  /** The image's data as stored (a WSQ stream, uncompressed pixels, ...): image is an entry of
   * images or its index there. */
  data(image) {
    const { dataOffset, dataLength } = this.#entry(image);
    return this.#bytes.slice(dataOffset, dataOffset + dataLength);
  }

  /** The image's pixels, {width, height, pixels}: its WSQ stream decoded (reduce 2, 4 or 8 as
   * decode() takes it), or its uncompressed 8-bit data (every reduce-th pixel). Other
   * compressions are refused; a flaw in the data is reported at its offset in the
   * transaction. */
  pixels(image, options) {
    const entry = this.#entry(image);
    const data = this.data(entry);
    try {
      if (entry.compression === WSQ) {
        const { width, height, pixels } = decode(data, options);
        return { width, height, pixels };
      }
      if (entry.compression === NONE && entry.bitsPerPixel === 8) {
        return uncompressed(data, entry, settings(options, ['reduce']).reduce ?? 1);
      }
    } catch (error) {
      if (!(error instanceof WsqError)) throw error;
      throw new WsqError(error.status, entry.dataOffset + error.offset, error.message);
    }
    throw argumentError(`the image of record ${entry.record} is compressed as ` +
                        `${entry.compressionName || 'undeclared'} or not of 8 bits a pixel: ` +
                        'only WSQ and uncompressed 8-bit images are decoded; data() gives its bytes');
  }

  /** The verdict on the transaction: {valid, status, statusName, offset, message}, valid or
   * its first flaw in file order. */
  check() {
    const m = module();
    const status = this.#call('_wsqjs_transaction_check');
    const flaw = status ? { offset: m._wsqjs_offset(), message: lib.text(m._wsqjs_message()) } : {};
    m._wsqjs_release();
    return verdict({ status, ...flaw });
  }

  /** The verdict on each record with a flaw, its first, in file order: an array of verdicts as
   * check() gives them, empty for a valid transaction. */
  checkAll() {
    check(this.#call('_wsqjs_transaction_check_all'));
    return takeIndex().map(verdict);
  }

  /** Puts a new image in record record (a Type-4, or a tagged print record of Types 13 to 16
   * or 19): a ready WSQ stream (bytes alone), or pixels encoded as encode() takes them
   * (gray with width and height, or RGBA image data, and the options). */
  replace(record, image, ...encoding) {
    const ready = (image instanceof ArrayBuffer || ArrayBuffer.isView(image)) &&
      typeof encoding[0] !== 'number';
    const stream = ready ? byteArray(image) : encode(image, ...encoding);
    this.#edit(() => withBytes(stream, (streamAt) =>
      this.#call('_wsqjs_transaction_replace', index(record), streamAt, stream.length)));
  }

  /** Sets field number of tagged record record to value (a string is stored as UTF-8; RS and
   * US separate subfields and items), inserting it in number order when missing; an empty
   * value removes it. */
  setField(record, number, value) {
    const bytes = typeof value === 'string' ? new TextEncoder().encode(value) : byteArray(value);
    this.#edit(() => withBytes(bytes, (valueAt) =>
      this.#call('_wsqjs_transaction_set_field', index(record), int32(number, 'the field number'),
                 valueAt, bytes.length)));
  }

  /** Inserts a binary record of type 4, 7 or 8 as record record (1 to records.length: before the
   * record there, or last): bytes are the whole record, its first four (LEN) set to its length,
   * its IDC its fifth byte, which no record of its type may have. CNT gains its entry. */
  insertBinary(record, type, bytes) {
    const data = byteArray(bytes);
    this.#edit(() => withBytes(data, (dataAt) =>
      this.#call('_wsqjs_transaction_insert_binary', index(record), int32(type, 'the record type'),
                 dataAt, data.length)));
  }

  /** Inserts a tagged record of type 2 or 9 to 99 as record record (1 to records.length), holding
   * its LEN and its IDC idc (0 to 99, unused in its type) alone: setField() gives it the rest.
   * CNT gains its entry. */
  insertTagged(record, type, idc) {
    this.#edit(() => this.#call('_wsqjs_transaction_insert_tagged', index(record),
                                int32(type, 'the record type'), int32(idc, 'the IDC')));
  }

  /** Removes record record (1 to records.length - 1: Type-1 stays) and its CNT entry; records
   * linked to it by IDC stay as they are. */
  remove(record) {
    this.#edit(() => this.#call('_wsqjs_transaction_remove', index(record)));
  }

  /** The transaction's bytes as they stand (a copy): every LEN and the CNT agree with the
   * records; unedited, the bytes read. */
  bytes() {
    return this.#bytes.slice();
  }

  /* Calls the module's function name on the bytes, read as this transaction was, then the
   * arguments; returns its status. */
  #call(name, ...rest) {
    const m = module();
    return withBytes(this.#bytes, (at) => m[name](at, this.#bytes.length, this.#tolerant, ...rest));
  }

  #read() {
    this.#index = this.#indexOf(this.#bytes);
  }

  /* The index of bytes read as this transaction was read. */
  #indexOf(bytes) {
    const m = module();
    check(withBytes(bytes, (at) => m._wsqjs_transaction_read(at, bytes.length, this.#tolerant)));
    return takeIndex();
  }

  /* An edit's call, which leaves the edited bytes: they become the transaction's with their
   * index, and nothing changes when that index cannot be had. */
  #edit(call) {
    check(call());
    const bytes = takeResult();
    this.#index = this.#indexOf(bytes);
    this.#bytes = bytes;
  }

  #entry(image) {
    const entry = typeof image === 'number' ? this.#index.images[image]
      : this.#index.images.find((found) => found.record === image?.record);
    if (!entry) throw argumentError(`no such image: ${typeof image === 'number' ? image : image?.record}`);
    return entry;
  }
}

/* A verdict as check() gives it, from the library's status and, for a flaw, its offset and
 * message. */
function verdict({ status, offset = 0, message = '' }) {
  return { valid: status === Status.OK, status, statusName: lib.text(module()._wsq_strerror(status)),
           offset, message };
}

/* A record index as the module takes it: a whole number, 0 or more. */
function index(record) {
  if (!Number.isInteger(record) || record < 0) throw argumentError(`no such record: ${record}`);
  return record;
}

function uncompressed(data, { width, height }, reduce) {
  if (data.length !== width * height) {
    throw new WsqError(Status.RAW_SIZE_MISMATCH, 0,
                       `${data.length} bytes of uncompressed data, not ${width} x ${height}`);
  }
  if (![1, 2, 4, 8].includes(reduce)) throw argumentError(`reduce ${reduce}: give 1, 2, 4 or 8`);
  const columns = Math.ceil(width / reduce), rows = Math.ceil(height / reduce);
  const pixels = new Uint8Array(columns * rows);
  for (let y = 0; y < rows; ++y) {
    for (let x = 0; x < columns; ++x) pixels[y * columns + x] = data[y * reduce * width + x * reduce];
  }
  return { width: columns, height: rows, pixels };
}

/** Reads a transaction from its bytes (copied): a file that cannot be read as records is
 * refused with the flaw's status, offset and message. With tolerant, what no edition allows but
 * files are reported to hold (a LEN with leading zeros, a last FS missing, CR, LF or NUL after
 * the last record, labels in lower case) is read, the first such thing being the warning. */
export function readTransaction(data, options) {
  const { tolerant = false } = settings(options, ['tolerant']);
  return new Transaction(byteArray(data).slice(), tolerant);
}
