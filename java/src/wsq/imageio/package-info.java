/**
 * The WSQ format for {@code javax.imageio}, registered through META-INF/services:
 * {@code ImageIO.read} gives {@code TYPE_BYTE_GRAY} images, one a stream;
 * {@code ImageIO.write(image, "wsq", file)} writes a stream at 0.75 bits per pixel, and a
 * {@link wsq.imageio.WsqImageWriteParam} sets another bit rate.
 */
package wsq.imageio;
