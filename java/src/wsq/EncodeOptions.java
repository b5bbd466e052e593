package wsq;

import java.nio.charset.StandardCharsets;
import java.util.Objects;

/**
 * The settings of {@link Wsq#encode} and of the ImageIO writer: immutable; each {@code with}
 * method returns a copy with one setting changed. {@link #defaults()} holds the library's own
 * defaults: bit rate 0.75, black 0, white 255, no comment, one thread; and deep images refused.
 */
public final class EncodeOptions {
    /**
     * What becomes of a deep image, a gray one of more than 8 bits a sample (16 for
     * {@link java.awt.image.BufferedImage#TYPE_USHORT_GRAY}), which WSQ cannot code as it is:
     * the option {@code deep} of every binding of the library.
     */
    public enum Deep {
        /** Refused ({@link WsqException#ARGUMENT}) with a message naming this option. */
        REFUSE,
        /** Its values scaled to 0-255: v x 255 / (2^bits - 1), rounded. */
        SCALE
    }

    // Filled by the library's wsq_encode_defaults(), field by field by name, and read back the
    // same way by the native encoder: the names are those of wsq_encode_options.
    private double bitrate;
    private int black;
    private int white;
    private byte[] comment;
    private int threads;
    private Deep deep = Deep.REFUSE;  // the ImageIO writer's alone: the library codes 8 bits

    private EncodeOptions() {
    }

    /** The library's default settings. */
    public static EncodeOptions defaults() {
        EncodeOptions options = new EncodeOptions();
        Native.encodeDefaults(options);
        return options;
    }

    /** The nominal bits per pixel the coder steers to: finite, and one the coder can honour. */
    public EncodeOptions withBitrate(double bitrate) {
        EncodeOptions copy = copy();
        copy.bitrate = bitrate;
        return copy;
    }

    /** The scanner calibrations A (black) and B (white) stored in the frame header, 0 to 255. */
    public EncodeOptions withCalibration(int black, int white) {
        EncodeOptions copy = copy();
        copy.black = black;
        copy.white = white;
        return copy;
    }

    /**
     * The text of a comment segment, stored as UTF-8: at most 65533 bytes, no NUL character;
     * null writes none, "" an empty one.
     */
    public EncodeOptions withComment(String comment) {
        EncodeOptions copy = copy();
        copy.comment = comment == null ? null : comment.getBytes(StandardCharsets.UTF_8);
        return copy;
    }

    /**
     * Threads sharing the work of one image, up to 256 (0: one per core); the library takes no
     * more than one a half megapixel. The bytes are the same for any number.
     */
    public EncodeOptions withThreads(int threads) {
        EncodeOptions copy = copy();
        copy.threads = threads;
        copy.deep = deep;
        return copy;
    }

    /** What becomes of a deep image ({@link Deep#REFUSE} by default). */
    public EncodeOptions withDeep(Deep deep) {
        EncodeOptions copy = copy();
        copy.deep = Objects.requireNonNull(deep, "deep");
        return copy;
    }

    public double bitrate() {
        return bitrate;
    }

    public int black() {
        return black;
    }

    public int white() {
        return white;
    }

    /** The comment's text, or null for none. */
    public String comment() {
        return comment == null ? null : new String(comment, StandardCharsets.UTF_8);
    }

    public int threads() {
        return threads;
    }

    public Deep deep() {
        return deep;
    }

    /** Refuses a comment that the library's NUL-terminated text cannot hold. */
    void checkComment() throws WsqException {
        if (comment != null && comment().indexOf('\0') >= 0) {
            throw new WsqException(WsqException.ARGUMENT, 0, "a comment cannot hold a NUL byte");
        }
    }

    private EncodeOptions copy() {
        EncodeOptions copy = new EncodeOptions();
        copy.bitrate = bitrate;
        copy.black = black;
        copy.white = white;
        copy.comment = comment;
        copy.threads = threads;
        copy.deep = deep;
        return copy;
    }
}
