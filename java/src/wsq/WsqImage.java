package wsq;

/**
 * A decoded WSQ stream: height rows of width 8-bit gray pixels, row after row, top row first,
 * 0 black, and the stream's facts. Decoded with {@link DecodeOptions#withReduce}, width and
 * height are the preview's while the facts keep the stream's. The pixel array is the record's
 * own: it is not copied. An image stored uncompressed in a {@link Transaction} has no stream:
 * its info is null.
 */
public record WsqImage(int width, int height, byte[] pixels, WsqInfo info) {
}
