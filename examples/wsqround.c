/* wsqround: compresses a raw 8-bit gray-scale image with libwsq, decodes it
 * again, and prints the stream's size and the round trip's PSNR.
 *
 *     wsqround FILE WIDTH HEIGHT [BITRATE]
 *
 * A C99 program using only the installed wsq.h and libwsq:
 *     cmake -S examples -B build-example -DCMAKE_PREFIX_PATH=/usr/local
 *     cc -std=c99 wsqround.c $(pkg-config --cflags --libs wsq) -lm -o wsqround
 * Exit status: 0 after a round trip, 1 otherwise. */
#include <wsq.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

/* Reads exactly size bytes of path into a new buffer, or returns NULL. */
static uint8_t *read_image(const char *path, size_t size)
{
    FILE *file = fopen(path, "rb");
    uint8_t *pixels = malloc(size ? size : 1);
    int complete = file && pixels && fread(pixels, 1, size, file) == size;
    if (file)
        fclose(file);
    if (!complete) {
        free(pixels);
        return NULL;
    }
    return pixels;
}

static double psnr(const uint8_t *a, const uint8_t *b, size_t count)
{
    double sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += (double)(a[i] - b[i]) * (a[i] - b[i]);
    return sum == 0 ? INFINITY : 10 * log10(255.0 * 255.0 * count / sum);
}

int main(int argc, char **argv)
{
    if (argc < 4 || argc > 5) {
        fputs("usage: wsqround FILE WIDTH HEIGHT [BITRATE]\n", stderr);
        return 1;
    }
    int32_t width = atoi(argv[2]), height = atoi(argv[3]);
    size_t count = width > 0 && height > 0 ? (size_t)width * (size_t)height : 0;
    uint8_t *image = read_image(argv[1], count);
    if (!image) {
        fprintf(stderr, "wsqround: %s: cannot read %zu bytes\n", argv[1], count);
        return 1;
    }
    wsq_encode_options options;
    wsq_encode_defaults(&options);
    if (argc == 5)
        options.bitrate = atof(argv[4]);

    uint8_t *stream = NULL, *pixels = NULL;
    size_t size = 0;
    wsq_info info;
    wsq_error error;
    int status = wsq_encode(&stream, &size, &error, image, count, width, height, &options);
    if (status == WSQ_OK)
        status = wsq_decode(&pixels, &info, &error, stream, size, NULL);
    if (status == WSQ_OK)
        printf("%s: %d x %d, %zu bytes, %.3f bits per pixel, PSNR %.2f dB\n", argv[1], width,
               height, size, 8.0 * size / count, psnr(image, pixels, count));
    else
        fprintf(stderr, "wsqround: %s: %s: %s\n", argv[1], wsq_strerror(status), error.message);
    wsq_free(stream);
    wsq_free(pixels);
    free(image);
    return status == WSQ_OK ? 0 : 1;
}
