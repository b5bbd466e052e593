package wsq.imageio;

import java.awt.Rectangle;
import java.awt.image.RenderedImage;
import java.io.IOException;
import javax.imageio.IIOImage;
import javax.imageio.ImageTypeSpecifier;
import javax.imageio.ImageWriteParam;
import javax.imageio.ImageWriter;
import javax.imageio.metadata.IIOMetadata;
import javax.imageio.spi.ImageWriterSpi;
import javax.imageio.stream.ImageOutputStream;
import wsq.EncodeOptions;
import wsq.Wsq;

/**
 * Writes images as WSQ streams, at 0.75 bits per pixel unless a {@link WsqImageWriteParam}
 * says otherwise. Colour images are converted to gray first (see {@link GrayPixels}). A
 * sequence ({@link #prepareWriteSequence}) writes one stream an image, back to back, which
 * {@link WsqImageReader} reads as as many images. A refused image throws
 * {@link wsq.WsqException}.
 */
public final class WsqImageWriter extends ImageWriter {
    private boolean inSequence;

    WsqImageWriter(ImageWriterSpi provider) {
        super(provider);
    }

    @Override
    public ImageWriteParam getDefaultWriteParam() {
        return new WsqImageWriteParam(getLocale());
    }

    @Override
    public void setOutput(Object output) {
        super.setOutput(output);
        inSequence = false;
    }

    @Override
    public IIOMetadata getDefaultStreamMetadata(ImageWriteParam param) {
        return null;
    }

    @Override
    public IIOMetadata getDefaultImageMetadata(ImageTypeSpecifier type, ImageWriteParam param) {
        return null;
    }

    @Override
    public IIOMetadata convertStreamMetadata(IIOMetadata metadata, ImageWriteParam param) {
        return null;
    }

    @Override
    public IIOMetadata convertImageMetadata(IIOMetadata metadata, ImageTypeSpecifier type,
                                            ImageWriteParam param) {
        return null;
    }

    @Override
    public void write(IIOMetadata streamMetadata, IIOImage image, ImageWriteParam param)
            throws IOException {
        ImageOutputStream output = output();
        RenderedImage rendered = image.getRenderedImage();
        if (rendered == null) {
            throw new UnsupportedOperationException("a WSQ writer takes images, not rasters");
        }
        Rectangle region = param == null || param.getSourceRegion() == null
            ? new Rectangle(rendered.getMinX(), rendered.getMinY(), rendered.getWidth(),
                            rendered.getHeight())
            : param.getSourceRegion();
        int stepX = param == null ? 1 : param.getSourceXSubsampling();
        int stepY = param == null ? 1 : param.getSourceYSubsampling();
        EncodeOptions options = param instanceof WsqImageWriteParam wsq
            ? wsq.getOptions() : EncodeOptions.defaults();
        GrayPixels gray = GrayPixels.of(rendered, region, stepX, stepY, options.deep());
        processImageStarted(0);
        output.write(Wsq.encode(gray.pixels(), gray.width(), gray.height(), options));
        output.flush();
        processImageComplete();
    }

    @Override
    public boolean canWriteSequence() {
        return true;
    }

    @Override
    public void prepareWriteSequence(IIOMetadata streamMetadata) {
        output();
        inSequence = true;
    }

    @Override
    public void writeToSequence(IIOImage image, ImageWriteParam param) throws IOException {
        if (!inSequence) {
            throw new IllegalStateException("prepareWriteSequence was not called");
        }
        write(null, image, param);
    }

    @Override
    public void endWriteSequence() {
        if (!inSequence) {
            throw new IllegalStateException("prepareWriteSequence was not called");
        }
        inSequence = false;
    }

    private ImageOutputStream output() {
        if (!(getOutput() instanceof ImageOutputStream output)) {
            throw new IllegalStateException("no output set");
        }
        return output;
    }
}
