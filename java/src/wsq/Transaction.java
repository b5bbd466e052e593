package wsq;

import java.io.IOException;
import java.io.OutputStream;
import java.lang.ref.Cleaner;
import java.lang.ref.Reference;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Objects;
import java.util.concurrent.ThreadLocalRandom;
import java.util.concurrent.locks.Lock;
import java.util.concurrent.locks.ReadWriteLock;
import java.util.concurrent.locks.ReentrantReadWriteLock;

/**
 * A transaction file (.an2, .eft, .int) in the library's hands: its records, the fields of its
 * tagged records and its images, checked, edited and written back.
 *
 * <pre>{@code
 * try (Transaction tx = Transaction.readFile(Path.of("booking.eft"))) {
 *     Verdict verdict = tx.check();                 // valid, or the first flaw and its offset
 *     for (TransactionImage image : tx.images()) {  // positions, width, height, ppi, ...
 *         WsqImage print = tx.pixels(image);        // WSQ or uncompressed, decoded
 *     }
 *     tx.replace(tx.images().get(0).record(), gray, width, height);  // or a ready WSQ stream
 *     tx.writeFile(Path.of("booking-new.eft"));    // every LEN and CNT recomputed
 * }
 * }</pre>
 *
 * <p>A transaction read and written without edits gives back the bytes it was read from. A file
 * that cannot be read as records is refused with a {@link WsqException} carrying the flaw's
 * status ({@link WsqException#LEN_MISMATCH}, ...), its byte offset and a message; {@link
 * #check()} gives the verdict on the rest without throwing. Each edit succeeds whole or leaves
 * the transaction as it was, throwing the library's reason; it may move records, fields and
 * images, so indices and offsets read before it may no longer hold after it. Record indices
 * count from 0, the Type-1 record, in file order.
 *
 * <p>The object holds the library's copy of the transaction in native memory: {@link #close()}
 * releases it (a transaction never closed releases it once unreachable). Any number of threads
 * may read one transaction at once; an edit or close waits for them and runs alone. A closed
 * transaction throws {@link IllegalStateException}.
 */
public final class Transaction implements AutoCloseable {
    private static final Cleaner CLEANER = Cleaner.create();

    private final Handle handle;
    private final Cleaner.Cleanable cleanable;
    private final ReadWriteLock lock = new ReentrantReadWriteLock();

    /** The library's transaction, released once: by close(), or by the cleaner. */
    private static final class Handle implements Runnable {
        private long address;

        Handle(long address) {
            this.address = address;
        }

        @Override
        public void run() {
            Native.freeTransaction(address);
            address = 0;
        }
    }

    private Transaction(long address) {
        handle = new Handle(address);
        cleanable = CLEANER.register(this, handle);
    }

    /** {@link #read(byte[], boolean)}, not tolerant. */
    public static Transaction read(byte[] data) throws WsqException {
        return read(data, false);
    }

    /**
     * Reads a transaction from its bytes, which the library copies. Tolerant, it reads what no
     * edition allows but files are reported to hold: a LEN with leading zeros, a last record
     * without its final FS (which is added), CR, LF or NUL bytes after the last record (left
     * out by the first edit), compression labels in lower case; the first such thing is then
     * the transaction's {@link #warning()}.
     *
     * @throws WsqException a flaw by which the records cannot be told apart (statuses 32 to 41,
     *                      or {@link WsqException#MANDATORY_MISSING} for a Type-1 record without
     *                      CNT) with its offset; {@link WsqException#MEMORY}
     */
    public static Transaction read(byte[] data, boolean tolerant) throws WsqException {
        Objects.requireNonNull(data, "data");
        return new Transaction(Native.readTransaction(data, tolerant));
    }

    /** {@link #readFile(Path, boolean)}, not tolerant. */
    public static Transaction readFile(Path path) throws IOException {
        return readFile(path, false);
    }

    /** Reads the transaction file at path, as {@link #read(byte[], boolean)} reads bytes. */
    public static Transaction readFile(Path path, boolean tolerant) throws IOException {
        return read(Files.readAllBytes(path), tolerant);
    }

    /** Releases the library's copy of the transaction; later calls are refused. Idempotent. */
    @Override
    public void close() {
        lock.writeLock().lock();
        try {
            cleanable.clean();
        } finally {
            lock.writeLock().unlock();
        }
    }

    /**
     * What a tolerant reading tolerated first, as the flaw it would have been (its status,
     * offset and message); valid when nothing was. After an edit, what that edit tolerated.
     */
    public Verdict warning() {
        return reading(Native::warning);
    }

    /** The records in file order, the Type-1 record first. */
    public List<TransactionRecord> records() throws WsqException {
        return reading(transaction -> elements(Native.recordCount(transaction),
                                               index -> record(transaction, index)));
    }

    /**
     * The fields of tagged record record, in the record's order.
     *
     * @throws WsqException {@link WsqException#ARGUMENT} for a binary record or no such record
     */
    public List<TransactionField> fields(int record) throws WsqException {
        return reading(transaction -> {
            TransactionRecord found = record(transaction, record);
            if (!found.tagged()) {
                throw argument("record " + record + " is a binary record, without fields");
            }
            return elements(found.fieldCount(), index -> field(transaction, record, index));
        });
    }

    /** One entry per image record, in file order. */
    public List<TransactionImage> images() throws WsqException {
        return reading(transaction -> elements(Native.imageCount(transaction),
                                               index -> image(transaction, index)));
    }

    /**
     * The data of the image of image's record as it stands: a WSQ stream, uncompressed pixels,
     * or what its compression stores.
     *
     * @throws WsqException {@link WsqException#ARGUMENT} when that record holds no image
     */
    public byte[] data(TransactionImage image) throws WsqException {
        return stored(image).data;
    }

    /** {@link #pixels(TransactionImage, DecodeOptions)} with the default settings. */
    public WsqImage pixels(TransactionImage image) throws WsqException {
        return pixels(image, DecodeOptions.defaults());
    }

    /**
     * The pixels of the image of image's record: its WSQ stream decoded as {@link Wsq#decode}
     * decodes one (reduce 2, 4 or 8 gives a preview), or its uncompressed 8-bit data, every
     * reduce-th pixel of every reduce-th row (its {@link WsqImage#info()} then null).
     *
     * @throws WsqException a flaw of the stream, its offset counted from the transaction's
     *                      start; {@link WsqException#RAW_SIZE_MISMATCH} for uncompressed data
     *                      of another size than the record declares; {@link
     *                      WsqException#ARGUMENT} for another compression or depth, or for data
     *                      holding several streams
     */
    public WsqImage pixels(TransactionImage image, DecodeOptions options) throws WsqException {
        Objects.requireNonNull(options, "options");
        Stored stored = stored(image);
        TransactionImage entry = stored.entry;
        try {
            if (entry.compression() == TransactionImage.WSQ) {
                return oneStream(stored.data, options);
            }
            if (entry.compression() == TransactionImage.NONE && entry.bitsPerPixel() == 8) {
                return uncompressed(stored.data, entry, options.reduce());
            }
        } catch (WsqException error) {
            if (!WsqException.located(error.status())) {
                throw error;
            }
            throw new WsqException(error.status(), entry.dataOffset() + error.offset(),
                                   error.reason());
        }
        throw argument("the image of record " + entry.record() + " is " + storedAs(entry)
            + ": only WSQ and uncompressed 8-bit images are decoded; data() gives its bytes");
    }

    /**
     * The verdict on the transaction: valid, or its first flaw in file order (statuses 42 to 49):
     * each record's type and IDC against CNT, mandatory fields, codes, dates, and every WSQ
     * stream against its record. Never throws for a flaw.
     */
    public Verdict check() {
        return reading(Native::check);
    }

    /**
     * Every flaw {@link #check()} finds, the first of each record, in file order; empty for a
     * valid transaction.
     */
    public List<Verdict> checkAll() throws WsqException {
        return reading(transaction -> List.of(Native.checkAll(transaction)));
    }

    /**
     * Puts a WSQ stream (one whole stream) in place of the image of record record: a Type-4
     * record, or a tagged record of Types 13 to 16 or 19. Its width and height become the
     * stream's, its compression WSQ, its bits per pixel 8, and its hash field, if it has one,
     * the new data's SHA-256.
     *
     * @throws WsqException the status of a stream that is not one, with its offset in stream;
     *                      {@link WsqException#ARGUMENT} for another record, with the reason
     */
    public void replace(int record, byte[] stream) throws WsqException {
        Objects.requireNonNull(stream, "stream");
        editing(transaction -> Native.replaceImage(transaction, record, stream));
    }

    /** {@link #replace(int, byte[], int, int, EncodeOptions)} with the default settings. */
    public void replace(int record, byte[] gray, int width, int height) throws WsqException {
        replace(record, gray, width, height, EncodeOptions.defaults());
    }

    /**
     * Encodes the pixels as {@link Wsq#encode(byte[], int, int, EncodeOptions)} does and puts
     * the stream in place of the image of record record as {@link #replace(int, byte[])} does.
     *
     * @throws WsqException what either refuses
     */
    public void replace(int record, byte[] gray, int width, int height, EncodeOptions options)
            throws WsqException {
        Objects.requireNonNull(gray, "gray");
        options.checkComment();
        editing(transaction -> Native.replacePixels(transaction, record, gray, width, height,
                                                    options));
    }

    /**
     * Sets field number of tagged record record to value (RS and US separate its subfields and
     * items; no FS or GS, but in field 999), in place, or inserted before the first field of a
     * higher number when the record has none; an empty value removes the field. The record's
     * LEN follows, and CNT a new IDC (field 2). LEN, Type-1's CNT and removing an IDC are
     * refused.
     *
     * @throws WsqException {@link WsqException#ARGUMENT} with the reason for a refusal
     */
    public void setField(int record, int number, byte[] value) throws WsqException {
        Objects.requireNonNull(value, "value");
        editing(transaction -> Native.setField(transaction, record, number, value));
    }

    /** {@link #setField(int, int, byte[])} with the text stored as UTF-8. */
    public void setField(int record, int number, String value) throws WsqException {
        setField(record, number, value.getBytes(StandardCharsets.UTF_8));
    }

    /**
     * Inserts a binary record of type 4, 7 or 8 as record index (1 to the record count: before
     * the record there, or last). bytes are the whole record, its header then its data: the
     * length (its first four bytes) is set, and its IDC is its fifth byte. CNT gains its entry.
     *
     * @throws WsqException {@link WsqException#ARGUMENT}: another type, a record shorter than
     *                      its header, an IDC above 99 or taken in the type
     */
    public void insertBinary(int index, int type, byte[] bytes) throws WsqException {
        Objects.requireNonNull(bytes, "bytes");
        editing(transaction -> Native.insertBinary(transaction, index, type, bytes));
    }

    /**
     * Inserts a tagged record of type 2 or 9 to 99 as record index (1 to the record count),
     * holding only its LEN and its IDC idc (0 to 99, not taken in the type): {@link #setField}
     * gives it the rest. CNT gains its entry.
     */
    public void insertTagged(int index, int type, int idc) throws WsqException {
        editing(transaction -> Native.insertTagged(transaction, index, type, idc));
    }

    /**
     * Removes record index (1 to the record count - 1: the Type-1 record stays) and its CNT
     * entry. Records linked to it by IDC are left as they are.
     */
    public void remove(int index) throws WsqException {
        editing(transaction -> Native.remove(transaction, index));
    }

    /**
     * The transaction's bytes as they stand, every LEN and the CNT agreeing with the records;
     * unedited, the bytes read (with the final FS a tolerant reading adds).
     */
    public byte[] bytes() throws WsqException {
        return reading(transaction -> Native.transactionBytes(transaction, 0, -1));
    }

    /**
     * Writes {@link #bytes()} to path, all or nothing: to a new file beside it, moved to path's
     * name only once complete. A failure leaves the file path named as it was, and no other.
     */
    public void writeFile(Path path) throws IOException {
        byte[] bytes = bytes();
        Path target = path.toAbsolutePath();
        Path staged = target.resolveSibling(target.getFileName() + "."
            + Long.toUnsignedString(ThreadLocalRandom.current().nextLong(), 36) + ".tmp");
        try {
            try (OutputStream out = Files.newOutputStream(staged, StandardOpenOption.CREATE_NEW,
                                                          StandardOpenOption.WRITE)) {
                out.write(bytes);
            }
            Files.move(staged, target, StandardCopyOption.REPLACE_EXISTING,
                       StandardCopyOption.ATOMIC_MOVE);
        } finally {
            Files.deleteIfExists(staged);
        }
    }

    @FunctionalInterface
    private interface Reading<T, E extends Exception> {
        T on(long transaction) throws E;
    }

    @FunctionalInterface
    private interface Edit {
        void on(long transaction) throws WsqException;
    }

    private <T, E extends Exception> T reading(Reading<T, E> call) throws E {
        return locked(lock.readLock(), call);
    }

    private void editing(Edit edit) throws WsqException {
        locked(lock.writeLock(), transaction -> {
            edit.on(transaction);
            return null;
        });
    }

    /** Calls call on the library's transaction under lock; the transaction stays reachable,
     *  and so unreleased, until the call returns. */
    private <T, E extends Exception> T locked(Lock held, Reading<T, E> call) throws E {
        held.lock();
        try {
            if (handle.address == 0) {
                throw new IllegalStateException("the transaction is closed");
            }
            return call.on(handle.address);
        } finally {
            held.unlock();
            Reference.reachabilityFence(this);
        }
    }

    private static TransactionRecord record(long transaction, int index) throws WsqException {
        TransactionRecord record = new TransactionRecord();
        Native.record(transaction, index, record);
        return record;
    }

    private static TransactionImage image(long transaction, int index) throws WsqException {
        TransactionImage image = new TransactionImage();
        Native.image(transaction, index, image);
        return image;
    }

    private static TransactionField field(long transaction, int record, int index)
            throws WsqException {
        long[] field = Native.field(transaction, record, index);  // number, value's span
        int number = (int) field[0];
        byte[] value = Native.transactionBytes(transaction, field[1], field[2]);
        // Split here in one pass: the library finds each item from the field's start.
        List<List<byte[]>> subfields = number == 999 ? List.of(List.of(value)) : split(value);
        return new TransactionField(number, value, subfields);
    }

    private static final byte RS = 0x1E, US = 0x1F;  // separate subfields, and items in them

    /** A field's value split at RS into subfields and each of those at US into items. */
    private static List<List<byte[]>> split(byte[] value) {
        List<List<byte[]>> subfields = new ArrayList<>();
        List<byte[]> items = new ArrayList<>();
        int start = 0;
        for (int at = 0; at <= value.length; at++) {
            byte b = at < value.length ? value[at] : RS;
            if (b == RS || b == US) {
                items.add(Arrays.copyOfRange(value, start, at));
                start = at + 1;
            }
            if (b == RS) {
                subfields.add(items);
                items = new ArrayList<>();
            }
        }
        return subfields;
    }

    @FunctionalInterface
    private interface Element<T> {
        T at(int index) throws WsqException;
    }

    /** The elements at 0 to count - 1, in order. */
    private static <T> List<T> elements(int count, Element<T> element) throws WsqException {
        List<T> elements = new ArrayList<>(count);
        for (int index = 0; index < count; index++) {
            elements.add(element.at(index));
        }
        return List.copyOf(elements);
    }

    /** An image's current entry and its data. */
    private record Stored(TransactionImage entry, byte[] data) {
    }

    /** The current entry of the image of image's record, and its data, read together. */
    private Stored stored(TransactionImage image) throws WsqException {
        int record = image.record();
        return reading(transaction -> {
            for (int index = 0; index < Native.imageCount(transaction); index++) {
                TransactionImage entry = image(transaction, index);
                if (entry.record() == record) {
                    return new Stored(entry, Native.transactionBytes(
                        transaction, entry.dataOffset(), entry.dataLength()));
                }
            }
            throw argument("record " + record + " holds no image");
        });
    }

    /** The image of data, which must be one WSQ stream. */
    private static WsqImage oneStream(byte[] data, DecodeOptions options) throws WsqException {
        WsqImage image = Wsq.decode(data, options);
        if (image.info().streamBytes() != data.length) {
            int streams = Wsq.infoAll(data).size();  // a flaw after the first is thrown here
            throw argument("the image's data holds " + streams + " WSQ streams, not one");
        }
        return image;
    }

    /** Every reduce-th pixel of every reduce-th row of an uncompressed 8-bit image. */
    private static WsqImage uncompressed(byte[] data, TransactionImage entry, int reduce)
            throws WsqException {
        int width = entry.width();
        int height = entry.height();
        if (width < 0 || height < 0 || data.length != (long) width * height) {
            throw new WsqException(WsqException.RAW_SIZE_MISMATCH, 0, data.length
                + " bytes of uncompressed data, not " + width + " x " + height);
        }
        if (reduce != 1 && reduce != 2 && reduce != 4 && reduce != 8) {
            throw argument("reduce " + reduce + ": give 1, 2, 4 or 8");
        }
        if (reduce == 1) {
            return new WsqImage(width, height, data, null);
        }
        int columns = Wsq.reduced(width, reduce);
        int rows = Wsq.reduced(height, reduce);
        byte[] pixels = new byte[columns * rows];
        for (int y = 0; y < rows; y++) {
            for (int x = 0; x < columns; x++) {
                pixels[y * columns + x] = data[y * reduce * width + x * reduce];
            }
        }
        return new WsqImage(columns, rows, pixels, null);
    }

    /** How an image that pixels() does not decode is stored, in words. */
    private static String storedAs(TransactionImage entry) {
        if (entry.compression() == TransactionImage.NONE) {
            return "uncompressed at " + entry.bitsPerPixel() + " bits per pixel";
        }
        String name = entry.compressionName();
        return "compressed as " + (name.isEmpty() ? "undeclared" : name);
    }

    private static WsqException argument(String reason) {
        return new WsqException(WsqException.ARGUMENT, 0, reason);
    }
}
