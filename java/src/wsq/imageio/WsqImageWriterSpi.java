package wsq.imageio;

import java.util.Locale;
import javax.imageio.ImageTypeSpecifier;
import javax.imageio.ImageWriter;
import javax.imageio.spi.ImageWriterSpi;
import javax.imageio.stream.ImageOutputStream;

/** Registers {@link WsqImageWriter} with ImageIO (META-INF/services). Every image can be
 *  written: colour ones are converted to gray. */
public final class WsqImageWriterSpi extends ImageWriterSpi {
    public WsqImageWriterSpi() {
        super(Format.VENDOR, Format.version(), Format.NAMES, Format.SUFFIXES, Format.MIME_TYPES,
              WsqImageWriter.class.getName(), new Class<?>[] {ImageOutputStream.class},
              new String[] {WsqImageReaderSpi.class.getName()},
              false, null, null, null, null, false, null, null, null, null);
    }

    @Override
    public boolean canEncodeImage(ImageTypeSpecifier type) {
        return true;
    }

    @Override
    public ImageWriter createWriterInstance(Object extension) {
        return new WsqImageWriter(this);
    }

    @Override
    public String getDescription(Locale locale) {
        return "WSQ fingerprint image writer";
    }
}
