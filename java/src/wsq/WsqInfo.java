package wsq;

import java.util.List;
import java.util.stream.IntStream;

/** The facts of one WSQ stream, as its segments state them. */
public final class WsqInfo {
    // Filled by the native side from wsq_info, field by field by name.
    private int width;
    private int height;
    private int black;
    private int white;
    private float midpoint;
    private float rescale;
    private int encoder;
    private int software;
    private int[] filterLengths;
    private float center;
    private int tables;
    private int restartInterval;
    private int[] blockTables;
    private long[] blockBytes;
    private int commentCount;
    private long streamBytes;
    // Filled by Wsq from the stream itself.
    List<byte[]> comments = List.of();

    WsqInfo() {
    }

    /** X: samples per line. */
    public int width() {
        return width;
    }

    /** Y: lines. */
    public int height() {
        return height;
    }

    /** A: the scanner's black calibration. */
    public int black() {
        return black;
    }

    /** B: the scanner's white calibration. */
    public int white() {
        return white;
    }

    /** M of the pixel normalisation. */
    public float midpoint() {
        return midpoint;
    }

    /** R of the pixel normalisation. */
    public float rescale() {
        return rescale;
    }

    /** Ev: the encoder's parameterization number. */
    public int encoder() {
        return encoder;
    }

    /** Sf: the encoder's software number. */
    public int software() {
        return software;
    }

    /** L0 and L1 of the transform table. */
    public int[] filterLengths() {
        return filterLengths.clone();
    }

    /** C: the bin center. */
    public float center() {
        return center;
    }

    /** The numbers of the Huffman tables defined, lowest first. */
    public int[] huffmanTables() {
        return IntStream.range(0, Integer.SIZE).filter(t -> (tables >>> t & 1) != 0).toArray();
    }

    /** From a restart interval segment; 0 without one. */
    public int restartInterval() {
        return restartInterval;
    }

    /** The Huffman table of each entropy-coded block. */
    public int[] blockTables() {
        return blockTables.clone();
    }

    /** The coded bytes of each block as stored. */
    public long[] blockBytes() {
        return blockBytes.clone();
    }

    /** The comment segments' bytes, in stream order (the library's encoder writes UTF-8). */
    public List<byte[]> comments() {
        return comments.stream().map(byte[]::clone).toList();
    }

    /** The length of the stream, Start-Of-Image to End-Of-Image: where the next one starts. */
    public long streamBytes() {
        return streamBytes;
    }

    /** Bits of stream per pixel: streamBytes * 8 / (width * height). */
    public double bitsPerPixel() {
        return streamBytes * 8.0 / ((double) width * height);
    }

    int commentCount() {
        return commentCount;
    }

    @Override
    public String toString() {
        return "WsqInfo[" + width + "x" + height + ", " + streamBytes + " bytes, " + comments.size()
            + " comments]";
    }
}
