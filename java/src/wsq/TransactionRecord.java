package wsq;

/**
 * One logical record of a {@link Transaction}: its type, its IDC, whether it is tagged (text
 * fields, Types 1, 2 and 9 to 99) or binary (Types 3 to 8), and where its bytes lie.
 */
public final class TransactionRecord {
    // Filled by the native side from wsq_record, field by field by name.
    private int type;
    private int idc;
    private int tagged;
    private int fieldCount;
    private long offset;
    private long length;

    TransactionRecord() {
    }

    /** 1 to 99: the Type-1 record first, then the types its CNT field lists. */
    public int type() {
        return type;
    }

    /** The IDC that CNT lists for the record, 0 to 99; -1 for the Type-1 record, which has none. */
    public int idc() {
        return idc;
    }

    /** Whether the record is made of fields ({@link Transaction#fields}); a binary one is not. */
    public boolean tagged() {
        return tagged != 0;
    }

    /** The number of fields of a tagged record, its LEN included; 0 for a binary record. */
    public int fieldCount() {
        return fieldCount;
    }

    /** The record's first byte in the transaction. */
    public long offset() {
        return offset;
    }

    /** The record's bytes, as its LEN states them. */
    public long length() {
        return length;
    }

    @Override
    public String toString() {
        return "TransactionRecord[type " + type + ", IDC " + idc
            + (tagged() ? ", tagged" : ", binary") + ", " + length + " bytes at " + offset + "]";
    }
}
