package wsq;

import java.nio.charset.StandardCharsets;

/**
 * What {@link Transaction#check()} found in a transaction, or what a tolerant reading tolerated
 * ({@link Transaction#warning()}): {@link WsqException#OK} when nothing, else the flaw's status
 * (one of the transaction statuses of {@link WsqException}), the byte offset where it lies in
 * the transaction and a message in the library's words.
 */
public record Verdict(int status, String statusName, long offset, String message) {
    /** A verdict of the library, its message as the library's bytes. */
    Verdict(int status, long offset, byte[] message) {
        this(status, Native.statusName(status), status == WsqException.OK ? 0 : offset,
             new String(message, StandardCharsets.UTF_8));
    }

    /** Whether nothing was found. */
    public boolean valid() {
        return status == WsqException.OK;
    }

    /** "valid", or the flaw as {@link WsqException} describes one: "bad-value at byte 47: ...". */
    @Override
    public String toString() {
        return valid() ? "valid" : WsqException.describe(status, offset, message);
    }
}
