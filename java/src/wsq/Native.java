package wsq;

import java.io.IOException;
import java.io.InputStream;
import java.net.URISyntaxException;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileSystemNotFoundException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * The native half of the library (libwsqjni), a function for each call of wsq.h, and how it
 * is found: beside the jar (the build tree, or an application that ships both in one
 * directory); then where cmake --install put it, relative to the installed jar (the jar's
 * resource {@code native-library} names that directory); then on java.library.path.
 */
final class Native {
    private static final String LIBRARY = "wsqjni";

    static {
        load();
    }

    private Native() {
    }

    static native String statusName(int status);

    static native String version();

    static native void encodeDefaults(EncodeOptions options);

    static native void decodeDefaults(DecodeOptions options);

    static native byte[] encode(byte[] pixels, int width, int height, EncodeOptions options)
            throws WsqException;

    /** Decodes the stream of length bytes at offset; the offsets of flaws count from data[0]. */
    static native byte[] decode(byte[] data, int offset, int length, DecodeOptions options)
            throws WsqException;

    /** Fills info with the facts of the stream at offset, read without decoding it. */
    static native void readInfo(byte[] data, int offset, WsqInfo info) throws WsqException;

    /** Where the text of comment index of the stream at offset lies in data: start, length. */
    static native int[] comment(byte[] data, int offset, int index) throws WsqException;

    static native byte[] grayFromColor(byte[] color, int channels) throws WsqException;

    // Transactions: a transaction is the library's wsq_transaction, held by its address. A
    // lookup out of range throws WsqException.ARGUMENT saying which.

    /** Reads data as a transaction: its address, for the calls below and freeTransaction. */
    static native long readTransaction(byte[] data, boolean tolerant) throws WsqException;

    static native void freeTransaction(long transaction);

    static native Verdict warning(long transaction);

    static native int recordCount(long transaction);

    /** Fills target with the facts of record index. */
    static native void record(long transaction, int index, TransactionRecord target)
            throws WsqException;

    /** Field index of tagged record record: its number, and its value's offset and length. */
    static native long[] field(long transaction, int record, int index) throws WsqException;

    static native int imageCount(long transaction);

    /** Fills target with the facts of image index. */
    static native void image(long transaction, int index, TransactionImage target)
            throws WsqException;

    /** A copy of length bytes of the transaction from offset; length -1: to its end. */
    static native byte[] transactionBytes(long transaction, long offset, long length)
            throws WsqException;

    static native Verdict check(long transaction);

    static native Verdict[] checkAll(long transaction) throws WsqException;

    static native void replaceImage(long transaction, int record, byte[] stream)
            throws WsqException;

    static native void replacePixels(long transaction, int record, byte[] pixels, int width,
                                     int height, EncodeOptions options) throws WsqException;

    static native void insertBinary(long transaction, int index, int type, byte[] bytes)
            throws WsqException;

    static native void insertTagged(long transaction, int index, int type, int idc)
            throws WsqException;

    static native void remove(long transaction, int index) throws WsqException;

    static native void setField(long transaction, int record, int number, byte[] value)
            throws WsqException;

    private static void load() {
        String file = System.mapLibraryName(LIBRARY);
        List<Path> tried = new ArrayList<>();
        Path jarDirectory = jarDirectory();
        if (jarDirectory != null) {
            tried.add(jarDirectory.resolve(file));
            String installed = installedDirectory();
            if (installed != null) {
                tried.add(jarDirectory.resolve(installed).resolve(file).normalize());
            }
        }
        for (Path candidate : tried) {
            if (Files.isRegularFile(candidate)) {
                System.load(candidate.toAbsolutePath().toString());
                return;
            }
        }
        try {
            System.loadLibrary(LIBRARY);
        } catch (UnsatisfiedLinkError error) {
            UnsatisfiedLinkError missing = new UnsatisfiedLinkError(
                file + " is neither at " + tried + " nor on java.library.path ("
                + System.getProperty("java.library.path") + ")");
            missing.initCause(error);
            throw missing;
        }
    }

    /** The directory of the jar (or class tree) this class was loaded from; null if unknown. */
    private static Path jarDirectory() {
        try {
            var source = Native.class.getProtectionDomain().getCodeSource();
            if (source == null) {
                return null;
            }
            Path location = Path.of(source.getLocation().toURI());
            return Files.isDirectory(location) ? location : location.getParent();
        } catch (URISyntaxException | IllegalArgumentException | FileSystemNotFoundException
                 | SecurityException error) {
            return null;
        }
    }

    /** The native library's installed directory relative to the jar's, as the build recorded it. */
    private static String installedDirectory() {
        try (InputStream in = Native.class.getResourceAsStream("native-library")) {
            return in == null ? null
                : new String(in.readAllBytes(), StandardCharsets.UTF_8).strip();
        } catch (IOException error) {
            return null;
        }
    }
}
