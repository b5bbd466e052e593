package wsq;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static wsq.WsqException.ARGUMENT;
import static wsq.WsqException.BITRATE;
import static wsq.WsqException.IMAGE;
import static wsq.WsqException.LIMIT;
import static wsq.WsqException.NOT_WSQ;
import static wsq.WsqException.TRAILING;
import static wsq.WsqException.TRUNCATED;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.function.ToLongFunction;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** Wsq.encode, decode and info against wsq1 and unwsq, hostile input and threads. */
class CodecTest {
    static List<Samples> samples() throws IOException {
        return Samples.all();
    }

    @ParameterizedTest
    @MethodSource("samples")
    void encodeGivesTheBytesOfWsq1(Samples sample) throws Exception {
        byte[] pixels = sample.pixels();
        assertArrayEquals(sample.wsq1(), Wsq.encode(pixels, sample.width(), sample.height()));
        EncodeOptions options = EncodeOptions.defaults().withBitrate(1.5).withComment("scan 7")
            .withCalibration(12, 243).withThreads(2);
        assertArrayEquals(sample.wsq1("-Z1.5", "-cscan 7", "-S12,243"),
                          Wsq.encode(pixels, sample.width(), sample.height(), options));
    }

    @Test
    void decodeGivesTheNativeDecodersPixelsAndFacts() throws Exception {
        Path file = Samples.DATA.resolve("wsq-original.wsq");
        byte[] stream = Files.readAllBytes(file);
        WsqImage image = Wsq.decode(stream, DecodeOptions.defaults().withThreads(0));
        assertEquals(List.of(832, 768), List.of(image.width(), image.height()));
        assertArrayEquals(Samples.unwsq(file), image.pixels());
        WsqInfo info = image.info();
        assertEquals(stream.length, info.streamBytes());
        assertEquals(stream.length * 8.0 / (832 * 768), info.bitsPerPixel());
        assertTrue(new String(info.comments().get(0)).contains("PIX_WIDTH 832\n"));
        assertEquals(3, info.blockTables().length);
    }

    @Test
    void reducedDecodingGivesTheNativeDecodersPreviews() throws Exception {
        Path file = Samples.DATA.resolve("wsq-original.wsq");
        byte[] stream = Files.readAllBytes(file);
        for (int reduce : new int[] {2, 4, 8}) {
            WsqImage preview = Wsq.decode(stream, DecodeOptions.defaults().withReduce(reduce));
            assertEquals(List.of(Wsq.reduced(832, reduce), Wsq.reduced(768, reduce), 832),
                         List.of(preview.width(), preview.height(), preview.info().width()));
            assertArrayEquals(Samples.unwsq(file, "--scale", "1/" + reduce), preview.pixels());
        }
    }

    @Test
    void streamsBackToBackGiveOneResultEach() throws Exception {
        Samples sample = Samples.named("sd04_f0001_01");
        byte[] pixels = sample.pixels();
        byte[] first = Wsq.encode(pixels, 512, 512, EncodeOptions.defaults().withComment("first"));
        byte[] second = Wsq.encode(Arrays.copyOf(pixels, 512 * 300), 512, 300,
                                   EncodeOptions.defaults().withBitrate(2.25));
        byte[] both = concat(first, second);
        List<WsqImage> images = Wsq.decodeAll(both);
        assertEquals(List.of(512, 300), images.stream().map(WsqImage::height).toList());
        assertArrayEquals(Wsq.decode(second).pixels(), images.get(1).pixels());
        assertArrayEquals(images.get(0).pixels(), Wsq.decode(both).pixels());
        List<WsqInfo> facts = Wsq.infoAll(both);
        assertEquals(List.of((long) first.length, (long) second.length),
                     facts.stream().map(WsqInfo::streamBytes).toList());
        assertEquals("first", new String(facts.get(0).comments().get(0)));
        assertEquals(List.of(), facts.get(1).comments());
    }

    interface Call {
        void on(byte[] stream) throws WsqException;
    }

    static Stream<Arguments> failures() throws IOException {
        byte[] image = Samples.named("mcc_sample_1_1").pixels();
        EncodeOptions settings = EncodeOptions.defaults();
        DecodeOptions limits = DecodeOptions.defaults();
        ToLongFunction<byte[]> start = s -> 0;
        return Stream.of(
            failure("empty", s -> Wsq.decode(new byte[0]), NOT_WSQ, start),
            failure("cut", s -> Wsq.decode(cut(s)), TRUNCATED, s -> -1),
            failure("junk after", s -> Wsq.info(concat(s, new byte[4])), TRAILING, s -> s.length),
            failure("second cut", s -> Wsq.decodeAll(concat(s, cut(s))), TRUNCATED,
                    s -> s.length + offsetOf(() -> Wsq.decode(cut(s)))),
            failure("limit", s -> Wsq.decode(s, limits.withMaxPixels(100)), LIMIT, s -> -1),
            failure("no limit", s -> Wsq.decode(s, limits.withMaxPixels(-1)), ARGUMENT, start),
            failure("decode threads", s -> Wsq.decode(s, limits.withThreads(257)), ARGUMENT, start),
            failure("reduce 3", s -> Wsq.decode(s, limits.withReduce(3)), ARGUMENT, start),
            failure("short array", s -> Wsq.encode(image, 257, 364), ARGUMENT, start),
            failure("narrow", s -> Wsq.encode(image, 20, 100), ARGUMENT, start),
            failure("small", s -> Wsq.encode(image, 60, 60), IMAGE, start),
            failure("flat", s -> Wsq.encode(new byte[10000], 100, 100), IMAGE, start),
            failure("bit rate 0", s -> encode(image, settings.withBitrate(0)), BITRATE, start),
            failure("bit rate NaN", s -> encode(image, settings.withBitrate(Double.NaN)), BITRATE,
                    start),
            failure("black", s -> encode(image, settings.withCalibration(256, 0)), ARGUMENT, start),
            failure("threads", s -> encode(image, settings.withThreads(-1)), ARGUMENT, start),
            failure("NUL", s -> encode(image, settings.withComment("a\0b")), ARGUMENT, start),
            failure("long comment", s -> encode(image, settings.withComment("x".repeat(65534))),
                    ARGUMENT, start),
            failure("channels", s -> Wsq.grayFromColor(new byte[6], 2), ARGUMENT, start),
            failure("part pixel", s -> Wsq.grayFromColor(new byte[7], 3), ARGUMENT, start));
    }

    static byte[] cut(byte[] stream) {
        return Arrays.copyOf(stream, 3000);
    }

    static void encode(byte[] image, EncodeOptions options) throws WsqException {
        Wsq.encode(image, 256, 364, options);
    }

    /** The offset of the failure of call, which must fail. */
    static long offsetOf(org.junit.jupiter.api.function.Executable call) {
        return assertThrows(WsqException.class, call).offset();
    }

    static Arguments failure(String name, Call call, int status, ToLongFunction<byte[]> offset) {
        return Arguments.of(name, call, status, offset);
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("failures")
    void everyFailureThrowsTheLibrarysFacts(String name, Call call, int status,
                                            ToLongFunction<byte[]> offset) throws Exception {
        byte[] stream = Wsq.encode(Samples.named("mcc_sample_1_1").pixels(), 256, 364);
        WsqException error = assertThrows(WsqException.class, () -> call.on(stream));
        assertEquals(status, error.status(), error.getMessage());
        if (offset.applyAsLong(stream) >= 0) {
            assertEquals(offset.applyAsLong(stream), error.offset(), error.getMessage());
        }
        assertTrue(error.getMessage().startsWith(error.statusName()) && !error.reason().isEmpty(),
                   error.getMessage());
    }

    /**
     * Every hostile stream is refused as every path refuses it, for its first flaw (two flaws
     * in either order, two streams); the facts, when they refuse it, alike, except for the
     * second of two streams, whose flaw they find past the first one's in coded data they do
     * not read.
     */
    @Test
    void everyHostileStreamIsRefusedForItsFirstFlaw() throws Exception {
        Path hostile = Samples.DATA.resolve("hostile");
        for (String line : Files.readAllLines(hostile.resolve("verdicts.tsv"))) {
            String[] verdict = line.split("\t");
            byte[] data = Files.readAllBytes(hostile.resolve(verdict[0]));
            List<String> expected = List.of(verdict).subList(1, 4);
            for (DecodeOptions options : List.of(DecodeOptions.defaults(),
                                                 DecodeOptions.defaults().withReduce(8))) {
                assertEquals(expected, refusal(s -> Wsq.decodeAll(data, options)), verdict[0]);
            }
            List<String> facts = refusal(s -> Wsq.infoAll(data));
            if (!facts.isEmpty() && !verdict[0].equals("flaws-in-two-streams.wsq")) {
                assertEquals(expected, facts, verdict[0]);
            }
        }
        assertThrows(NullPointerException.class, () -> Wsq.encode(null, 100, 100));
        assertThrows(IndexOutOfBoundsException.class, () -> Wsq.info(new byte[4], 5));
    }

    /** The status, offset and reason of the call's failure; empty if it succeeds. */
    static List<String> refusal(Call call) {
        try {
            call.on(null);
            return List.of();
        } catch (WsqException error) {
            return List.of(String.valueOf(error.status()), String.valueOf(error.offset()),
                           error.reason());
        }
    }

    @Test
    void eightThreadsAtOnceGiveTheBytesOfOne() throws Exception {
        List<Samples> samples = Samples.all();
        List<byte[]> streams = new ArrayList<>();
        List<byte[]> decoded = new ArrayList<>();
        for (Samples sample : samples) {
            streams.add(Wsq.encode(sample.pixels(), sample.width(), sample.height()));
            decoded.add(Wsq.decode(streams.get(streams.size() - 1)).pixels());
        }
        ExecutorService pool = Executors.newFixedThreadPool(8);
        try {
            List<Future<Boolean>> results = new ArrayList<>();
            for (int task = 0; task < 32; task++) {
                int index = task % samples.size();
                Samples sample = samples.get(index);
                results.add(pool.submit(() -> {
                    byte[] stream = Wsq.encode(sample.pixels(), sample.width(), sample.height());
                    return Arrays.equals(stream, streams.get(index))
                        && Arrays.equals(Wsq.decode(stream).pixels(), decoded.get(index));
                }));
            }
            for (Future<Boolean> result : results) {
                assertTrue(result.get());
            }
        } finally {
            pool.shutdown();
        }
    }

    static byte[] concat(byte[] first, byte[] second) {
        byte[] both = Arrays.copyOf(first, first.length + second.length);
        System.arraycopy(second, 0, both, first.length, second.length);
        return both;
    }
}
