/* stage_clock.h - the stage hook of benchmark builds of libwsq.
 *
 * Compiled with WSQ_STAGE_CLOCK defined, wsq.cpp calls wsq_stage_done() each
 * time a stage of its encoder or decoder ends, with a view of what the
 * pipeline holds then; the benchmark defines it, to time the stages and to
 * copy their results as its kernels' inputs. Other builds never include this
 * header, and it is not installed.
 *
 * The stages, in the order they end:
 *   wsq_encode  normalise, transform, variances, quality, quantize, symbols,
 *               tables, entropy (all three blocks), output
 *   wsq_decode  parse (every segment), entropy (all three blocks, decoded
 *               and dequantized into the subbands), synthesis (its last
 *               merge making the pixels)
 */
#ifndef WSQ_STAGE_CLOCK_H
#define WSQ_STAGE_CLOCK_H

#include "libwsq.h"

/* What a pipeline holds when a stage ends. The pointers are into the
 * pipeline's memory, valid during the call only; a field holds its stage's
 * result from the end of that stage until a later stage reuses the memory,
 * as the pipeline does (the encoder's samples become its subbands, then its
 * coded blocks; the decoder's subbands become its samples). Fields that a
 * pipeline does not have are null or 0. Arrays are indexed as in libwsq.h's
 * encoding stages: xs, ys and contents by hedge block, the others by
 * subband. */
struct wsq_stage_view {
    int width, height;
    real midpoint, rescale;
    const pqf *filters[4];     /* encoder: analysis H0 and H1; decoder: H0, H1, F0, F1 */
    const real *image;         /* the image-sized buffer of samples and subbands */
    void *const *contents;     /* where each subband starts in image */
    const int *xs, *ys;
    const ui32 *numcoefs;      /* encoder only */
    const double *variance;    /* encoder only */
    real center;               /* decoder only */
    const real *qs, *zs;
    const ui8 (*tables)[WSQ_DHT_BYTES];  /* Huffman tables by index */
    const int *table_of_block;
    /* By block: the decoder's coded bytes (without stuffing) from parse on,
     * the encoder's integers from quantize on. */
    const int32 *integers[WSQ_BLOCKS];
    size_t integer_count[WSQ_BLOCKS];
    const ui8 *symbols[WSQ_BLOCKS];  /* encoder only */
    size_t symbol_count[WSQ_BLOCKS];
    const ui8 *coded[WSQ_BLOCKS];
    size_t coded_bytes[WSQ_BLOCKS];
};

/* Defined by the benchmark build. */
void wsq_stage_done(const char *stage, const wsq_stage_view &view);

#endif
