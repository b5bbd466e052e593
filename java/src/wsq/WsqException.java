package wsq;

import java.io.IOException;
import java.nio.charset.StandardCharsets;

/**
 * A failure of the codec: the library's status, the byte offset of the flaw in the input and a
 * message in words. Every failure of {@link Wsq}, of {@link Transaction} and of the ImageIO
 * plugin is one of these.
 *
 * <p>Statuses 1 to 11 tell what is wrong with a stream (the offset then counts from the start
 * of the data given, through every stream before the flawed one); 12 that memory ran out; 13
 * to 15 what the encoder refused, or a call's argument (offset 0); 32 to 49 the flaws of a
 * transaction file ({@link Transaction}; the offset counts from the transaction's start).
 * The values are those of {@code wsq_status} in {@code wsq.h} and of the transaction statuses
 * in {@code transaction.h}: new ones may be added, none changes.
 */
public class WsqException extends IOException {
    private static final long serialVersionUID = 1L;

    /** No failure: the status of a valid {@link Verdict}. */
    public static final int OK = 0;
    public static final int NOT_WSQ = 1;
    public static final int TRUNCATED = 2;
    public static final int MARKER = 3;
    public static final int SEGMENT = 4;
    public static final int FRAME = 5;
    public static final int TRANSFORM = 6;
    public static final int QUANTIZATION = 7;
    public static final int HUFFMAN = 8;
    public static final int BLOCK = 9;
    public static final int TRAILING = 10;
    public static final int LIMIT = 11;
    public static final int MEMORY = 12;
    public static final int ARGUMENT = 13;
    public static final int IMAGE = 14;
    public static final int BITRATE = 15;

    // The flaws of a transaction, with the library's short name of each. Reading refuses a
    // file with one of 32 to 41, by which its records cannot be told apart, or without CNT
    // (44); the others are the verdicts of Transaction.check().

    /** bad-tag: a field not beginning "T.N:" with its record's type, or Type-1 not first. */
    public static final int BAD_TAG = 32;
    /** len-not-first: a tagged record not beginning with its LEN field. */
    public static final int LEN_NOT_FIRST = 33;
    /** len-not-numeric: LEN not all decimal digits, or with a leading zero. */
    public static final int LEN_NOT_NUMERIC = 34;
    /** len-past-end: a record running past the file's end. */
    public static final int LEN_PAST_END = 35;
    /** fs-missing: a tagged record's last byte not FS. */
    public static final int FS_MISSING = 36;
    /** len-mismatch: an FS before LEN's end, or a field running past it. */
    public static final int LEN_MISMATCH = 37;
    /** binary-len-short: a binary record shorter than its header. */
    public static final int BINARY_LEN_SHORT = 38;
    /** cnt-malformed: CNT not "1 US count" then pairs of type and IDC. */
    public static final int CNT_MALFORMED = 39;
    /** cnt-count: CNT's count not its entries, or records missing or beyond those listed. */
    public static final int CNT_COUNT = 40;
    /** trailing-bytes: bytes after the last record. */
    public static final int TRAILING_BYTES = 41;
    /** cnt-mismatch: a record's type or IDC not CNT's. */
    public static final int CNT_MISMATCH = 42;
    /** idc-duplicate: two records of one type and IDC. */
    public static final int IDC_DUPLICATE = 43;
    /** mandatory-missing: a field a record must have. */
    public static final int MANDATORY_MISSING = 44;
    /** cga-unknown: a compression code or label unknown. */
    public static final int CGA_UNKNOWN = 45;
    /** hll-vll-mismatch: a WSQ frame of another size than its record's width and height. */
    public static final int HLL_VLL_MISMATCH = 46;
    /** wsq-bad: WSQ data that is not one WSQ stream. */
    public static final int WSQ_BAD = 47;
    /** raw-size-mismatch: uncompressed data not width x height x bits per pixel / 8 bytes. */
    public static final int RAW_SIZE_MISMATCH = 48;
    /** bad-value: a date, resolution, IDC or VER out of its form. */
    public static final int BAD_VALUE = 49;

    private final int status;
    private final String statusName;
    private final long offset;
    private final String reason;

    /** A failure reported by the library, its message as the library's bytes. */
    WsqException(int status, long offset, byte[] message) {
        this(status, offset, new String(message, StandardCharsets.UTF_8));
    }

    /** A failure found before calling the library, described as the library describes its own. */
    WsqException(int status, long offset, String reason) {
        super(describe(status, offset, reason));
        this.status = status;
        this.statusName = Native.statusName(status);
        this.offset = offset;
        this.reason = reason;
    }

    /** The library's status: one of the constants of this class. */
    public int status() {
        return status;
    }

    /** The library's short name of the status, e.g. "truncated stream". */
    public String statusName() {
        return statusName;
    }

    /**
     * The byte offset of the flaw in the input data (a stream or a transaction); 0 for a
     * failure that lies in no input.
     */
    public long offset() {
        return offset;
    }

    /** What is wrong, in the library's words. */
    public String reason() {
        return reason;
    }

    /** Whether the status is a flaw at a place in the input: a stream's or a transaction's. */
    static boolean located(int status) {
        return status >= NOT_WSQ && status <= LIMIT || status >= BAD_TAG && status <= BAD_VALUE;
    }

    /** The status's name, where the flaw lies if it lies anywhere, and the reason. */
    static String describe(int status, long offset, String reason) {
        String where = located(status) ? " at byte " + offset : "";
        return Native.statusName(status) + where + ": " + reason;
    }
}
