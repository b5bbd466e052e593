/**
 * WSQ compression of 8-bit gray fingerprint images through the C library libwsq: {@link
 * wsq.Wsq} encodes, decodes and reads the facts of streams held in byte arrays; its results
 * are byte for byte those of the wsq1 program and of the library's own decoder. {@link
 * wsq.Transaction} reads, checks, edits and writes the transaction files that carry prints.
 * The package {@code wsq.imageio} plugs the format into {@code javax.imageio}.
 *
 * <p>The classes call a native library, libwsqjni, which is looked for beside the jar, then
 * where {@code cmake --install} put it relative to the installed jar, then on
 * {@code java.library.path}.
 */
package wsq;
