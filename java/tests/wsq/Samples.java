package wsq;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/** The bundled images (tests/data/MANIFEST.tsv) and the build's programs, which the Java
 *  library must agree with: wsq1 encodes, unwsq decodes. */
record Samples(String name, int width, int height) {
    static final Path DATA = Path.of(System.getProperty("wsq.data"));

    static List<Samples> all() throws IOException {
        return Files.readAllLines(DATA.resolve("MANIFEST.tsv")).stream().skip(1)
            .map(line -> line.split("\t"))
            .map(cell -> new Samples(cell[0], Integer.parseInt(cell[1]), Integer.parseInt(cell[2])))
            .toList();
    }

    static Samples named(String name) throws IOException {
        return all().stream().filter(sample -> sample.name.equals(name)).findFirst().orElseThrow();
    }

    Path raw() {
        return DATA.resolve(name + ".raw");
    }

    byte[] pixels() {
        try {
            return Files.readAllBytes(raw());
        } catch (IOException error) {
            throw new UncheckedIOException(error);
        }
    }

    /** The stream wsq1 writes for this image with the given options. */
    byte[] wsq1(String... options) throws IOException, InterruptedException {
        List<String> command = new ArrayList<>();
        command.add(System.getProperty("wsq.wsq1"));
        command.add("-r" + width + "," + height);
        command.addAll(List.of(options));
        command.add("-");
        return output(new ProcessBuilder(command).redirectInput(raw().toFile()));
    }

    /** The pixels unwsq decodes from a WSQ file with the given options, every stream's after
     *  another. */
    static byte[] unwsq(Path file, String... options) throws IOException, InterruptedException {
        List<String> command = new ArrayList<>(List.of(System.getProperty("wsq.unwsq"), "-f", "raw"));
        command.addAll(List.of(options));
        command.addAll(List.of("-o", "-", file.toString()));
        return output(new ProcessBuilder(command));
    }

    private static byte[] output(ProcessBuilder builder) throws IOException, InterruptedException {
        Process process = builder.redirectError(ProcessBuilder.Redirect.INHERIT).start();
        byte[] output = process.getInputStream().readAllBytes();
        if (process.waitFor() != 0) {
            throw new IOException(builder.command() + " failed");
        }
        return output;
    }
}
