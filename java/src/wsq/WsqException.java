package wsq;

import java.io.IOException;
import java.nio.charset.StandardCharsets;

/**
 * A failure of the codec: the library's status, the byte offset of the flaw in the input and a
 * message in words. Every failure of {@link Wsq} and of the ImageIO plugin is one of these.
 *
 * <p>Statuses 1 to 11 tell what is wrong with a stream (the offset then counts from the start
 * of the data given, through every stream before the flawed one); 12 that memory ran out; 13
 * to 15 what the encoder refused (offset 0). The values are those of {@code wsq_status} in
 * {@code wsq.h}: new ones may be added, none changes.
 */
public class WsqException extends IOException {
    private static final long serialVersionUID = 1L;

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

    /** The byte offset of the flaw in the input data; 0 when the input is not a stream. */
    public long offset() {
        return offset;
    }

    /** What is wrong, in the library's words. */
    public String reason() {
        return reason;
    }

    private static String describe(int status, long offset, String reason) {
        String where = status >= NOT_WSQ && status <= LIMIT ? " at byte " + offset : "";
        return Native.statusName(status) + where + ": " + reason;
    }
}
