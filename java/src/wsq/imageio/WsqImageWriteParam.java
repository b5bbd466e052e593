package wsq.imageio;

import java.util.Locale;
import java.util.Objects;
import javax.imageio.ImageWriteParam;
import wsq.EncodeOptions;

/**
 * The settings of {@link WsqImageWriter}: the bit rate, and all of {@link EncodeOptions}
 * (comment, calibration, threads). {@code writer.getDefaultWriteParam()} gives one holding the
 * library's defaults, 0.75 bits per pixel:
 *
 * <pre>{@code
 * WsqImageWriteParam param = (WsqImageWriteParam) writer.getDefaultWriteParam();
 * param.setBitRate(2.25);
 * writer.write(null, new IIOImage(image, null, null), param);
 * }</pre>
 *
 * The bit rate is a setting of its own rather than the compression quality of ImageWriteParam:
 * it has no upper bound that a quality from 0 to 1 could map to. Source regions and
 * subsampling are honoured.
 */
public class WsqImageWriteParam extends ImageWriteParam {
    private EncodeOptions options = EncodeOptions.defaults();

    public WsqImageWriteParam(Locale locale) {
        super(locale);
    }

    /** The nominal bits per pixel the coder steers to. */
    public void setBitRate(double bitrate) {
        options = options.withBitrate(bitrate);
    }

    public double getBitRate() {
        return options.bitrate();
    }

    /** Every setting of the encoder at once. */
    public void setOptions(EncodeOptions options) {
        this.options = Objects.requireNonNull(options, "options");
    }

    public EncodeOptions getOptions() {
        return options;
    }
}
