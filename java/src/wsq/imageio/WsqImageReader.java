package wsq.imageio;

import java.awt.Point;
import java.awt.Rectangle;
import java.awt.image.DataBuffer;
import java.awt.image.BufferedImage;
import java.awt.image.WritableRaster;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.util.Iterator;
import java.util.List;
import javax.imageio.IIOException;
import javax.imageio.ImageReadParam;
import javax.imageio.ImageReader;
import javax.imageio.ImageTypeSpecifier;
import javax.imageio.metadata.IIOMetadata;
import javax.imageio.spi.ImageReaderSpi;
import javax.imageio.stream.ImageInputStream;
import wsq.DecodeOptions;
import wsq.Wsq;
import wsq.WsqImage;
import wsq.WsqInfo;

/**
 * Reads WSQ streams as 8-bit gray ({@link BufferedImage#TYPE_BYTE_GRAY}) images: one image a
 * stream, for streams stored back to back. The input is read whole at the first question
 * asked of it; the count, width and height of the images come from the streams' headers,
 * without decoding any pixels ({@link #getInfo} gives the rest of the facts). Source regions,
 * subsampling and destination offsets of an {@link ImageReadParam} are honoured. Subsampling
 * by a multiple of 2, 4 or 8 in both directions takes the reduced decoding
 * ({@link DecodeOptions#withReduce}) by the largest of them: a preview in a fraction of the
 * time, each pixel standing for the square of the image around the sampled one. A flawed
 * stream throws {@link wsq.WsqException}, an IOException carrying the library's status and the
 * offset of the flaw in the input.
 */
public final class WsqImageReader extends ImageReader {
    /** The fractions the reduced decoding gives, largest first. */
    private static final List<Integer> REDUCTIONS = List.of(8, 4, 2);
    private static final ImageTypeSpecifier GRAY =
        ImageTypeSpecifier.createFromBufferedImageType(BufferedImage.TYPE_BYTE_GRAY);

    private byte[] data;
    private List<WsqInfo> streams;

    WsqImageReader(ImageReaderSpi provider) {
        super(provider);
    }

    @Override
    public void setInput(Object input, boolean seekForwardOnly, boolean ignoreMetadata) {
        super.setInput(input, seekForwardOnly, ignoreMetadata);
        data = null;
        streams = null;
    }

    @Override
    public int getNumImages(boolean allowSearch) throws IOException {
        return streams().size();
    }

    @Override
    public int getWidth(int imageIndex) throws IOException {
        return getInfo(imageIndex).width();
    }

    @Override
    public int getHeight(int imageIndex) throws IOException {
        return getInfo(imageIndex).height();
    }

    /** The facts of image imageIndex's stream, read without decoding it. */
    public WsqInfo getInfo(int imageIndex) throws IOException {
        List<WsqInfo> found = streams();
        if (imageIndex < 0 || imageIndex >= found.size()) {
            throw new IndexOutOfBoundsException("image " + imageIndex + " of " + found.size());
        }
        return found.get(imageIndex);
    }

    @Override
    public Iterator<ImageTypeSpecifier> getImageTypes(int imageIndex) throws IOException {
        getInfo(imageIndex);
        return List.of(GRAY).iterator();
    }

    @Override
    public IIOMetadata getStreamMetadata() {
        return null;
    }

    @Override
    public IIOMetadata getImageMetadata(int imageIndex) {
        return null;
    }

    @Override
    public BufferedImage read(int imageIndex, ImageReadParam param) throws IOException {
        WsqInfo info = getInfo(imageIndex);
        int offset = 0;
        for (int index = 0; index < imageIndex; index++) {
            offset += (int) streams.get(index).streamBytes();
        }
        int reduce = reduction(param);
        processImageStarted(imageIndex);
        WsqImage image =
            Wsq.decode(data, offset, DecodeOptions.defaults().withReduce(reduce));
        BufferedImage destination =
            getDestination(param, getImageTypes(imageIndex), info.width(), info.height());
        copy(image, reduce, param, destination);
        processImageComplete();
        return destination;
    }

    /** The fraction of the image to decode for param's subsampling: the largest of 8, 4 and 2
     *  that divides both its steps, else 1. */
    private static int reduction(ImageReadParam param) {
        return param == null ? 1 : REDUCTIONS.stream()
            .filter(r -> param.getSourceXSubsampling() % r == 0
                         && param.getSourceYSubsampling() % r == 0)
            .findFirst().orElse(1);
    }

    /**
     * Copies the part of the whole image that param selects into destination, where param
     * places it, from image, the whole image at 1/reduce.
     */
    private static void copy(WsqImage image, int reduce, ImageReadParam param,
                             BufferedImage destination) throws IIOException {
        WritableRaster raster = destination.getRaster();
        if (raster.getNumBands() != 1) {
            throw new IIOException("a WSQ image is read into a gray image only, of one band");
        }
        Rectangle source = new Rectangle();
        Rectangle target = new Rectangle();
        computeRegions(param, image.info().width(), image.info().height(), destination, source,
                       target);
        int stepX = param == null ? 1 : param.getSourceXSubsampling();
        int stepY = param == null ? 1 : param.getSourceYSubsampling();
        byte[] pixels = image.pixels();
        boolean whole = source.equals(new Rectangle(image.width(), image.height()))
            && target.getLocation().equals(new Point()) && stepX == 1 && stepY == 1;
        if (whole && raster.getTransferType() == DataBuffer.TYPE_BYTE) {
            raster.setDataElements(0, 0, image.width(), image.height(), pixels);
            return;
        }
        int[] row = new int[target.width];
        for (int y = 0; y < target.height; y++) {
            int start = (source.y + y * stepY) / reduce * image.width();
            for (int x = 0; x < target.width; x++) {
                row[x] = pixels[start + (source.x + x * stepX) / reduce] & 0xFF;
            }
            raster.setSamples(target.x, target.y + y, target.width, 1, 0, row);
        }
    }

    /** The facts of every stream of the input, which is read whole the first time. */
    private List<WsqInfo> streams() throws IOException {
        if (streams == null) {
            if (!(getInput() instanceof ImageInputStream input)) {
                throw new IllegalStateException("no input set");
            }
            data = readAll(input);
            streams = Wsq.infoAll(data);
        }
        return streams;
    }

    private static byte[] readAll(ImageInputStream input) throws IOException {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        byte[] chunk = new byte[1 << 16];
        for (int count; (count = input.read(chunk)) != -1; ) {
            bytes.write(chunk, 0, count);
        }
        return bytes.toByteArray();
    }
}
