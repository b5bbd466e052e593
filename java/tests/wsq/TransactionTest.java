package wsq;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * Transaction on transactions built here from a bundled print: a Type-2 record, Type-4 and
 * Type-14 WSQ prints and an uncompressed Type-4 side by side; their facts and pixels, the
 * verdicts and refusals, edits and writing.
 */
class TransactionTest {
    static final int WIDTH = 160;
    static final int HEIGHT = 192;
    static byte[][] crops = new byte[2][];
    static byte[][] streams = new byte[2][];
    static byte[] small;
    static byte[] data;

    @BeforeAll
    static void build() throws Exception {
        byte[] print = Samples.named("sd04_f0001_01").pixels();
        for (int k = 0; k < 2; k++) {
            crops[k] = crop(print, 16 + 160 * k, 32, WIDTH, HEIGHT);
            streams[k] = Wsq.encode(crops[k], WIDTH, HEIGHT);
        }
        small = crop(print, 0, 0, 50, 40);
        data = transaction(
            record(2, 0, tagged(2, "002", "0", "018", "DOE\u001fJOHN\u001eX")),
            record(4, 1, type4(1, 2, WIDTH, HEIGHT, 1, streams[0])),
            record(14, 2, type14(2, 7, WIDTH, HEIGHT, streams[1])),
            record(4, 3, type4(3, 1, 50, 40, 0, small)));
    }

    @Test
    void recordsFieldsAndImagesWithTheirFactsAndPixels() throws Exception {
        try (Transaction tx = Transaction.read(data)) {
            assertArrayEquals(data, tx.bytes());
            List<TransactionRecord> records = tx.records();
            assertEquals(List.of("1 -1 true 10", "2 0 true 3", "4 1 false 0", "14 2 true 14",
                                 "4 3 false 0"),
                         records.stream().map(r -> r.type() + " " + r.idc() + " " + r.tagged()
                                              + " " + r.fieldCount()).toList());
            assertEquals(data.length, records.stream().mapToLong(TransactionRecord::length).sum());
            TransactionField name = tx.fields(1).get(2);
            assertEquals(18, name.number());
            assertEquals(List.of(List.of("DOE", "JOHN"), List.of("X")), name.subfields().stream()
                .map(items -> items.stream().map(String::new).toList()).toList());
            assertArrayEquals(streams[1], tx.fields(3).get(13).value());

            List<TransactionImage> images = tx.images();
            TransactionImage first = images.get(0);
            assertEquals(List.of(2, 4, 1, 2, 1, "WSQ20", WIDTH, HEIGHT),
                         List.of(first.record(), first.type(), first.idc(), first.positions()[0],
                                 first.impression(), first.compressionName(), first.width(),
                                 first.height()));
            assertArrayEquals(streams[0], Arrays.copyOfRange(data, (int) first.dataOffset(),
                (int) (first.dataOffset() + first.dataLength())));
            TransactionImage second = images.get(1);
            assertEquals(List.of(14, 7, 500, 8), List.of(second.type(), second.positions()[0],
                                                        second.ppi(), second.bitsPerPixel()));
            assertArrayEquals(streams[1], tx.data(second));
            assertArrayEquals(Wsq.decode(streams[0]).pixels(), tx.pixels(first).pixels());
            DecodeOptions preview = DecodeOptions.defaults().withReduce(4);
            assertArrayEquals(Wsq.decode(streams[1], preview).pixels(),
                              tx.pixels(second, preview).pixels());
            TransactionImage raw = images.get(2);
            assertEquals(List.of(TransactionImage.NONE, "NONE"),
                         List.of(raw.compression(), raw.compressionName()));
            WsqImage pixels = tx.pixels(raw);
            assertArrayEquals(small, pixels.pixels());
            assertNull(pixels.info());
            WsqImage reduced = tx.pixels(raw, preview);
            assertEquals(List.of(13, 10, small[4 * 50 + 8]),
                         List.of(reduced.width(), reduced.height(), reduced.pixels()[13 + 2]));
        }
    }

    @Test
    void verdictsAndRefusalsCarryStatusOffsetAndMessage() throws Exception {
        try (Transaction tx = Transaction.read(data)) {
            assertEquals(new Verdict(WsqException.OK, "success", 0, ""), tx.check());
            assertEquals(List.of(), tx.checkAll());
            WsqException binary = assertThrows(WsqException.class, () -> tx.fields(2));
            assertEquals(WsqException.ARGUMENT, binary.status());
            WsqException refused =
                assertThrows(WsqException.class, () -> tx.replace(1, streams[0]));
            assertTrue(refused.reason().contains("record 1"), refused.getMessage());
            assertArrayEquals(data, tx.bytes());
        }
        // The Type-4's width stated as 161 while its stream's frame says 160; a bad date.
        byte[] flawed = transaction(record(4, 1, type4(1, 2, WIDTH + 1, HEIGHT, 1, streams[0])),
            record(2, 0, tagged(2, "002", "0")));
        try (Transaction tx = Transaction.read(flawed)) {
            tx.setField(0, 5, "2024");
            Verdict verdict = tx.check();
            assertEquals(WsqException.BAD_VALUE, verdict.status());
            assertTrue(verdict.toString().startsWith("bad-value at byte " + verdict.offset()),
                       verdict.toString());
            assertEquals(List.of(WsqException.BAD_VALUE, WsqException.HLL_VLL_MISMATCH),
                         tx.checkAll().stream().map(Verdict::status).toList());
        }
        WsqException cut = assertThrows(WsqException.class,
            () -> Transaction.read(Arrays.copyOf(data, data.length - 1)));
        assertEquals(WsqException.LEN_PAST_END, cut.status());
        assertTrue(cut.offset() > 0 && cut.getMessage().contains(" at byte " + cut.offset()));
        // A last FS missing is read when tolerated, and is the transaction's warning.
        byte[] whole = transaction(record(14, 2, type14(2, 7, WIDTH, HEIGHT, streams[1])));
        byte[] unended = Arrays.copyOf(whole, whole.length - 1);
        try (Transaction tolerated = Transaction.read(unended, true)) {
            assertArrayEquals(whole, tolerated.bytes());
            assertEquals(WsqException.FS_MISSING, tolerated.warning().status());
        }
        // A flaw inside a print's stream is reported at its place in the file.
        byte[] broken = data.clone();
        long at;
        try (Transaction tx = Transaction.read(data)) {
            at = tx.images().get(0).dataOffset();
        }
        broken[(int) at] = 0;
        Transaction tx = Transaction.read(broken);
        TransactionImage image = tx.images().get(0);
        assertEquals(at, assertThrows(WsqException.class, () -> tx.pixels(image)).offset());
        tx.close();
        assertThrows(IllegalStateException.class, tx::check);
    }

    @Test
    void editsAndWritingKeepEveryUneditedByte(@TempDir Path directory) throws Exception {
        Path file = directory.resolve("out.eft");
        byte[] written;
        try (Transaction tx = Transaction.read(data)) {
            byte[] part = Arrays.copyOf(crops[1], 120 * 100);
            EncodeOptions fine = EncodeOptions.defaults().withBitrate(2.25);
            tx.replace(2, part, 120, 100, fine);
            tx.replace(3, streams[0]);
            tx.setField(1, 18, "ROE\u001fJANE");
            tx.insertTagged(5, 2, 9);
            tx.setField(5, 18, "NEW");
            tx.remove(5);
            tx.insertBinary(5, 4, type4(5, 3, 50, 40, 0, small));
            assertTrue(tx.check().valid(), tx.check().toString());
            assertArrayEquals(Wsq.encode(part, 120, 100, fine), tx.data(tx.images().get(0)));
            assertEquals(List.of(120, 100), List.of(tx.images().get(0).width(),
                                                    tx.images().get(0).height()));
            assertArrayEquals(streams[0], tx.data(tx.images().get(1)));
            tx.writeFile(file);
            written = tx.bytes();
            assertArrayEquals(written, Files.readAllBytes(file));
            WsqException refused = assertThrows(WsqException.class, () -> tx.setField(1, 1, "9"));
            assertEquals(WsqException.ARGUMENT, refused.status());
            assertArrayEquals(written, tx.bytes());
        }
        // A write that cannot end leaves what the name held, and nothing beside it.
        Path taken = Files.createDirectories(directory.resolve("taken.eft/inside"));
        try (Transaction tx = Transaction.read(data)) {
            assertThrows(IOException.class, () -> tx.writeFile(taken.getParent()));
        }
        assertEquals(List.of(taken), Files.list(taken.getParent()).toList());
        assertEquals(List.of(file, taken.getParent()), Files.list(directory).sorted().toList());
        try (Transaction reread = Transaction.readFile(file);
             Transaction original = Transaction.read(data)) {
            assertArrayEquals(small, reread.pixels(reread.images().get(2)).pixels());
            assertArrayEquals(small, reread.pixels(reread.images().get(3)).pixels());
            // The uncompressed print, untouched, is its bytes as read.
            assertArrayEquals(recordBytes(original, 4), recordBytes(reread, 4));
        }
    }

    static byte[] recordBytes(Transaction tx, int index) throws Exception {
        TransactionRecord record = tx.records().get(index);
        return Arrays.copyOfRange(tx.bytes(), (int) record.offset(),
                                  (int) (record.offset() + record.length()));
    }

    static byte[] crop(byte[] print, int x, int y, int width, int height) {
        byte[] crop = new byte[width * height];
        for (int row = 0; row < height; row++) {
            System.arraycopy(print, (y + row) * 512 + x, crop, row * width, width);
        }
        return crop;
    }

    /** A tagged record of the fields after LEN (tag, value, tag, value ...; a value is a
     *  String or bytes), its LEN counting its own digits. */
    static byte[] tagged(int type, Object... fields) {
        ByteArrayOutputStream rest = new ByteArrayOutputStream();
        for (int i = 0; i < fields.length; i += 2) {
            rest.writeBytes(text("\u001d" + type + "." + fields[i] + ":"));
            Object value = fields[i + 1];
            rest.writeBytes(value instanceof byte[] bytes ? bytes : text((String) value));
        }
        rest.write(0x1c);
        String head = type + ".001:";
        int length = 0;
        while (head.length() + String.valueOf(length).length() + rest.size() != length) {
            length = head.length() + String.valueOf(length).length() + rest.size();
        }
        return concat(text(head + length), rest.toByteArray());
    }

    /** A Type-4 record: live-scan rolled, one finger position, the compression and the data. */
    static byte[] type4(int idc, int position, int width, int height, int compression,
                        byte[] image) {
        ByteBuffer header = ByteBuffer.allocate(18);
        header.putInt(18 + image.length).put((byte) idc).put((byte) 1).put((byte) position);
        header.put(new byte[] {-1, -1, -1, -1, -1, 0}).putShort((short) width)
            .putShort((short) height).put((byte) compression);
        return concat(header.array(), image);
    }

    /** A Type-14 record of a WSQ stream at 500 ppi, live-scan plain. */
    static byte[] type14(int idc, int position, int width, int height, byte[] stream) {
        return tagged(14, "002", "" + idc, "003", "1", "004", "SRC1", "005", "20240131", "006",
                      "" + width, "007", "" + height, "008", "1", "009", "500", "010", "500",
                      "011", "WSQ20", "012", "8", "013", "" + position, "999", stream);
    }

    record Part(int type, int idc, byte[] bytes) {
    }

    static Part record(int type, int idc, byte[] bytes) {
        return new Part(type, idc, bytes);
    }

    /** A Type-1 record (VER 0500) listing the records, then those. */
    static byte[] transaction(Part... records) {
        StringBuilder cnt = new StringBuilder("1\u001f" + records.length);
        for (Part record : records) {
            cnt.append("\u001e").append(record.type).append("\u001f").append(record.idc);
        }
        byte[] all = tagged(1, "002", "0500", "003", cnt.toString(), "004", "CAR", "005",
                            "20240131", "007", "DAI1", "008", "ORI1", "009", "TCN1", "011",
                            "19.69", "012", "19.69");
        for (Part record : records) {
            all = concat(all, record.bytes);
        }
        return all;
    }

    static byte[] text(String value) {
        return value.getBytes(StandardCharsets.UTF_8);
    }

    static byte[] concat(byte[] first, byte[] second) {
        byte[] both = Arrays.copyOf(first, first.length + second.length);
        System.arraycopy(second, 0, both, first.length, second.length);
        return both;
    }
}
