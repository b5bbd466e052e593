package wsq;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.awt.Rectangle;
import java.awt.image.BufferedImage;
import java.awt.image.DataBufferByte;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import javax.imageio.IIOImage;
import javax.imageio.ImageIO;
import javax.imageio.ImageReadParam;
import javax.imageio.ImageReader;
import javax.imageio.ImageWriter;
import javax.imageio.stream.ImageInputStream;
import javax.imageio.stream.ImageOutputStream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import wsq.imageio.WsqImageWriteParam;

/** The ImageIO plugin: reading, writing, bit rate, colour, sequences, and facts without pixels. */
class ImageIoTest {
    static final Samples FINGERPRINT = samples("sd04_f0001_01");
    static final byte[] PIXELS = FINGERPRINT.pixels();

    @Test
    void readGivesGrayImagesOfTheDecodedPixels() throws Exception {
        Path file = Samples.DATA.resolve("wsq-original.wsq");
        BufferedImage image = ImageIO.read(file.toFile());
        assertEquals(BufferedImage.TYPE_BYTE_GRAY, image.getType());
        assertArrayEquals(Wsq.decode(Files.readAllBytes(file)).pixels(), pixels(image));
    }

    @Test
    void subsamplingBy2To8ReadsTheReducedDecoding() throws Exception {
        Path file = Samples.DATA.resolve("wsq-original.wsq");
        ImageReader reader = reader(Files.readAllBytes(file));
        ImageReadParam param = reader.getDefaultReadParam();
        param.setSourceSubsampling(4, 4, 0, 0);
        assertArrayEquals(Samples.unwsq(file, "--scale", "1/4"), pixels(reader.read(0, param)));
        param.setSourceRegion(new Rectangle(100, 50, 300, 400));
        param.setSourceSubsampling(8, 16, 0, 0);
        byte[] part = pixels(reader.read(0, param));
        byte[] eighth = Samples.unwsq(file, "--scale", "1/8");
        assertEquals(38 * 25, part.length);
        assertEquals(eighth[(50 + 16 * 7) / 8 * 104 + (100 + 8 * 5) / 8], part[7 * 38 + 5]);
    }

    @Test
    void writeCodesAtTheDefaultsOrTheParamsBitRate(@TempDir Path directory) throws Exception {
        BufferedImage image = grayImage(PIXELS, 512, 512);
        File file = directory.resolve("f.wsq").toFile();
        assertEquals(true, ImageIO.write(image, "wsq", file));
        assertArrayEquals(FINGERPRINT.wsq1(), Files.readAllBytes(file.toPath()));

        ImageWriter writer = ImageIO.getImageWritersByFormatName("wsq").next();
        WsqImageWriteParam param = (WsqImageWriteParam) writer.getDefaultWriteParam();
        assertEquals(0.75, param.getBitRate());
        param.setBitRate(2.25);
        assertArrayEquals(FINGERPRINT.wsq1("-Z2.25"), write(writer, param, image));
        param.setSourceRegion(new Rectangle(100, 50, 300, 400));
        param.setSourceSubsampling(2, 1, 0, 0);
        byte[] part = new byte[150 * 400];
        for (int i = 0; i < part.length; i++) {
            part[i] = PIXELS[(50 + i / 150) * 512 + 100 + 2 * (i % 150)];
        }
        assertArrayEquals(Wsq.encode(part, 150, 400, param.getOptions()),
                          write(writer, param, image));
    }

    @Test
    void colourImagesAreCodedFromTheSharedGrayRule() throws Exception {
        byte[] gray = PIXELS;
        byte[] expected = new byte[gray.length];
        BufferedImage[] images = {new BufferedImage(512, 512, BufferedImage.TYPE_INT_RGB),
                                  new BufferedImage(512, 512, BufferedImage.TYPE_3BYTE_BGR),
                                  new BufferedImage(512, 512, BufferedImage.TYPE_INT_ARGB)};
        for (int i = 0; i < gray.length; i++) {
            int red = gray[i] & 0xFF, green = (gray[i] * 7) & 0xFF, blue = 255 - red;
            expected[i] = (byte) ((19595 * red + 38470 * green + 7471 * blue + 32768) >> 16);
            for (BufferedImage image : images) {
                image.setRGB(i % 512, i / 512, 0x80 << 24 | red << 16 | green << 8 | blue);
            }
        }
        ImageWriter writer = ImageIO.getImageWritersByFormatName("wsq").next();
        for (BufferedImage image : images) {
            assertArrayEquals(Wsq.encode(expected, 512, 512), write(writer, null, image));
        }
    }

    @Test
    void deepImagesAreRefusedUnlessScalingIsAskedFor() throws Exception {
        ImageWriter writer = ImageIO.getImageWritersByFormatName("wsq").next();
        WsqImageWriteParam param = (WsqImageWriteParam) writer.getDefaultWriteParam();
        param.setOptions(EncodeOptions.defaults().withDeep(EncodeOptions.Deep.SCALE));
        for (int offset : new int[] {-128, 128}) {  // the farthest from v x 257 that scale to v
            BufferedImage deep = new BufferedImage(512, 512, BufferedImage.TYPE_USHORT_GRAY);
            int[] samples = new int[PIXELS.length];
            Arrays.setAll(samples,
                          i -> Math.max(0, Math.min(65535, (PIXELS[i] & 0xFF) * 257 + offset)));
            deep.getRaster().setSamples(0, 0, 512, 512, 0, samples);
            assertArrayEquals(FINGERPRINT.wsq1(), write(writer, param, deep));
            WsqException refused =
                assertThrows(WsqException.class, () -> write(writer, null, deep));
            assertEquals("the image has 16 bits a sample, and WSQ codes 8: set the option deep to "
                         + "\"scale\" to scale its values to 0-255 (v x 255 / 65535, rounded)",
                         refused.reason());
            assertEquals(WsqException.ARGUMENT, refused.status());
        }
    }

    @Test
    void aSequenceIsStreamsBackToBackAndReadsAsSeveralImages() throws Exception {
        ImageWriter writer = ImageIO.getImageWritersByFormatName("wsq").next();
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        try (ImageOutputStream output = ImageIO.createImageOutputStream(bytes)) {
            writer.setOutput(output);
            writer.prepareWriteSequence(null);
            for (int width : new int[] {512, 256}) {
                BufferedImage image = grayImage(PIXELS, width, 512 * 512 / width);
                writer.writeToSequence(new IIOImage(image, null, null), null);
            }
            writer.endWriteSequence();
        }
        ImageReader reader = reader(bytes.toByteArray());
        assertEquals(2, reader.getNumImages(true));
        assertEquals(256, reader.getWidth(1));
        ImageReadParam param = reader.getDefaultReadParam();
        param.setSourceRegion(new Rectangle(10, 20, 100, 200));
        param.setSourceSubsampling(3, 2, 0, 0);
        BufferedImage part = reader.read(1, param);
        byte[] all = Wsq.decodeAll(bytes.toByteArray()).get(1).pixels();
        assertEquals(34 * 100, pixels(part).length);
        assertEquals(all[(20 + 2 * 5) * 256 + 10 + 3 * 7], pixels(part)[5 * 34 + 7]);
        assertThrows(IndexOutOfBoundsException.class, () -> reader.getWidth(2));
    }

    @Test
    void theFactsAreReadWithoutDecodingThePixels() throws Exception {
        Path file = Samples.DATA.resolve("hostile/too-few-coefficients.wsq");
        byte[] flawedBlock = Files.readAllBytes(file);
        ImageReader reader = reader(flawedBlock);
        assertEquals(1, reader.getNumImages(true));
        assertEquals(99, reader.getWidth(0));
        assertEquals(121, reader.getHeight(0));
        WsqException error = assertThrows(WsqException.class, () -> reader.read(0));
        assertEquals(WsqException.BLOCK, error.status());
        byte[] bare = {(byte) 0xFF, (byte) 0xA0};
        assertThrows(WsqException.class, () -> reader(bare).getWidth(0));
    }

    static ImageReader reader(byte[] data) throws IOException {
        ImageInputStream input = ImageIO.createImageInputStream(new ByteArrayInputStream(data));
        ImageReader reader = ImageIO.getImageReaders(input).next();
        reader.setInput(input);
        return reader;
    }

    static byte[] write(ImageWriter writer, WsqImageWriteParam param, BufferedImage image)
            throws IOException {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        try (ImageOutputStream output = ImageIO.createImageOutputStream(bytes)) {
            writer.setOutput(output);
            writer.write(null, new IIOImage(image, null, null), param);
        }
        return bytes.toByteArray();
    }

    static BufferedImage grayImage(byte[] pixels, int width, int height) {
        BufferedImage image = new BufferedImage(width, height, BufferedImage.TYPE_BYTE_GRAY);
        image.getRaster().setDataElements(0, 0, width, height, pixels);
        return image;
    }

    static byte[] pixels(BufferedImage image) {
        return ((DataBufferByte) image.getRaster().getDataBuffer()).getData();
    }

    static Samples samples(String name) {
        try {
            return Samples.named(name);
        } catch (IOException error) {
            throw new UncheckedIOException(error);
        }
    }
}
