package wsq;

/**
 * The settings of {@link Wsq#decode} and {@link Wsq#decodeAll}: immutable; each {@code with}
 * method returns a copy with one setting changed. {@link #defaults()} holds the library's own
 * defaults: images up to 2^28 pixels, one thread, the whole image.
 */
public final class DecodeOptions {
    // Filled by the library's wsq_decode_defaults(), field by field by name, and read back the
    // same way by the native decoder.
    private long maxPixels;
    private int threads;
    private int reduce;

    private DecodeOptions() {
    }

    /** The library's default settings. */
    public static DecodeOptions defaults() {
        DecodeOptions options = new DecodeOptions();
        Native.decodeDefaults(options);
        return options;
    }

    /**
     * Images of more pixels are refused ({@link WsqException#LIMIT}) before any is decoded: a
     * lower limit for untrusted input. A stream's facts are read within the default limit, so a
     * higher value admits no larger image.
     */
    public DecodeOptions withMaxPixels(long maxPixels) {
        DecodeOptions copy = copy();
        copy.maxPixels = maxPixels;
        return copy;
    }

    /**
     * Threads sharing the work of one image, up to 256 (0: one per core); the library takes no
     * more than one a half megapixel. The pixels are the same for any number.
     */
    public DecodeOptions withThreads(int threads) {
        DecodeOptions copy = copy();
        copy.threads = threads;
        copy.reduce = reduce;
        return copy;
    }

    /**
     * 2, 4 or 8: a preview at that fraction of each dimension, rounded up, rebuilt from the
     * stream's lowest subbands in a fraction of a whole decoding's time; each pixel stands for
     * the square of the whole image around it. 1: the whole image. Any other value is refused
     * ({@link WsqException#ARGUMENT}). The image's {@link WsqImage#info()} keeps the stream's
     * own width and height.
     */
    public DecodeOptions withReduce(int reduce) {
        DecodeOptions copy = copy();
        copy.reduce = reduce;
        return copy;
    }

    public long maxPixels() {
        return maxPixels;
    }

    public int threads() {
        return threads;
    }

    public int reduce() {
        return reduce;
    }

    private DecodeOptions copy() {
        DecodeOptions copy = new DecodeOptions();
        copy.maxPixels = maxPixels;
        copy.threads = threads;
        copy.reduce = reduce;
        return copy;
    }
}
