package wsq;

import java.util.List;

/**
 * One field of a tagged record of a {@link Transaction}: its number (the N of "T.N:"; 1 is
 * LEN), its value's bytes, and those bytes split into subfields (separated by RS) of items
 * (separated by US). Field 999's value is binary data: one subfield of one item. The arrays are
 * the field's own copies, not the transaction's.
 */
public record TransactionField(int number, byte[] value, List<List<byte[]>> subfields) {
}
