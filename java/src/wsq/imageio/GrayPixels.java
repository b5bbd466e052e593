package wsq.imageio;

import java.awt.Rectangle;
import java.awt.image.BufferedImage;
import java.awt.image.ColorModel;
import java.awt.image.DataBuffer;
import java.awt.image.IndexColorModel;
import java.awt.image.Raster;
import java.awt.image.RenderedImage;
import java.awt.image.WritableRaster;
import wsq.EncodeOptions;
import wsq.Wsq;
import wsq.WsqException;

/**
 * The 8-bit gray pixels the writer codes, from an image of any kind:
 * <ul>
 * <li>a gray image (one band, no palette) gives its samples; those of fewer than 8 bits
 *     scaled to 0-255 and rounded; those of more, a deep image, refused or scaled alike as
 *     {@link EncodeOptions.Deep} says;
 * <li>any other (colour, palette, with alpha) gives the gray of its sRGB colours by the rule
 *     every binding of the library uses ({@link Wsq#grayFromColor}): the same bytes as the
 *     Python package writes for the same colours. Alpha is ignored.
 * </ul>
 */
record GrayPixels(byte[] pixels, int width, int height) {
    /**
     * The gray pixels of region of image, every stepX-th column of every stepY-th row; a deep
     * image's as deep says.
     */
    static GrayPixels of(RenderedImage image, Rectangle region, int stepX, int stepY,
                         EncodeOptions.Deep deep) throws WsqException {
        Rectangle bounds = region.intersection(
            new Rectangle(image.getMinX(), image.getMinY(), image.getWidth(), image.getHeight()));
        if (bounds.isEmpty()) {
            throw new IllegalArgumentException("the source region lies outside the image");
        }
        Raster raster = image.getData(bounds);
        ColorModel model = image.getColorModel();
        byte[] all = raster.getNumBands() == 1 && !(model instanceof IndexColorModel)
            ? graySamples(raster, bounds, deep) : Wsq.grayFromColor(rgb(image, model, bounds), 3);
        return subsampled(all, bounds.width, bounds.height, stepX, stepY);
    }

    private static byte[] graySamples(Raster raster, Rectangle bounds, EncodeOptions.Deep deep)
            throws WsqException {
        int bits = raster.getSampleModel().getSampleSize(0);
        if (bits == 8 && raster.getTransferType() == DataBuffer.TYPE_BYTE) {
            return (byte[]) raster.getDataElements(bounds.x, bounds.y, bounds.width, bounds.height,
                                                   null);
        }
        int[] samples =
            raster.getSamples(bounds.x, bounds.y, bounds.width, bounds.height, 0, (int[]) null);
        return Wsq.grayFromSamples(samples, bits, deep);
    }

    /** The red, green and blue bytes of every pixel of bounds, in sRGB. */
    private static byte[] rgb(RenderedImage image, ColorModel model, Rectangle bounds) {
        WritableRaster copy = model.createCompatibleWritableRaster(bounds.width, bounds.height);
        image.copyData(copy.createWritableTranslatedChild(bounds.x, bounds.y));
        int[] argb = new BufferedImage(model, copy, model.isAlphaPremultiplied(), null)
            .getRGB(0, 0, bounds.width, bounds.height, null, 0, bounds.width);
        byte[] rgb = new byte[argb.length * 3];
        for (int i = 0; i < argb.length; i++) {
            rgb[3 * i] = (byte) (argb[i] >> 16);
            rgb[3 * i + 1] = (byte) (argb[i] >> 8);
            rgb[3 * i + 2] = (byte) argb[i];
        }
        return rgb;
    }

    private static GrayPixels subsampled(byte[] pixels, int width, int height, int stepX,
                                         int stepY) {
        if (stepX == 1 && stepY == 1) {
            return new GrayPixels(pixels, width, height);
        }
        int columns = (width + stepX - 1) / stepX;
        int rows = (height + stepY - 1) / stepY;
        byte[] kept = new byte[columns * rows];
        for (int y = 0; y < rows; y++) {
            for (int x = 0; x < columns; x++) {
                kept[y * columns + x] = pixels[y * stepY * width + x * stepX];
            }
        }
        return new GrayPixels(kept, columns, rows);
    }
}
