package wsq.imageio;

import java.io.IOException;
import java.util.Locale;
import javax.imageio.ImageReader;
import javax.imageio.spi.ImageReaderSpi;
import javax.imageio.stream.ImageInputStream;

/** Registers {@link WsqImageReader} with ImageIO (META-INF/services): input starting with the
 *  Start-Of-Image marker, FF A0, is WSQ. */
public final class WsqImageReaderSpi extends ImageReaderSpi {
    public WsqImageReaderSpi() {
        super(Format.VENDOR, Format.version(), Format.NAMES, Format.SUFFIXES, Format.MIME_TYPES,
              WsqImageReader.class.getName(), new Class<?>[] {ImageInputStream.class},
              new String[] {WsqImageWriterSpi.class.getName()},
              false, null, null, null, null, false, null, null, null, null);
    }

    @Override
    public boolean canDecodeInput(Object source) throws IOException {
        if (!(source instanceof ImageInputStream stream)) {
            return false;
        }
        byte[] marker = new byte[2];
        stream.mark();
        try {
            stream.readFully(marker);
        } catch (java.io.EOFException tooShort) {
            return false;
        } finally {
            stream.reset();
        }
        return marker[0] == (byte) 0xFF && marker[1] == (byte) 0xA0;
    }

    @Override
    public ImageReader createReaderInstance(Object extension) {
        return new WsqImageReader(this);
    }

    @Override
    public String getDescription(Locale locale) {
        return "WSQ fingerprint image reader";
    }
}
