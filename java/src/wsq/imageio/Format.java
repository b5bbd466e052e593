package wsq.imageio;

/** What the reader and the writer tell ImageIO of the format. */
final class Format {
    static final String VENDOR = "wsq";
    static final String[] NAMES = {"wsq", "WSQ"};
    static final String[] SUFFIXES = {"wsq"};
    static final String[] MIME_TYPES = {"image/x-wsq"};

    private Format() {
    }

    /** The jar's version, from its manifest: registering the plugin loads no native code. */
    static String version() {
        String version = Format.class.getPackage().getImplementationVersion();
        return version == null ? "unknown" : version;
    }
}
