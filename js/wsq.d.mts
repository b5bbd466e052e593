/** WSQ gray-scale fingerprint image compression, through libwsq compiled to WebAssembly. */

/** The library's statuses: 1 to 11 tell what is wrong with a stream, 12 that memory ran out, 13
 * to 15 what the encoder refused, 32 to 49 the flaws of a transaction file. */
export declare const Status: Readonly<{
  OK: 0; NOT_WSQ: 1; TRUNCATED: 2; MARKER: 3; SEGMENT: 4; FRAME: 5; TRANSFORM: 6;
  QUANTIZATION: 7; HUFFMAN: 8; BLOCK: 9; TRAILING: 10; LIMIT: 11; MEMORY: 12; ARGUMENT: 13;
  IMAGE: 14; BITRATE: 15; BAD_TAG: 32; LEN_NOT_FIRST: 33; LEN_NOT_NUMERIC: 34; LEN_PAST_END: 35;
  FS_MISSING: 36; LEN_MISMATCH: 37; BINARY_LEN_SHORT: 38; CNT_MALFORMED: 39; CNT_COUNT: 40;
  TRAILING_BYTES: 41; CNT_MISMATCH: 42; IDC_DUPLICATE: 43; MANDATORY_MISSING: 44; CGA_UNKNOWN: 45;
  HLL_VLL_MISMATCH: 46; WSQ_BAD: 47; RAW_SIZE_MISMATCH: 48; BAD_VALUE: 49;
}>;

/** Every failure of encode(), decode() and info(); its message tells what is wrong, in words. */
export declare class WsqError extends Error {
  /** One of Status. */
  readonly status: number;
  /** A short name of the status, e.g. "truncated stream". */
  readonly statusName: string;
  /** Decoding: the byte offset of the flaw, counted from the start of the data; otherwise 0. */
  readonly offset: number;
}

/* The environment's own types where it has them (a page has all; a Node project, with Node's
 * types, may lack WebAssembly's), so that the declarations compile in either. */
type Global<Name extends string> =
  typeof globalThis extends { [key in Name]: abstract new (...args: any) => infer T } ? T : never;
type WasmModule =
  typeof globalThis extends { WebAssembly: { Module: abstract new (...args: any) => infer T } }
    ? T : never;

/* A Uint8Array of an ArrayBuffer of its own, as every result is. */
type OwnBytes = ReturnType<Uint8Array['slice']>;

/** Bytes: an ArrayBuffer, or a view of one (a Uint8Array, a Node Buffer, a DataView). */
export type Bytes = ArrayBuffer | ArrayBufferView;

/** Where the WebAssembly comes from: its bytes, a compiled module, a URL (or its text), or a
 * fetch Response (or a promise of one). */
export type WasmSource =
  | Bytes | WasmModule | URL | string | Global<'Response'> | PromiseLike<Global<'Response'>>;

/** Resolves when the module is usable; rejects when its WebAssembly cannot be loaded. */
export declare const ready: Promise<void>;

/** Loads the WebAssembly from source, instead of libwsq.wasm beside the module: call it in the
 * same task as the import. The first load decides; later calls return the same promise, unless
 * that load failed. */
export declare function init(source?: WasmSource): Promise<void>;

export interface EncodeOptions {
  /** Nominal bits per pixel the coder steers to (0.75). */
  bitrate?: number;
  /** Scanner black calibration stored in the frame header, 0-255 (0). */
  black?: number;
  /** Scanner white calibration, 0-255 (255). */
  white?: number;
  /** Text of a comment segment (a string is stored as UTF-8), at most 65533 bytes, no NUL. */
  comment?: string | Uint8Array | null;
  /** Accepted for the other bindings' sake, 0-256: WebAssembly runs every call on one thread. */
  threads?: number;
  /** What becomes of deep (16-bit) pixels, as in every binding: 'refuse' them (Status.ARGUMENT,
   * naming this option), or 'scale' their values to 0-255, v x 255 / 65535 rounded ('refuse'). */
  deep?: 'refuse' | 'scale';
}

/** An image of RGBA samples, as a canvas gives it. */
export interface ImageDataLike {
  data: Uint8Array | Uint8ClampedArray;
  width: number;
  height: number;
}

/** Compresses gray pixels (height rows of width samples, 0 black) into one WSQ stream: the bytes
 * wsq1 writes for the same pixels and settings. Width and height 32 to 32767, at least 81 x 81
 * (or 49 wide and 145 high). A Uint16Array holds deep pixels: see EncodeOptions.deep. */
export declare function encode(pixels: Uint8Array | Uint8ClampedArray | Uint16Array,
                               width: number, height: number, options?: EncodeOptions): OwnBytes;
/** Compresses an RGBA image, converted to gray by gray = (19595 R + 38470 G + 7471 B + 32768) >>
 * 16 (alpha ignored): the gray Pillow's convert("L") gives, so that a colour image becomes the
 * same WSQ stream here and in the Python package. */
export declare function encode(image: ImageDataLike, options?: EncodeOptions): OwnBytes;
/** The gray pixels encode(image) codes for an RGBA image, by the same rule. */
export declare function gray(image: ImageDataLike): OwnBytes;

/** The header facts of one stream, as its segments state them. */
export interface Info {
  width: number;
  height: number;
  black: number;
  white: number;
  midpoint: number;
  rescale: number;
  /** The encoder's parameterization number. */
  encoder: number;
  /** The encoder's software number. */
  software: number;
  filterLengths: [number, number];
  center: number;
  huffmanTables: number[];
  /** 0 without a restart interval segment. */
  restartInterval: number;
  blockTables: number[];
  blockBytes: number[];
  /** The comment segments' text (UTF-8), in stream order. */
  comments: string[];
  /** Length of the stream, Start- to End-Of-Image. */
  streamBytes: number;
  bitsPerPixel: number;
}

export interface Image {
  /** Of the pixels: the stream's, or with reduce, its width divided by reduce and rounded up. */
  width: number;
  /** Of the pixels, as width. */
  height: number;
  /** height rows of width gray samples. */
  pixels: OwnBytes;
  info: Info;
}

export interface DecodeOptions {
  /** Images of more pixels are refused with Status.LIMIT (2 ** 28). */
  maxPixels?: number;
  /** Accepted for the other bindings' sake, 0-256: WebAssembly runs every call on one thread. */
  threads?: number;
  /** 2, 4 or 8: a preview at that fraction of each dimension (rounded up), made from the
   * stream's lowest subbands and several times faster than the whole image; 1, the whole
   * image (1). Any other is refused with Status.ARGUMENT. info keeps the stream's own width
   * and height. */
  reduce?: 1 | 2 | 4 | 8;
}

export type WsqData = Bytes;

/** Rebuilds the pixels of WSQ data holding one stream. Data of several streams back to back
 * is refused with Status.ARGUMENT, at the offset of the second: decodeAll() decodes those. */
export declare function decode(data: WsqData, options?: DecodeOptions): Image;

/** Rebuilds the pixels of every stream of WSQ data, stored back to back: one image a stream,
 * decoded in order, so that a failure is the first flaw of data. */
export declare function decodeAll(data: WsqData, options?: DecodeOptions): Image[];

/** The header facts and comments of WSQ data holding one stream, read without decoding; data
 * of several streams is refused as decode() refuses it. */
export declare function info(data: WsqData): Info;

/** The header facts and comments of every stream of WSQ data, without decoding. */
export declare function infoAll(data: WsqData): Info[];

/** The version of the library, "MAJOR.MINOR.PATCH". */
export declare function version(): string;

/** Bytes the module's allocator holds: the same before and after any call, which releases what
 * it took. */
export declare function memoryInUse(): number;

/** A logical record of a transaction. */
export interface TransactionRecord {
  /** 1 to 99. */
  type: number;
  /** The IDC that CNT lists for it; null for the Type-1 record. */
  idc: number | null;
  /** A tagged record, with fields; false: a binary record (Types 3-8). */
  tagged: boolean;
  /** Its first byte in the transaction. */
  offset: number;
  /** Its bytes. */
  length: number;
}

/** A field of a tagged record. */
export interface TransactionField {
  /** The N of "T.N:" (1 is LEN, 999 the image data). */
  number: number;
  /** The value's bytes. */
  value: OwnBytes;
  /** The value split into subfields of items; field 999: one subfield of one item, its data. */
  subfields: OwnBytes[][];
}

/** An image record's facts, as the record declares them (null where it declares nothing). */
export interface TransactionImage {
  /** Index of its record in Transaction.records. */
  record: number;
  type: number;
  idc: number;
  /** Finger or palm position codes, the most probable first (1 right thumb ... 10 left little). */
  positions: number[];
  /** Impression type code (0 live-scan plain, 1 live-scan rolled, ...). */
  impression: number | null;
  /** Compression code: 0 none, 1 WSQ, 2-6 JPEG, JPEG 2000, PNG; null for one not in the table. */
  compression: number | null;
  /** "NONE", "WSQ20", ..., or the label as stored; "" when the record declares none. */
  compressionName: string;
  width: number | null;
  height: number | null;
  bitsPerPixel: number | null;
  /** Pixels per inch, rounded. */
  ppi: number | null;
  /** The image data's first byte in the transaction, and its length. */
  dataOffset: number;
  dataLength: number;
}

/** What Transaction.check() found: valid, or the first flaw's status, offset and message; and
 * for checkAll(), a record's first flaw. */
export interface Verdict {
  valid: boolean;
  /** Status.OK, or one of the transaction flaws (Status.CNT_MISMATCH, ...). */
  status: number;
  /** Its short name, e.g. "cnt-mismatch". */
  statusName: string;
  offset: number;
  message: string;
}

/** A transaction file (.an2, .eft, .int): records, fields and images, checked, edited, written.
 * Edits change it in place; record and image indices read before an edit may not hold after. */
export declare class Transaction {
  private constructor();
  /** What a tolerant reading tolerated first: the flaw it would have been; null when nothing
   * was. */
  readonly warning: Omit<Verdict, 'valid'> | null;
  readonly records: TransactionRecord[];
  readonly images: TransactionImage[];
  /** The fields of tagged record record (an index into records); a binary one is refused. */
  fields(record: number): TransactionField[];
  /** An image's data as stored: image is an entry of images or its index there. */
  data(image: TransactionImage | number): OwnBytes;
  /** An image's pixels: its WSQ stream decoded, or its uncompressed 8-bit data; with reduce,
   * a preview (every reduce-th pixel of uncompressed data). Flaws are reported at their
   * offset in the transaction. */
  pixels(image: TransactionImage | number,
         options?: Pick<DecodeOptions, 'reduce'>): { width: number; height: number; pixels: OwnBytes };
  /** The verdict on the whole transaction, without throwing. */
  check(): Verdict;
  /** The first flaw of each record that has one, in file order; empty for a valid transaction. */
  checkAll(): Verdict[];
  /** Puts a ready WSQ stream into record record (a Type-4, or a tagged print record of Types 13
   * to 16 or 19); width, height, compression fields and every length follow. */
  replace(record: number, stream: Bytes): void;
  /** Encodes gray pixels as encode() does and puts the stream into record record. */
  replace(record: number, pixels: Uint8Array | Uint8ClampedArray | Uint16Array, width: number,
          height: number, options?: EncodeOptions): void;
  /** Encodes an RGBA image as encode() does and puts the stream into record record. */
  replace(record: number, image: ImageDataLike, options?: EncodeOptions): void;
  /** Sets a tagged field (a string is stored as UTF-8); an empty value removes it. */
  setField(record: number, number: number, value: string | Bytes): void;
  /** Inserts a binary record of type 4, 7 or 8 as record record (1 to records.length): bytes
   * are the whole record, its first four (LEN) set here, its IDC its fifth byte. CNT follows. */
  insertBinary(record: number, type: number, bytes: Bytes): void;
  /** Inserts a tagged record of type 2 or 9 to 99 as record record, holding its LEN and IDC
   * alone (setField() adds the rest). CNT follows. */
  insertTagged(record: number, type: number, idc: number): void;
  /** Removes record record (1 and on: Type-1 stays) and its CNT entry. */
  remove(record: number): void;
  /** The bytes as they stand, every LEN and the CNT agreeing; unedited, the bytes read. */
  bytes(): OwnBytes;
}

/** Reads a transaction from its bytes; a file that cannot be read as records is refused with a
 * WsqError carrying the flaw's status, offset and message. With tolerant, what no edition
 * allows but files are reported to hold (a LEN with leading zeros, a last FS missing, CR, LF or
 * NUL after the last record, labels in lower case) is read, the first such thing being the
 * transaction's warning. */
export declare function readTransaction(data: Bytes, options?: { tolerant?: boolean }): Transaction;
