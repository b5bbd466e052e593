package wsq;

import java.nio.charset.StandardCharsets;

/**
 * The facts of one image record of a {@link Transaction}, as the record declares them: a binary
 * print record (Types 3 to 8), or a tagged record with image data (Types 10, 13 to 17, 19, or
 * another with width and height fields). What the record does not declare is -1 (0 for ppi).
 * The entry names its image for {@link Transaction#data} and {@link Transaction#pixels} by its
 * record, which an edit may move: read the images again after one.
 */
public final class TransactionImage {
    /** Compression codes: none (one byte a pixel, row after row) and WSQ. */
    public static final int NONE = 0;
    public static final int WSQ = 1;

    // Filled by the native side from wsq_image_entry, field by field by name.
    private int record;
    private int type;
    private int idc;
    private int[] positions;
    private int impression;
    private int compression;
    private byte[] compressionName;
    private int width;
    private int height;
    private int bitsPerPixel;
    private int ppi;
    private long dataOffset;
    private long dataLength;

    TransactionImage() {
    }

    /** The index of its record in {@link Transaction#records()}. */
    public int record() {
        return record;
    }

    /** The record's type (4, 14, ...). */
    public int type() {
        return type;
    }

    public int idc() {
        return idc;
    }

    /** Finger or palm positions, the most probable first; empty when none is declared. */
    public int[] positions() {
        return positions.clone();
    }

    /** The impression type code. */
    public int impression() {
        return impression;
    }

    /**
     * The compression code: {@link #NONE}, {@link #WSQ}, 2 to 6 for JPEG baseline, JPEG
     * lossless, JPEG 2000, JPEG 2000 lossless and PNG; -1 for a code or label not among them.
     */
    public int compression() {
        return compression;
    }

    /** "WSQ20", "NONE", ...; another label as stored; "" when the record declares none. */
    public String compressionName() {
        return new String(compressionName, StandardCharsets.UTF_8);
    }

    /** HLL: the width declared. */
    public int width() {
        return width;
    }

    /** VLL: the height declared. */
    public int height() {
        return height;
    }

    public int bitsPerPixel() {
        return bitsPerPixel;
    }

    /** Pixels per inch declared, rounded; 0 when none is. */
    public int ppi() {
        return ppi;
    }

    /** The image data's first byte in the transaction. */
    public long dataOffset() {
        return dataOffset;
    }

    public long dataLength() {
        return dataLength;
    }

    @Override
    public String toString() {
        return "TransactionImage[record " + record + ", type " + type + ", IDC " + idc + ", "
            + compressionName() + ", " + width + "x" + height + "]";
    }
}
