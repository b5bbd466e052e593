package wsq;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Objects;

/**
 * WSQ compression of 8-bit gray fingerprint images, whole images in memory, through the C
 * library libwsq.
 *
 * <p>{@link #encode} writes the bytes the {@code wsq1} program writes for the same pixels and
 * settings; {@link #decode} rebuilds the pixels of a stream; {@link #info} reads a stream's
 * facts without decoding it. Data may hold several streams back to back, as {@code wsq1}
 * writes them: {@link #decodeAll} and {@link #infoAll} give one result a stream. Every
 * failure is a {@link WsqException} carrying the library's status, the byte offset of the
 * flaw and a message; nothing ends the virtual machine. Streams are untrusted: every length,
 * count and dimension is checked before it is used.
 *
 * <p>The class keeps no state: any number of threads may call it at once. Native memory is
 * released before each call returns, whatever its outcome.
 */
public final class Wsq {
    private Wsq() {
    }

    /** {@link #encode(byte[], int, int, EncodeOptions)} with the defaults: 0.75 bits per pixel. */
    public static byte[] encode(byte[] gray, int width, int height) throws WsqException {
        return encode(gray, width, height, EncodeOptions.defaults());
    }

    /**
     * Compresses an image into one WSQ stream.
     *
     * @param gray   height rows of width pixels, row after row, top row first, 0 black; at least
     *               width * height bytes
     * @param width  32 to 32767; images below 81 x 81 (unless 49 wide and 145 high) are refused
     * @param height 32 to 32767
     * @throws WsqException {@link WsqException#ARGUMENT} for a short array or a setting out of
     *                      range, {@link WsqException#IMAGE} for an image too small or flat,
     *                      {@link WsqException#BITRATE}, {@link WsqException#MEMORY}
     */
    public static byte[] encode(byte[] gray, int width, int height, EncodeOptions options)
            throws WsqException {
        Objects.requireNonNull(gray, "gray");
        options.checkComment();
        return Native.encode(gray, width, height, options);
    }

    /** {@link #decode(byte[], DecodeOptions)} with the default settings. */
    public static WsqImage decode(byte[] data) throws WsqException {
        return decode(data, DecodeOptions.defaults());
    }

    /**
     * Decodes the stream at the start of data. It must end with its End-Of-Image marker,
     * followed by nothing or by another stream ({@link WsqInfo#streamBytes()} tells where that
     * starts; {@link #decodeAll} decodes them all).
     *
     * @throws WsqException a status from 1 to 12, with the offset of the flaw
     */
    public static WsqImage decode(byte[] data, DecodeOptions options) throws WsqException {
        return decode(data, 0, options);
    }

    /**
     * Decodes the stream that starts at data[offset], as {@link #decode(byte[], DecodeOptions)}
     * does the first; the offsets of flaws count from data[0].
     */
    public static WsqImage decode(byte[] data, int offset, DecodeOptions options)
            throws WsqException {
        Objects.requireNonNull(options, "options");
        WsqInfo info = info(data, offset);
        byte[] pixels = Native.decode(data, offset, (int) info.streamBytes(), options);
        return new WsqImage(reduced(info.width(), options.reduce()),
                            reduced(info.height(), options.reduce()), pixels, info);
    }

    /**
     * A width or height of a whole image at 1/reduce ({@link DecodeOptions#withReduce}): divided
     * and rounded up.
     */
    public static int reduced(int length, int reduce) {
        return (length + reduce - 1) / reduce;
    }

    /** {@link #decodeAll(byte[], DecodeOptions)} with the default settings. */
    public static List<WsqImage> decodeAll(byte[] data) throws WsqException {
        return decodeAll(data, DecodeOptions.defaults());
    }

    /**
     * Decodes every stream of data, stored back to back: one image a stream, each decoded
     * before the next is read, so that a failure is the first flaw of data.
     */
    public static List<WsqImage> decodeAll(byte[] data, DecodeOptions options) throws WsqException {
        List<WsqImage> images = new ArrayList<>();
        int offset = 0;
        do {
            images.add(decode(data, offset, options));
            offset += (int) images.get(images.size() - 1).info().streamBytes();
        } while (offset < data.length);
        return images;
    }

    /**
     * The facts of the stream at the start of data, read and checked as decoding reads them,
     * without decoding the image: no image-sized memory is used.
     */
    public static WsqInfo info(byte[] data) throws WsqException {
        return info(data, 0);
    }

    /** The facts of the stream that starts at data[offset]; offsets of flaws count from data[0]. */
    public static WsqInfo info(byte[] data, int offset) throws WsqException {
        Objects.checkFromToIndex(offset, data.length, data.length);
        WsqInfo info = new WsqInfo();
        Native.readInfo(data, offset, info);
        List<byte[]> comments = new ArrayList<>();
        for (int index = 0; index < info.commentCount(); index++) {
            int[] span = Native.comment(data, offset, index);
            comments.add(Arrays.copyOfRange(data, span[0], span[0] + span[1]));
        }
        info.comments = List.copyOf(comments);
        return info;
    }

    /** The facts of every stream of data, stored back to back. */
    public static List<WsqInfo> infoAll(byte[] data) throws WsqException {
        List<WsqInfo> found = new ArrayList<>();
        int offset = 0;
        do {
            WsqInfo info = info(data, offset);
            found.add(info);
            offset += (int) info.streamBytes();
        } while (offset < data.length);
        return found;
    }

    /**
     * Converts colour pixels, channels interleaved bytes each (3: red, green, blue; 4: the same
     * and alpha, which is ignored), to gray by the rule every binding of the library uses,
     * {@code gray = (19595 red + 38470 green + 7471 blue + 32768) >> 16}, so that a colour
     * image gives the same stream from every language.
     *
     * @throws WsqException {@link WsqException#ARGUMENT} for channels other than 3 or 4, or a
     *                      length that is not a multiple of channels
     */
    public static byte[] grayFromColor(byte[] color, int channels) throws WsqException {
        Objects.requireNonNull(color, "color");
        return Native.grayFromColor(color, channels);
    }

    /**
     * Converts gray samples of bits bits each to 8-bit gray pixels, scaled to 0-255 and
     * rounded: v x 255 / (2^bits - 1). Deep samples, of more than 8 bits, are refused unless
     * deep is {@link EncodeOptions.Deep#SCALE}, in the words of every binding of the library.
     *
     * @throws WsqException {@link WsqException#ARGUMENT} for deep samples and
     *                      {@link EncodeOptions.Deep#REFUSE}
     */
    public static byte[] grayFromSamples(int[] samples, int bits, EncodeOptions.Deep deep)
            throws WsqException {
        long max = (1L << bits) - 1;
        if (bits > 8 && deep != EncodeOptions.Deep.SCALE) {
            throw new WsqException(WsqException.ARGUMENT, 0, "the image has " + bits
                + " bits a sample, and WSQ codes 8: set the option deep to \"scale\" to scale its"
                + " values to 0-255 (v x 255 / " + max + ", rounded)");
        }
        byte[] gray = new byte[samples.length];
        for (int i = 0; i < samples.length; i++) {
            gray[i] = (byte) ((samples[i] * 510L + max) / (2 * max));
        }
        return gray;
    }

    /** The version of the native library, "MAJOR.MINOR.PATCH". */
    public static String version() {
        return Native.version();
    }
}
