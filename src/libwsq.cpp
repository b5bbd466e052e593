/* libwsq.cpp - the format kernels of libwsq: both halves of the codec.
 *
 * Every routine works only on what it is handed. Routines that fill or scan
 * a caller's byte buffer return the position just past what they handled;
 * release routines return a null pointer for the caller to store back.
 * Floating-point work follows the format to the bit: single precision where
 * the stream's numbers depend on it, every filter sum in increasing tap
 * index as one fused multiply-add per term (fused_multiply_add), and this
 * file must be compiled with -ffp-contract=off so that the compiler fuses
 * nothing else.
 * The code here is the portable code, which defines every result; a kernel
 * with a vector path takes it from vectors() (vector.h) and computes the
 * same, several outputs at a time (docs/vector-paths.md).
 */
#include "libwsq.h"
#include "platform.h"
#include "vector.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include <cfloat>

/* Every operation rounds to its type (x87 arithmetic, which keeps floats
 * wider, would give other bytes: build for SSE2 there). */
static_assert(FLT_EVAL_METHOD == 0, "floating-point operations must round to their type");

using namespace wsq_internal;

/* ==== Assertion report ====================================================
 * A failed precondition ends the process in an orderly way: one report line
 * on standard error, flushed, then exit without any further message. Open
 * streams are flushed by exit(), so images already passed to the output
 * reach it. */

void wsqassertfail(const char *file, unsigned line, const char *expression)
{
    const char *base = std::strrchr(file, '/');
    std::fprintf(stderr, "%s:%u: failed assertion `%s'\n", base ? base + 1 : file, line,
                 expression);
    std::fflush(stderr);
    std::exit(WSQ_ASSERT_STATUS);
}

namespace {

/* What a builder does with memory it cannot have: the kernels end the process
 * with the assertion report for the pointer; their try* variants, which the
 * whole-image calls use, give a null result. */
enum class on_no_memory { report, give_null };

/* Whether the allocation held in pointer succeeded; a failure is reported as
 * the assertion for the pointer's expression when mode says so. */
#define WSQ_ALLOCATED(pointer, mode)                                      \
    ((pointer) ? true                                                     \
               : (mode) == on_no_memory::report                           \
                     ? (wsqassertfail(__FILE__, __LINE__, #pointer), false) \
                     : false)

}  // namespace

/* ==== Numbers ==============================================================
 * The fused multiply-add of every filter sum; fix24 (scale byte, 16-bit
 * mantissa) and fix48 (sign byte, scale byte, 32-bit mantissa)
 * decimal-scaled numbers, and big-endian integers in buffers and on
 * streams. */

float wsqfma(float a, float b, float c)
{
    double product = (double)a * b;  /* exact: 24 + 24 significant bits */
    double sum = product + c;
    /* The addition's rounding error, exactly (two-sum); none when the sum
     * is infinite or not a number. */
    double c_part = sum - product;
    double error = (product - (sum - c_part)) + (c - c_part);
    /* Round to odd: an inexact sum becomes whichever of its two neighbours
     * around the exact value has an odd last bit. With 29 bits to spare,
     * narrowing that to float then rounds as the exact value would. */
    std::uint64_t bits;
    std::memcpy(&bits, &sum, sizeof bits);
    std::uint64_t inexact = std::fabs(error) > 0.0;
    std::uint64_t toward_zero = inexact & ((error < 0.0) != (sum < 0.0));
    bits = (bits - toward_zero) | inexact;
    std::memcpy(&sum, &bits, sizeof sum);
    return (float)sum;
}

namespace {

/* Decimal scale exponent for a mantissa limit, clamped to one byte; a value
 * that is not a number gets 0. */
double decimal_scale(double log10_limit, double value)
{
    double scale = std::floor(log10_limit - std::log10(value));
    if (!(scale >= 0.0))
        return 0.0;
    return scale > 255.0 ? 255.0 : scale;
}

}  // namespace

ui8 *writefix24(ui8 *output, real coeff)
{
    WSQ_ASSERT(output);
    WSQ_ASSERT(coeff>=0);
    if (coeff == 0) {
        output[0] = output[1] = output[2] = 0;
        return output + 3;
    }
    /* log10(65535): the scale for a 16-bit mantissa */
    double scalex = decimal_scale(4.81647330376525, coeff);
    output[0] = (ui8)scalex;
    /* The product is rounded to single precision before truncation: that is
     * what stores 0.44 as 05 AB E0. Values beyond 65535 keep the low 16 bits
     * of their integer part. */
    double mantissa = std::trunc((real)(coeff * std::pow(10.0, scalex)));
    ui16 low16 = std::isfinite(mantissa) ? (ui16)(ui32)std::fmod(mantissa, 65536.0) : 0;
    return sput2(output + 1, low16);
}

ui8 *writefix48(ui8 *output, real coeff)
{
    WSQ_ASSERT(output);
    if (coeff == 0) {
        std::memset(output, 0, 6);
        return output + 6;
    }
    output[0] = coeff > 0 ? 0 : 1;
    double acoeff = std::fabs((double)coeff);
    /* log10(2^32 - 1): the scale for a 32-bit mantissa */
    double scalex = decimal_scale(9.632959861146281, acoeff);
    output[1] = (ui8)scalex;
    double mantissa = acoeff * std::pow(10.0, scalex);
    /* Magnitudes of 2^32 or more saturate. */
    ui32 m = mantissa < 4294967296.0 ? (ui32)mantissa : 0xFFFFFFFFu;
    return sput4(output + 2, m);
}

const ui8 *readfix24(real *coeff, const ui8 *input)
{
    WSQ_ASSERT(input);
    WSQ_ASSERT(coeff);
    int exponent = input[0];
    ui16 mantissa;
    sget2(&mantissa, input + 1);
    *coeff = (real)(std::pow(0.1, exponent) * mantissa);
    return input + 3;
}

const ui8 *readfix48(real *coeff, const ui8 *input)
{
    WSQ_ASSERT(input);
    WSQ_ASSERT(coeff);
    int sign = input[0];
    int exponent = input[1];
    ui32 mantissa;
    sget4(&mantissa, input + 2);
    real x = (real)(mantissa * std::pow(0.1, exponent));
    *coeff = sign ? -x : x;
    return input + 6;
}

ui8 *sput2(ui8 *out, ui16 in)
{
    out[0] = (ui8)(in >> 8);
    out[1] = (ui8)in;
    return out + 2;
}

ui8 *sput4(ui8 *out, ui32 in)
{
    out[0] = (ui8)(in >> 24);
    out[1] = (ui8)(in >> 16);
    out[2] = (ui8)(in >> 8);
    out[3] = (ui8)in;
    return out + 4;
}

const ui8 *sget2(ui16 *out, const ui8 *in)
{
    *out = (ui16)(in[0] * 256 + in[1]);
    return in + 2;
}

const ui8 *sget4(ui32 *out, const ui8 *in)
{
    *out = (ui32)in[0] << 24 | (ui32)in[1] << 16 | (ui32)in[2] << 8 | in[3];
    return in + 4;
}

int fput2(ui16 x, std::FILE *out)
{
    int sum = std::putc(x >> 8, out);
    return sum + std::putc(x & 0xFF, out);
}

int fput4(ui32 x, std::FILE *out)
{
    int sum = std::putc((int)(x >> 24), out);
    sum += std::putc((int)(x >> 16 & 0xFF), out);
    sum += std::putc((int)(x >> 8 & 0xFF), out);
    return sum + std::putc((int)(x & 0xFF), out);
}

ui16 fget2(std::FILE *in)
{
    unsigned high = (unsigned)std::getc(in);
    unsigned low = (unsigned)std::getc(in);
    return (ui16)(high << 8 | low);
}

/* ==== Filters ==============================================================
 * The pqf record: taps on alpha..omega, extension type, periodized table;
 * output lengths of one convolution-decimation step and the type pairing. */

namespace {

pqf *make_filter(const char *name, const real *coefs, int alpha, int omega, int type,
                 on_no_memory mode)
{
    WSQ_ASSERT(alpha <= 0);
    WSQ_ASSERT(0 <= omega);
    WSQ_ASSERT(coefs);
    pqf *qm = (pqf *)std::calloc(1, sizeof(pqf));
    if (!WSQ_ALLOCATED(qm, mode))
        return nullptr;
    if (name) {
        qm->name = (char *)std::malloc(std::strlen(name) + 1);
        if (!WSQ_ALLOCATED(qm->name, mode))
            return (pqf *)freepqf(qm);
        std::strcpy(qm->name, name);
    }
    size_t taps = (size_t)omega - (size_t)alpha + 1;
    qm->f = (real *)std::calloc(taps, sizeof(real));
    if (!WSQ_ALLOCATED(qm->f, mode))
        return (pqf *)freepqf(qm);
    std::memcpy(qm->f, coefs, taps * sizeof(real));
    qm->f -= alpha;
    qm->type = type;
    qm->alpha = alpha;
    qm->omega = omega;
    int m = (omega - alpha) / 2;
    if (m >= 1) {
        qm->fp = (real *)std::calloc(2 * (size_t)m * (m + 1), sizeof(real));
        if (!WSQ_ALLOCATED(qm->fp, mode))
            return (pqf *)freepqf(qm);
        qfcirc(qm->fp, qm->f, alpha, omega);
    }
    return qm;
}

}  // namespace

pqf *makepqf(const char *name, const real *coefs, int alpha, int omega, int type)
{
    return make_filter(name, coefs, alpha, omega, type, on_no_memory::report);
}

pqf *trymakepqf(const char *name, const real *coefs, int alpha, int omega, int type)
{
    return make_filter(name, coefs, alpha, omega, type, on_no_memory::give_null);
}

void *freepqf(void *filter)
{
    pqf *qm = (pqf *)filter;
    if (qm) {
        freevoid(qm->name);
        freevoid(qm->fp);
        if (qm->f)
            freevoid(qm->f + qm->alpha);
        freevoid(qm);
    }
    return nullptr;
}

void qfcirc(real *fp, const real *f, int alpha, int omega)
{
    WSQ_ASSERT(alpha <= 0);
    WSQ_ASSERT(0 <= omega);
    int m_last = (omega - alpha) / 2;
    for (int m = 1; m <= m_last; ++m) {
        int q = 2 * m;
        real *fq = fp + 2 * m * m;
        periodize(fq, q, f, alpha, omega);
        std::memcpy(fq - q, fq, q * sizeof(real));
    }
}

void periodize(real *fq, int q, const real *f, int alpha, int omega)
{
    WSQ_ASSERT(q>0);
    WSQ_ASSERT(q<=omega-alpha);
    WSQ_ASSERT(alpha <= 0);
    WSQ_ASSERT(0 <= omega);
    for (int k = 0; k < q; ++k) {
        fq[k] = 0;
        for (int j = k + q * ((alpha - k) / q); j <= omega; j += q)
            fq[k] += f[j];
    }
}

int cdplength(int length, int ftype)
{
    switch (ftype) {
    case 2:
    case 4:
        return (length & 1) ? (length + 1) / 2 : length / 2;
    case 3:
    case 5:
        return (length & 1) ? (length - 1) / 2 : length / 2;
    default:
        WSQ_ASSERT(!(length&1));
        return length / 2;
    }
}

int cpqftype(int type)
{
    switch (type) {
    case 0: return 1;
    case 1: return 0;
    case 2: return 3;
    case 3: return 2;
    case 4: return 5;
    case 5: return 4;
    default: WSQ_ASSERT(0);
    }
}

/* ==== Hedge ================================================================
 * The wavelet-packet basis as block depths in pre-order, and the sizes of
 * its blocks for a root size. */

hedge *makehedge(int blocks, void *const *contents, const ui8 *levels, void *tag)
{
    WSQ_ASSERT(blocks>=0);
    hedge *out = (hedge *)std::calloc(1, sizeof(hedge));
    WSQ_ASSERT(out);
    out->tag = tag;
    if (blocks == 0)
        return out;
    out->blocks = blocks;
    out->contents = (void **)std::calloc(blocks, sizeof(void *));
    WSQ_ASSERT(out->contents);
    if (contents)
        std::memcpy(out->contents, contents, blocks * sizeof(void *));
    out->levels = (ui8 *)std::calloc(blocks, 1);
    WSQ_ASSERT(out->levels);
    if (levels)
        std::memcpy(out->levels, levels, blocks);
    return out;
}

hedge *freehedge(hedge *in, list2void *freecontents, void2void *freetag)
{
    if (in) {
        if (freecontents)
            freecontents(in->contents, in->blocks);
        freevoid(in->contents);
        freevoid(in->levels);
        if (freetag)
            freetag(in->tag);
        freevoid(in);
    }
    return nullptr;
}

void *freevoid(void *discard)
{
    std::free(discard);
    return nullptr;
}

void *hugebuffer(size_t bytes)
{
    /* A huge page is cleared whole when first touched (about 0.25 ms): below
     * this, the 4 KiB pages a buffer touches cost less (about 1.3 us each).
     * Those are on a cache line, as a huge page is: the vector kernels'
     * loads of rows would straddle lines (a transform 15% slower). */
    const size_t worth_a_huge_page = (size_t)1 << 20;
    if (!wsq_platform::huge_pages_on_request || bytes >= worth_a_huge_page)
        return wsq_platform::huge_buffer(bytes);
    return wsq_platform::aligned_buffer(64, bytes);  /* posix_memalign: released with free */
}

void *imagebuffer(size_t bytes)
{
    const size_t huge_page = (size_t)2 << 20;
    return bytes >= 2 * huge_page ? hugebuffer(bytes) : std::malloc(bytes);
}

int hedgeend(const hedge *graph, int level, int block)
{
    WSQ_ASSERT(level<=(int)graph->levels[block]);
    if (level == graph->levels[block])
        return block + 1;
    for (int child = 0; child < 4; ++child)
        block = hedgeend(graph, level + 1, block);
    return block;
}

int xywp2(int *xs, int *ys, int ix, int iy, const ui8 *levels, int level, int block,
          const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY)
{
    WSQ_ASSERT(xs);
    WSQ_ASSERT(ys);
    WSQ_ASSERT(ix);
    WSQ_ASSERT(iy);
    WSQ_ASSERT(levels);
    WSQ_ASSERT(level>=0);
    WSQ_ASSERT(block>=0);
    WSQ_ASSERT(level<=(int)levels[block]);
    WSQ_ASSERT(HX && GX && HY && GY);
    if (level == levels[block]) {
        xs[block] = ix;
        ys[block] = iy;
        return block + 1;
    }
    int oxh = cdplength(ix, HX->type);
    int oxg = cdplength(ix, GX->type);
    int oyh = cdplength(iy, HY->type);
    int oyg = cdplength(iy, GY->type);
    block = xywp2(xs, ys, oxh, oyh, levels, level + 1, block, HX, GX, HY, GY);
    block = xywp2(xs, ys, oxh, oyg, levels, level + 1, block, HX, GX, HY, GY);
    block = xywp2(xs, ys, oxg, oyh, levels, level + 1, block, HX, GX, HY, GY);
    return xywp2(xs, ys, oxg, oyg, levels, level + 1, block, HX, GX, HY, GY);
}

/* ==== Teams of threads =====================================================
 * Worker threads that help with a job of ranges, the caller taking part in
 * each. A job is cut into a few pieces per thread, or one per item of a
 * short job (the subbands of an image, which differ much in size); whoever
 * is free takes the next. A piece is taken with a ticket that names the job and its number of
 * pieces, so a worker that comes late to a job that has ended takes nothing,
 * and the caller waits only for the pieces taken, never for a worker that is
 * not running: with more threads than cores the work still gets done.
 * Workers spin a little before they sleep, as the jobs of one call follow
 * each other closely. */

struct wsqteam {
    std::vector<std::thread> workers;
    std::mutex lock;
    std::condition_variable wake, done;
    std::atomic<bool> stopping{false};  /* set under lock, so that no sleeper misses it */

    /* The job: written by the caller before its tickets are issued, and read
     * by the others only with a ticket of it in hand. */
    void (*body)(void *, size_t, size_t) = nullptr;
    void *context = nullptr;
    size_t count = 0;
    std::atomic<std::uint64_t> ticket{0};  /* job << 32 | pieces << 16 | next piece */
    std::atomic<ui32> finished{0};         /* pieces of the job done */
};

namespace {

/* How long a thread spins before it sleeps: longer than the gaps between the
 * jobs of a call, short against a call. */
constexpr std::chrono::microseconds spin_time{250};
constexpr size_t short_job = 64;  /* items, each its own piece */
constexpr int most_threads = 256;  /* so that a job's pieces fit 16 bits */
/* Each thread of a team wants this many samples at least: a 512x512 image
 * encoded 12% slower with two threads than with one, a 1024x1024 one
 * decoded 17% faster. */
constexpr size_t samples_per_thread = (size_t)1 << 19;

void pause_briefly()
{
    WSQ_SPIN_PAUSE();
}

/* Whether ready() holds within a short spin. */
template <class Ready>
bool spin_until(const Ready &ready)
{
    auto until = std::chrono::steady_clock::now() + spin_time;
    do {
        for (int look = 0; look < 64; ++look) {
            if (ready())
                return true;
            pause_briefly();
        }
    } while (std::chrono::steady_clock::now() < until);
    return ready();
}

ui32 job_of(std::uint64_t ticket)
{
    return (ui32)(ticket >> 32);
}

ui32 pieces_of(std::uint64_t ticket)
{
    return (ui32)(ticket >> 16) & 0xFFFF;
}

ui32 piece_of(std::uint64_t ticket)
{
    return (ui32)ticket & 0xFFFF;
}

/* Takes and runs pieces of job `job` while there are any. */
void run_pieces(wsqteam *team, ui32 job)
{
    std::uint64_t ticket = team->ticket.load(std::memory_order_acquire);
    for (;;) {
        if (job_of(ticket) != job || piece_of(ticket) >= pieces_of(ticket))
            return;
        if (!team->ticket.compare_exchange_weak(ticket, ticket + 1, std::memory_order_acq_rel))
            continue;
        ui32 piece = piece_of(ticket), pieces = pieces_of(ticket);
        team->body(team->context, team->count * piece / pieces,
                   team->count * (piece + 1) / pieces);
        if (team->finished.fetch_add(1, std::memory_order_acq_rel) + 1 == pieces) {
            std::lock_guard<std::mutex> hold(team->lock);
            team->done.notify_one();
        }
        ticket = team->ticket.load(std::memory_order_acquire);
    }
}

void serve(wsqteam *team)
{
    for (ui32 seen = 0;;) {
        auto next_job = [&] {
            return job_of(team->ticket.load(std::memory_order_acquire)) != seen || team->stopping;
        };
        if (!spin_until(next_job)) {
            std::unique_lock<std::mutex> hold(team->lock);
            team->wake.wait(hold, next_job);
        }
        if (team->stopping)
            return;
        seen = job_of(team->ticket.load(std::memory_order_acquire));
        run_pieces(team, seen);
    }
}

}  // namespace

wsqteam *maketeam(int threads, size_t samples)
{
    if (threads == 0)
        threads = (int)std::max(1u, std::thread::hardware_concurrency());
    threads = (int)std::min({(size_t)threads, (size_t)most_threads,
                             std::max<size_t>(1, samples / samples_per_thread)});
    if (threads <= 1)
        return nullptr;
    wsqteam *team = new (std::nothrow) wsqteam;
    if (!team)
        return nullptr;
    try {
        team->workers.reserve((size_t)threads - 1);
        while ((int)team->workers.size() < threads - 1)
            team->workers.emplace_back(serve, team);
    } catch (...) {  /* no more threads or memory: a smaller team */
    }
    if (team->workers.empty())
        return freeteam(team);
    return team;
}

wsqteam *freeteam(wsqteam *team)
{
    if (!team)
        return nullptr;
    {
        std::lock_guard<std::mutex> hold(team->lock);
        team->stopping = true;
    }
    team->wake.notify_all();
    for (std::thread &worker : team->workers)
        worker.join();
    delete team;
    return nullptr;
}

int teamsize(const wsqteam *team)
{
    return team ? (int)team->workers.size() + 1 : 1;
}

void teamfor(wsqteam *team, size_t count, void (*body)(void *, size_t, size_t), void *context)
{
    if (!team || count < 2) {
        if (count > 0)
            body(context, 0, count);
        return;
    }
    /* Every ticket of the last job is spent and its pieces are done: nobody
     * reads the job any more. */
    team->body = body;
    team->context = context;
    team->count = count;
    ui32 pieces = (ui32)(count <= short_job ? count : std::min(count, 4 * team->workers.size() + 4));
    team->finished.store(0, std::memory_order_relaxed);
    ui32 job = job_of(team->ticket.load(std::memory_order_relaxed)) + 1;
    {
        std::lock_guard<std::mutex> hold(team->lock);
        team->ticket.store((std::uint64_t)job << 32 | (std::uint64_t)pieces << 16,
                           std::memory_order_release);
    }
    team->wake.notify_all();
    run_pieces(team, job);
    auto all_done = [&] { return team->finished.load(std::memory_order_acquire) == pieces; };
    if (!spin_until(all_done)) {
        std::unique_lock<std::mutex> hold(team->lock);
        team->done.wait(hold, all_done);
    }
}

/* ==== Analysis =============================================================
 * Convolution-decimation with the boundary extension of the filter's type,
 * one separable split (in place through a scratch buffer, or from one to
 * the other, the vector path's strips: vector.cpp), and the pre-order walk
 * over a hedge. */

namespace {

/* Output i of a convolution-decimation, added onto sum: tap j meets input
 * sample 2i - j, taps in increasing index, one fused multiply-add each. */
real convolve_output(real sum, const real *in, int ilen, ptrdiff_t istep, const pqf *filter, int i)
{
    for (int j = filter->alpha; j <= filter->omega; ++j) {
        int k = extend_analysis(2 * i - j, ilen, filter->type);
        sum = fused_multiply_add(filter->f[j], in[(ptrdiff_t)k * istep], sum);
    }
    return sum;
}

}  // namespace

void cds(real *out, int olen, int ostep, const real *in, int ilen, int istep,
         const pqf *filter, int assign)
{
    WSQ_ASSERT(ilen>0);
    WSQ_ASSERT(istep);
    WSQ_ASSERT(olen>0);
    WSQ_ASSERT(ostep);
    WSQ_ASSERT(out);
    WSQ_ASSERT(in);
    if (!valid_type(filter->type))
        WSQ_ASSERT(0);
    for (int i = 0; i < olen; ++i) {
        real *o = out + (ptrdiff_t)i * ostep;
        *o = convolve_output(assign ? 0.0f : *o, in, ilen, istep, filter, i);
    }
}

namespace {

/* Splits the node at `at` into its four quarter-bands, with a team sharing
 * the work; twin is as large. The vector split makes only those needed
 * (HH, HG, GH, GG), the portable one all. Returns whether the quarter-bands
 * went to twin (the vector split) or are back at `at` (the portable one,
 * which goes through twin as scratch). */
bool split_node(real *at, real *twin, int oxh, int oxg, int oyh, int oyg, const pqf *hx,
                const pqf *gx, const pqf *hy, const pqf *gy, const bool *needed, wsqteam *team)
{
    WSQ_ASSERT(oxh>0);
    WSQ_ASSERT(oxg>0);
    WSQ_ASSERT(oyh>0);
    WSQ_ASSERT(oyg>0);
    WSQ_ASSERT(at);
    WSQ_ASSERT(twin);
    WSQ_ASSERT(hx);
    WSQ_ASSERT(hy);
    WSQ_ASSERT(gx);
    WSQ_ASSERT(gy);
    const vector_kernels &v = vectors();
    if (v.sum_terms &&
        split_strips(v, at, twin, oxh, oxg, oyh, oyg, hx, gx, hy, gy, needed, team))
        return true;
    /* The portable split makes all four quarter-bands. */
    int ix = oxh + oxg, iy = oyh + oyg;
    real *work = twin;
    /* Along y, each row into a column of the scratch buffer: it then holds
     * iy rows of ix samples, the oyh low-pass rows first. */
    teamfor(team, (size_t)ix, [&](size_t r0, size_t r1) {
        for (size_t r = r0; r < r1; ++r) {
            const real *row = at + r * iy;
            cds(work + r, oyh, ix, row, iy, 1, hy, 1);
            cds(work + (size_t)oyh * ix + r, oyg, ix, row, iy, 1, gy, 1);
        }
    });
    /* Along x, each scratch row into a column of its two quarter-bands. */
    real *hh = at;
    real *hg = hh + (size_t)oxh * oyh;
    real *gh = hg + (size_t)oxh * oyg;
    real *gg = gh + (size_t)oxg * oyh;
    teamfor(team, (size_t)iy, [&](size_t k0, size_t k1) {
        for (size_t k = k0; k < k1; ++k) {
            const real *column = work + k * ix;
            if (k < (size_t)oyh) {
                cds(hh + k, oxh, oyh, column, ix, 1, hx, 1);
                cds(gh + k, oxg, oyh, column, ix, 1, gx, 1);
            } else {
                cds(hg + (k - oyh), oxh, oyg, column, ix, 1, hx, 1);
                cds(gg + (k - oyh), oxg, oyg, column, ix, 1, gx, 1);
            }
        }
    });
    return false;
}

/* Nodes below this many samples are split by the calling thread alone: a
 * team would cost more in handing out the work than it saves. */
constexpr size_t team_node_samples = 1 << 15;

wsqteam *team_for_node(wsqteam *team, int ix, int iy)
{
    return (size_t)ix * (size_t)iy >= team_node_samples ? team : nullptr;
}

}  // namespace

void scdpi2(real *data, int oxh, int oxg, int oyh, int oyg, real *work,
            const pqf *hx, const pqf *gx, const pqf *hy, const pqf *gy)
{
    const bool all[4] = {true, true, true, true};
    if (split_node(data, work, oxh, oxg, oyh, oyg, hx, gx, hy, gy, all, nullptr))
        std::memcpy(data, work, (size_t)(oxh + oxg) * (oyh + oyg) * sizeof(real));
}

int cbwp2(hedge *graph, int ix, int iy, int level, int block, real *work,
          const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY)
{
    return cbwp2t(graph, ix, iy, level, block, work, HX, GX, HY, GY, nullptr, nullptr);
}

namespace {

/* What a walk of the analysis keeps: the hedge, the filters, the blocks
 * wanted (every block when null) and the team. */
struct analysis_walk {
    hedge *graph;
    const pqf *HX, *GX, *HY, *GY;
    const ui8 *wanted;
    wsqteam *team;
};

bool any_wanted(const analysis_walk &w, int first, int end)
{
    for (int b = first; b < end; ++b)
        if (!w.wanted || w.wanted[b])
            return true;
    return false;
}

/* cbwp2t below the node at `at`, whose place in the other of the data and
 * the scratch buffer is twin; moved tells whether `at` is in the scratch
 * buffer. The splits take the nodes back and forth between the two; a block
 * that ends in the scratch buffer is copied to its place in the data buffer,
 * where the hedge's contents point. A node none of whose blocks is wanted
 * (needed false) only has its blocks placed. */
int analyse(const analysis_walk &w, real *at, real *twin, bool moved, bool needed, int ix, int iy,
            int level, int block)
{
    if (level == w.graph->levels[block]) {
        if (moved && needed)
            std::memcpy(twin, at, (size_t)ix * iy * sizeof(real));
        return block + 1;
    }
    int oxh = cdplength(ix, w.HX->type);
    int oxg = cdplength(ix, w.GX->type);
    int oyh = cdplength(iy, w.HY->type);
    int oyg = cdplength(iy, w.GY->type);
    bool child_needed[4];
    for (int k = 0, first = block; k < 4; ++k) {
        int end = hedgeend(w.graph, level + 1, first);
        child_needed[k] = needed && any_wanted(w, first, end);
        first = end;
    }
    if (needed && split_node(at, twin, oxh, oxg, oyh, oyg, w.HX, w.GX, w.HY, w.GY, child_needed,
                             team_for_node(w.team, ix, iy))) {
        std::swap(at, twin);
        moved = !moved;
    }
    real *home = moved ? twin : at;
    size_t place[4] = {0, (size_t)oxh * oyh, 0, 0};
    place[2] = place[1] + (size_t)oxh * oyg;
    place[3] = place[2] + (size_t)oxg * oyh;
    int rows[4] = {oxh, oxh, oxg, oxg}, cols[4] = {oyh, oyg, oyh, oyg};
    for (int k = 0; k < 4; ++k) {
        w.graph->contents[block] = home + place[k];
        block = analyse(w, at + place[k], twin + place[k], moved, child_needed[k], rows[k], cols[k],
                        level + 1, block);
    }
    return block;
}

/* What cbwp2t, rbwp2t and rbwp2b assert of the walk they are given. */
void assert_walk(const hedge *graph, int ix, int iy, int level, int block, const real *work,
                 const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY)
{
    WSQ_ASSERT(ix>0);
    WSQ_ASSERT(iy>0);
    WSQ_ASSERT(level>=0);
    WSQ_ASSERT(block>=0);
    WSQ_ASSERT(work);
    WSQ_ASSERT(graph);
    WSQ_ASSERT(level<=(int)graph->levels[block]);
    WSQ_ASSERT(HX && GX && HY && GY);
}

}  // namespace

int cbwp2t(hedge *graph, int ix, int iy, int level, int block, real *work,
           const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY, const ui8 *wanted,
           wsqteam *team)
{
    assert_walk(graph, ix, iy, level, block, work, HX, GX, HY, GY);
    analysis_walk walk{graph, HX, GX, HY, GY, wanted, team};
    return analyse(walk, (real *)graph->contents[block], work, false, true, ix, iy, level, block);
}

/* ==== Synthesis ============================================================
 * The adjoint convolution-decimation with the extension that the filter
 * type and the output's parity call for, one merge (in place through a
 * scratch buffer, or from one to the other, the vector path's strips:
 * vector.cpp), and the post-order walk. */

namespace {

/* Output n of an adjoint convolution-decimation of olen outputs, added onto
 * sum in increasing tap index, one fused multiply-add each. */
real adjoint_output(real sum, const real *in, int ilen, ptrdiff_t istep, const pqf *filter, int n,
                    int olen)
{
    bool odd_output = olen & 1;
    adjoint_taps taps = taps_of(filter, n & 1);
    int index = n / 2 + taps.base;
    for (int tap = taps.first; tap <= taps.last; tap += 2, ++index) {
        extended_index x = extend_synthesis(index, ilen, filter->type, odd_output);
        if (x.present)
            sum = fused_multiply_add(x.sign * filter->f[tap], in[(ptrdiff_t)x.index * istep],
                                     sum);
    }
    return sum;
}

}  // namespace

void acds(real *out, int olen, int ostep, const real *in, int ilen, int istep,
          const pqf *filter, int assign)
{
    WSQ_ASSERT(ilen>0);
    WSQ_ASSERT(istep);
    WSQ_ASSERT(olen>0);
    WSQ_ASSERT(ostep);
    WSQ_ASSERT(out);
    WSQ_ASSERT(in);
    if (!valid_type(filter->type))
        WSQ_ASSERT(0);
    if (filter->type <= 1)
        WSQ_ASSERT(olen == 2*ilen);
    for (int n = 0; n < olen; ++n) {
        real *o = out + (ptrdiff_t)n * ostep;
        *o = adjoint_output(assign ? 0.0f : *o, in, ilen, istep, filter, n, olen);
    }
}

namespace {

/* Merges the node whose quarter-bands lie at `at`, with a team sharing the
 * work; twin is as large. Returns whether the node went to twin, or with
 * pixels to pixels->out as pixels (the vector merge), or is back at `at` (the
 * portable one, which goes through twin as scratch). zeros_unseen: as
 * merge_strips takes it. */
bool merge_node(real *at, real *twin, int ixh, int ixg, int iyh, int iyg, const pqf *hx,
                const pqf *gx, const pqf *hy, const pqf *gy, wsqteam *team,
                const pixel_rows *pixels = nullptr, bool zeros_unseen = false)
{
    WSQ_ASSERT(at);
    WSQ_ASSERT(ixh>0);
    WSQ_ASSERT(ixg>0);
    WSQ_ASSERT(iyh>0);
    WSQ_ASSERT(iyg>0);
    WSQ_ASSERT(twin);
    WSQ_ASSERT(hx);
    WSQ_ASSERT(hy);
    WSQ_ASSERT(gx);
    WSQ_ASSERT(gy);
    const vector_kernels &v = vectors();
    const real *hh = at;
    const real *hg = hh + (size_t)ixh * iyh;
    const real *gh = hg + (size_t)ixh * iyg;
    const real *gg = gh + (size_t)ixg * iyh;
    const real *quarters[4] = {hh, hg, gh, gg};
    if (v.sum_terms && merge_strips(v, quarters, twin, ixh, ixg, iyh, iyg, hx, gx, hy, gy, team,
                                    pixels, zeros_unseen))
        return true;
    int ix = ixh + ixg, iy = iyh + iyg;
    real *data = at, *work = twin;
    /* Along y, each row pair into a column of the scratch buffer: it then
     * holds iy rows of ixh samples (the x-low-pass part), then iy rows of ixg. */
    real *low = work, *high = work + (size_t)iy * ixh;
    teamfor(team, (size_t)ix, [&](size_t r0, size_t r1) {
        for (size_t r = r0; r < r1; ++r) {
            if (r < (size_t)ixh) {
                acds(low + r, iy, ixh, hh + r * iyh, iyh, 1, hy, 1);
                acds(low + r, iy, ixh, hg + r * iyg, iyg, 1, gy, 0);
            } else {
                acds(high + (r - ixh), iy, ixg, gh + (r - ixh) * iyh, iyh, 1, hy, 1);
                acds(high + (r - ixh), iy, ixg, gg + (r - ixh) * iyg, iyg, 1, gy, 0);
            }
        }
    });
    /* Along x, each scratch row pair back into a column of the node. */
    teamfor(team, (size_t)iy, [&](size_t c0, size_t c1) {
        for (size_t c = c0; c < c1; ++c) {
            acds(data + c, ix, iy, low + c * ixh, ixh, 1, hx, 1);
            acds(data + c, ix, iy, high + c * ixg, ixg, 1, gx, 0);
        }
    });
    return false;
}

/* The lengths of a node's halves, low and high, along x and along y. */
struct halves {
    int xh, xg, yh, yg;
};

halves halves_of(int ix, int iy, const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY)
{
    return {cdplength(ix, cpqftype(GX->type)), cdplength(ix, cpqftype(HX->type)),
            cdplength(iy, cpqftype(GY->type)), cdplength(iy, cpqftype(HY->type))};
}

/* Pixels asked of a synthesis, and whether its last merge made them. */
struct made_pixels {
    pixel_rows rows;
    bool made;
};

/* rbwp2t below the node whose first block is `block` (at contents[block]),
 * with twin its place in the scratch buffer. The merges take the nodes back
 * and forth between the data and the scratch buffer: *moved tells where
 * this node ended, at twin or in place. The quarter-bands of a merge must
 * lie together: those of children that ended apart are first copied to
 * their places in the data buffer. With pixels, the node's merge makes
 * them, to pixels->rows.out; pixels->made tells whether it did (not so in
 * the portable merge, or for a node without a merge). zeros_unseen: as
 * merge_strips takes it, for every merge below the node. */
int synthesise(hedge *graph, real *twin, int ix, int iy, int level, int block, const pqf *HX,
               const pqf *GX, const pqf *HY, const pqf *GY, wsqteam *team, bool *moved,
               bool zeros_unseen = false, made_pixels *pixels = nullptr)
{
    WSQ_ASSERT(level<=(int)graph->levels[block]);
    *moved = false;
    if (level == graph->levels[block])
        return block + 1;
    auto [ixh, ixg, iyh, iyg] = halves_of(ix, iy, HX, GX, HY, GY);
    real *p = (real *)graph->contents[block];
    int rows[4] = {ixh, ixh, ixg, ixg}, cols[4] = {iyh, iyg, iyh, iyg};
    real *place[4];
    bool away[4];
    int b = block, apart = 0;
    for (int k = 0; k < 4; ++k) {
        place[k] = (real *)graph->contents[b];
        b = synthesise(graph, twin + (place[k] - p), rows[k], cols[k], level + 1, b, HX, GX, HY,
                       GY, team, &away[k], zeros_unseen);
        apart += away[k];
    }
    if (apart > 0 && apart < 4)
        for (int k = 0; k < 4; ++k)
            if (away[k])
                std::memcpy(place[k], twin + (place[k] - p),
                            (size_t)rows[k] * cols[k] * sizeof(real));
    real *from = apart == 4 ? twin : p, *to = apart == 4 ? p : twin;
    bool went = merge_node(from, to, ixh, ixg, iyh, iyg, HX, GX, HY, GY,
                           team_for_node(team, ix, iy), pixels ? &pixels->rows : nullptr,
                           zeros_unseen);
    if (pixels)
        pixels->made = went;
    *moved = (went ? to : from) == twin;
    return b;
}

/* Whether rbwp2b rebuilds the node from quarter-bands apart: with vector
 * merges, when each child but the HH one is split once and is no larger
 * than it. The HH child is rebuilt first, and the three others then merge
 * one after another into whichever buffer it left, each ending before the
 * data of the next begins: where the HH child ends in the scratch (so with
 * the format's tree), only its quarter of the scratch is touched, a quarter
 * of the fresh memory that merging every child into the scratch would cost. */
bool quarters_apart(const hedge *graph, int ix, int iy, int level, int block, const pqf *HX,
                    const pqf *GX, const pqf *HY, const pqf *GY)
{
    if (level == graph->levels[block] || !vectors().sum_terms || !merge_strips_take(HX, GX, HY, GY))
        return false;
    int b = hedgeend(graph, level + 1, block);
    halves h = halves_of(ix, iy, HX, GX, HY, GY);
    size_t first = (size_t)h.xh * h.yh;
    size_t sizes[4] = {first, (size_t)h.xh * h.yg, (size_t)h.xg * h.yh, (size_t)h.xg * h.yg};
    for (int k = 1; k < 4; ++k, b += 4)
        if (sizes[k] > first || graph->levels[b] != level + 2 || graph->levels[b + 1] != level + 2 ||
            graph->levels[b + 2] != level + 2 || graph->levels[b + 3] != level + 2)
            return false;
    return true;
}

/* Whether the four blocks from b on are flagged in zeros (may be null). */
bool zero_child(const bool *zeros, int b)
{
    return zeros && zeros[b] && zeros[b + 1] && zeros[b + 2] && zeros[b + 3];
}

/* Fills with zeros the blocks of the node flagged in zeros (null: none), but
 * those of a child that synthesise_apart leaves unread (when apart). */
void fill_zeros(hedge *graph, int ix, int iy, int level, int block, const pqf *HX,
                const pqf *GX, const pqf *HY, const pqf *GY, const bool *zeros, bool apart,
                wsqteam *team)
{
    if (!zeros)
        return;
    std::vector<int> xs(graph->blocks), ys(graph->blocks);
    int end = xywp2(xs.data(), ys.data(), ix, iy, graph->levels, level, block, HX, GX, HY, GY);
    int others = apart ? hedgeend(graph, level + 1, block) : end;  /* the first block of child 1 */
    teamfor(team, (size_t)(end - block), [&](size_t i0, size_t i1) {
        for (int b = block + (int)i0; b < block + (int)i1; ++b) {
            bool unread = b >= others && zero_child(zeros, others + (b - others) / 4 * 4);
            if (zeros[b] && !unread)
                std::memset(graph->contents[b], 0, (size_t)xs[b] * ys[b] * sizeof(real));
        }
    });
}

/* rbwp2b's synthesis of a node whose quarter-bands are rebuilt apart
 * (quarters_apart), then the node's merge from where they lie to pixels. A
 * child other than the HH one whose four blocks are flagged in zeros is
 * neither read nor merged: the last merge takes its quarter-band as zeros. */
void synthesise_apart(hedge *graph, real *twin, int ix, int iy, int level, int block,
                      const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY, wsqteam *team,
                      const pixel_rows &pixels, const bool *zeros)
{
    halves h = halves_of(ix, iy, HX, GX, HY, GY);
    int rows[4] = {h.xh, h.xh, h.xg, h.xg}, cols[4] = {h.yh, h.yg, h.yh, h.yg};
    bool moved;
    int b = synthesise(graph, twin, rows[0], cols[0], level + 1, block, HX, GX, HY, GY, team,
                       &moved, true);
    real *p = (real *)graph->contents[block];
    const real *quarters[4] = {moved ? twin : p};
    real *free = moved ? p : twin + (size_t)rows[0] * cols[0];
    for (int k = 1; k < 4; ++k, b += 4) {
        if (zero_child(zeros, b))
            continue;
        halves c = halves_of(rows[k], cols[k], HX, GX, HY, GY);
        bool went = merge_node((real *)graph->contents[b], free, c.xh, c.xg, c.yh, c.yg, HX, GX,
                               HY, GY, team_for_node(team, rows[k], cols[k]), nullptr, true);
        WSQ_ASSERT(went);
        quarters[k] = free;
        free += (size_t)rows[k] * cols[k];
    }
    bool made = merge_strips(vectors(), quarters, nullptr, h.xh, h.xg, h.yh, h.yg, HX, GX, HY, GY,
                             team_for_node(team, ix, iy), &pixels, true);
    WSQ_ASSERT(made);
}

}  // namespace

void sacdpi2(real *data, int ixh, int ixg, int iyh, int iyg, real *work,
             const pqf *hx, const pqf *gx, const pqf *hy, const pqf *gy)
{
    if (merge_node(data, work, ixh, ixg, iyh, iyg, hx, gx, hy, gy, nullptr))
        std::memcpy(data, work, (size_t)(ixh + ixg) * (iyh + iyg) * sizeof(real));
}

int rbwp2(hedge *graph, int ix, int iy, int level, int block, real *work,
          const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY)
{
    return rbwp2t(graph, ix, iy, level, block, work, HX, GX, HY, GY, nullptr);
}

int rbwp2t(hedge *graph, int ix, int iy, int level, int block, real *work,
           const pqf *HX, const pqf *GX, const pqf *HY, const pqf *GY, wsqteam *team)
{
    assert_walk(graph, ix, iy, level, block, work, HX, GX, HY, GY);
    bool moved;
    int b = synthesise(graph, work, ix, iy, level, block, HX, GX, HY, GY, team, &moved);
    if (moved)
        std::memcpy(graph->contents[block], work, (size_t)ix * iy * sizeof(real));
    return b;
}

void rbwp2b(hedge *graph, int ix, int iy, int level, int block, real *work, const pqf *HX,
            const pqf *GX, const pqf *HY, const pqf *GY, wsqteam *team, ui8 *pixels,
            real midpoint, real rescale, const wsq_row_sink *sink, const bool *zeros)
{
    assert_walk(graph, ix, iy, level, block, work, HX, GX, HY, GY);
    WSQ_ASSERT(pixels);
    std::optional<row_delivery> delivery;
    if (sink)
        delivery.emplace(*sink, ix, iy);
    pixel_rows rows = {pixels, midpoint, rescale, delivery ? &*delivery : nullptr};
    bool apart = quarters_apart(graph, ix, iy, level, block, HX, GX, HY, GY);
    fill_zeros(graph, ix, iy, level, block, HX, GX, HY, GY, zeros, apart, team);
    if (apart) {
        synthesise_apart(graph, work, ix, iy, level, block, HX, GX, HY, GY, team, rows, zeros);
        return;
    }
    made_pixels asked = {rows, false};
    bool moved;
    synthesise(graph, work, ix, iy, level, block, HX, GX, HY, GY, team, &moved, true, &asked);
    if (asked.made)
        return;
    const real *samples = moved ? work : (const real *)graph->contents[block];
    teamfor(team, (size_t)ix * iy, [&](size_t begin, size_t end) {
        wsqr2b(pixels + begin, samples + begin, (ui32)(end - begin), midpoint, rescale);
    });
    if (sink)
        sink->rows_done(sink->context, 0, (size_t)ix);
}

/* ==== Pixel normalisation ==================================================
 * Bytes to zero-centred samples and back, with the frame's M and R. */

void wsqb2r(real *out, const ui8 *in, ui32 length, real midpoint, real rescale)
{
    WSQ_ASSERT(rescale != (real)0);
    WSQ_ASSERT(in);
    WSQ_ASSERT(out);
    real reciprocal = 1.0f / rescale;
    ui32 i = 0;
    if (vectors().bytes_to_reals)
        i = vectors().bytes_to_reals(out, in, length, midpoint, reciprocal);
    for (; i < length; ++i)
        out[i] = ((real)in[i] - midpoint) * reciprocal;
}

void wsqr2b(ui8 *out, const real *in, ui32 length, real midpoint, real rescale)
{
    WSQ_ASSERT(in);
    WSQ_ASSERT(out);
    ui32 i = 0;
    if (vectors().reals_to_bytes)
        i = vectors().reals_to_bytes(out, in, length, midpoint, rescale);
    for (; i < length; ++i) {
        real value = fused_multiply_add(rescale, in[i], midpoint);
        real rounded = (real)((double)value + 0.5);
        /* Rounded half up and clamped; a value that is not a number (only
         * from a hostile transform table) becomes 0. */
        if (!(rounded >= 0.0f))
            out[i] = 0;
        else if (rounded > 255.0f)
            out[i] = 255;
        else
            out[i] = (ui8)rounded;
    }
}

void pixelmr(real *midpoint, real *rescale, const ui8 *pixels, ui32 length, wsqteam *team)
{
    WSQ_ASSERT(pixels);
    WSQ_ASSERT(length>0);
    /* The pixel sum is exact in any order (it stays far below 2^53), so an
     * integer sum gives the same double whichever way the pixels are shared
     * out, and leaves each loop free to run several pixels at a time. */
    std::atomic<unsigned> lowest{255}, highest{0};
    std::atomic<std::uint64_t> sum{0};
    teamfor(team, length, [&](size_t begin, size_t end) {
        const ui8 *p = pixels + begin;
        size_t n = end - begin;
        ui8 pmin = 255, pmax = 0;
        std::uint64_t total = 0;
        size_t i = 0;
        if (vectors().pixel_stats)
            i = vectors().pixel_stats(p, n, &pmin, &pmax, &total);
        for (; i < n; ++i) {
            pmax = std::max(pmax, p[i]);
            pmin = std::min(pmin, p[i]);
            total += p[i];
        }
        for (unsigned low = lowest; pmin < low && !lowest.compare_exchange_weak(low, pmin);)
            ;
        for (unsigned high = highest; pmax > high && !highest.compare_exchange_weak(high, pmax);)
            ;
        sum += total;
    });
    real pmin = (real)lowest.load(), pmax = (real)highest.load();
    std::uint64_t total = sum;
    *midpoint = (real)((double)total / length);
    real above = pmax - *midpoint;
    real below = *midpoint - pmin;
    /* Over 128 (exactly, as 0.0078125): the samples then lie within -128 .. 128. */
    *rescale = (above > below ? above : below) * 0.0078125f;
}

/* ==== Quantization =========================================================
 * The dead-zone scalar quantizer of one subband and its inverse. */

namespace {

/* trunc(x) + step for a quantizer index. */
int32 bin_index(real x, int32 step)
{
    real whole = std::trunc(x);
    if (whole >= largest_index)
        return INT32_MAX;
    if (whole <= -largest_index)
        return INT32_MIN + 1;
    return (int32)whole + step;
}

/* Largest magnitude the symbol coder can write. */
constexpr int32 symbol_max = 65535;

/* wsqqnt; returns whether every index is within the symbol coder's reach. */
bool quantize(int32 *out, const real *in, ui32 length, real qbin, real zbin)
{
    WSQ_ASSERT(out);
    WSQ_ASSERT(in);
    WSQ_ASSERT(qbin>=0);
    WSQ_ASSERT(zbin>=0);
    if (qbin == 0.0f) {
        std::memset(out, 0, (size_t)length * sizeof(int32));
        return true;
    }
    real r = 1.0f / qbin;
    real h = zbin * 0.5f;
    int32 lowest = 0, highest = 0;
    ui32 i = 0;
    if (vectors().quantize)
        i = vectors().quantize(out, in, length, r, h, &lowest, &highest);
    for (; i < length; ++i) {
        real c = in[i];
        if (c > h)
            out[i] = bin_index((c - h) * r, 1);
        else if (c < -h)
            out[i] = bin_index((c + h) * r, -1);
        else
            out[i] = 0;
        lowest = std::min(lowest, out[i]);
        highest = std::max(highest, out[i]);
    }
    return highest <= symbol_max && lowest >= -symbol_max;
}

/* The coefficient of index val: h is half the zero bin's width. */
real dequantized(real val, real center, real qbin, real h)
{
    if (val > 0)
        return fused_multiply_add(val - center, qbin, h);
    if (val < 0)
        return fused_multiply_add(val + center, qbin, -h);
    return 0.0f;
}

}  // namespace

void wsqqnt(int32 *out, const real *in, ui32 length, real qbin, real zbin)
{
    quantize(out, in, length, qbin, zbin);
}

void wsqunq(real *out, const int32 *in, ui32 length, real center, real qbin, real zbin)
{
    WSQ_ASSERT(out);
    WSQ_ASSERT(in);
    WSQ_ASSERT(qbin >= 0);
    WSQ_ASSERT(zbin >= 0);
    if (qbin == 0.0f) {
        for (ui32 i = 0; i < length; ++i)
            out[i] = 0.0f;
        return;
    }
    real h = zbin * 0.5f;
    ui32 i = 0;
    if (vectors().dequantize)
        i = vectors().dequantize(out, in, length, center, qbin, h);
    for (; i < length; ++i)
        out[i] = dequantized((real)in[i], center, qbin, h);
}

/* ==== Symbols ==============================================================
 * Run-length and value symbols of one block, with escapes 101..106 followed
 * by one or two literal bytes. */

namespace {

ui32 absval(int32 v)
{
    return v < 0 ? 0u - (ui32)v : (ui32)v;
}

}  // namespace

ui8 *wsqwsym(ui8 *output, const int32 *input, ui32 length)
{
    WSQ_ASSERT(output);
    WSQ_ASSERT(input);
    WSQ_ASSERT(length>0);
    ui32 zrl = 0, i = 0;
    if (vectors().symbols)
        output = vectors().symbols(output, input, length, &zrl, &i);
    for (; i < length; ++i) {
        if (input[i] == 0) {
            ++zrl;
            continue;
        }
        output = writezrl(output, zrl);
        zrl = 0;
        output = writesym(output, input[i]);
    }
    return writezrl(output, zrl);
}

ui8 *writesym(ui8 *output, int32 coeff)
{
    WSQ_ASSERT(coeff != 0);
    WSQ_ASSERT(!(absval(coeff)>>16));
    ui32 magnitude = absval(coeff);
    if (one_byte_symbol(coeff)) {
        *output++ = symbol_byte(coeff);
    } else if (magnitude > 255) {
        *output++ = coeff > 0 ? 103 : 104;
        output = sput2(output, (ui16)magnitude);
    } else {
        *output++ = coeff > 0 ? 101 : 102;
        *output++ = (ui8)magnitude;
    }
    return output;
}

ui8 *writezrl(ui8 *output, ui32 zrl)
{
    while (zrl > 65535) {
        *output++ = 106;
        output = sput2(output, 65535);
        zrl -= 65535;
    }
    if (zrl <= 100) {  /* the usual case: no run, or a run in one byte */
        if (zrl > 0)
            *output++ = (ui8)zrl;
    } else if (zrl <= 255) {
        *output++ = 105;
        *output++ = (ui8)zrl;
    } else {
        *output++ = 106;
        output = sput2(output, (ui16)zrl);
    }
    return output;
}

/* ==== Bit stream ===========================================================
 * Bit fields packed most significant bit first into a byte buffer. */

bitio *makebitio(ui8 *buffer, ui32 numbits)
{
    bitio *out = (bitio *)std::calloc(1, sizeof(bitio));
    WSQ_ASSERT(out);
    if (buffer) {
        out->buffer = buffer;
    } else if (numbits) {
        out->buffer = (ui8 *)std::calloc((numbits + 7) / 8, 1);
        WSQ_ASSERT(out->buffer);
    }
    out->position = out->buffer;
    out->mask = 128;
    out->length = numbits;
    out->nextbit = 0;
    return out;
}

bitio *freebitio(bitio *item, void2void *freebuf)
{
    if (item) {
        if (freebuf)
            freebuf(item->buffer);
        freevoid(item);
    }
    return nullptr;
}

namespace {

void advance_bit(bitio *stream)
{
    stream->mask >>= 1;
    if (stream->mask == 0) {
        stream->mask = 128;
        ++stream->position;
    }
}

}  // namespace

void putbits(bitio *outarray, ui32 codeword, int bits)
{
    WSQ_ASSERT(bits>0);
    WSQ_ASSERT(bits<33);
    WSQ_ASSERT(outarray->length==0 || (outarray->nextbit+bits)<=outarray->length);
    for (ui32 selector = 1u << (bits - 1); selector; selector >>= 1) {
        if (codeword & selector)
            *outarray->position |= (ui8)outarray->mask;
        else
            *outarray->position &= (ui8)~outarray->mask;
        advance_bit(outarray);
    }
    outarray->nextbit += bits;
}

ui32 padbits(bitio *outarray, int pad)
{
    WSQ_ASSERT(pad==0 || pad==1);
    WSQ_ASSERT(outarray->length==0 || outarray->nextbit <= outarray->length);
    ui32 databits = outarray->nextbit;
    if (outarray->mask == 128)
        return databits;
    if (pad)
        *outarray->position |= (ui8)(2 * outarray->mask - 1);
    else
        *outarray->position &= (ui8)(-2 * outarray->mask);
    ++outarray->position;
    outarray->nextbit = (outarray->nextbit + 7) & ~7u;
    outarray->mask = 128;
    return databits;
}

int getbit(bitio *inarray)
{
    WSQ_ASSERT(inarray->length==0 || inarray->nextbit < inarray->length);
    int bit = (*inarray->position & inarray->mask) != 0;
    advance_bit(inarray);
    ++inarray->nextbit;
    return bit;
}

ui32 getbits(bitio *inarray, int bits)
{
    WSQ_ASSERT(bits>0);
    WSQ_ASSERT(bits<33);
    WSQ_ASSERT(inarray->length==0 || (inarray->nextbit + bits) <= inarray->length);
    ui32 value = 0;
    for (ui32 selector = 1u << (bits - 1); selector; selector >>= 1) {
        if (*inarray->position & inarray->mask)
            value |= selector;
        advance_bit(inarray);
    }
    inarray->nextbit += bits;
    return value;
}

ui32 rewbits(bitio *item)
{
    WSQ_ASSERT(item);
    ui32 bits = item->nextbit;
    item->position = item->buffer;
    item->mask = 128;
    item->nextbit = 0;
    return bits;
}

/* ==== Huffman ==============================================================
 * Symbol counts, length-limited canonical tables (16 count bytes, then the
 * values) and the codewords they define. */

namespace {

bool is_stream_end(ui8 symbol)
{
    return symbol == 0 || symbol == 255;
}

/* Literal bytes that follow a symbol of the symbol stream. Symbols without
 * any, by far the most, take a single test, which a branch predicts well;
 * a search among the six others would not be. */
int literal_bytes(ui8 symbol)
{
    if ((unsigned)symbol - 101u > 5u)
        return 0;
    return symbol == 101 || symbol == 102 || symbol == 105 ? 1 : 2;
}

void codeword_bitlengths(int *codelength, const int *hufftree, int root, int bits)
{
    WSQ_ASSERT(codelength);
    WSQ_ASSERT(hufftree);
    if (root > 0) {
        codeword_bitlengths(codelength, hufftree, hufftree[2 * root], bits + 1);
        codeword_bitlengths(codelength, hufftree, hufftree[2 * root + 1], bits + 1);
    } else {
        codelength[-root] = bits;
    }
}

}  // namespace

const ui8 *wsqcsym(ui32 *weights, const ui8 *input, ui32 length)
{
    WSQ_ASSERT(weights);
    WSQ_ASSERT(input);
    WSQ_ASSERT(length>0);
    std::memset(weights, 0, 256 * sizeof(ui32));
    ui32 n = 0;
    while (n < length) {
        ui8 symbol = input[n++];
        if (is_stream_end(symbol))
            break;
        ++weights[symbol];
        n += literal_bytes(symbol);
    }
    return input + n;
}

ui8 *makedht(ui8 *output, const ui32 *counts, int maxbits)
{
    WSQ_ASSERT(output);
    WSQ_ASSERT(counts);
    WSQ_ASSERT(maxbits>8);
    WSQ_ASSERT(maxbits<256);
    /* Node n (symbol s is leaf -s, the reserved leaf -256, merges 1, 2, ...)
     * has its weight at tags[n + 256]. The arrays have room for a merge per
     * symbol, so even 256 non-zero counts are safe. Weights saturate below
     * the sentinel that every live node beats. */
    const ui32 sentinel = 0xFFFFFFFFu;
    ui32 tags[513] = {};
    int huff[514] = {};
    int codelength[257] = {};
    int numcodes[257] = {};
    int active = 0;
    tags[0] = 1;
    for (int s = 0; s < 256; ++s) {
        tags[256 - s] = counts[s] < sentinel ? counts[s] : sentinel - 1;
        active += counts[s] != 0;
    }
    for (int j = 1; j <= active; ++j) {
        int min0 = 0, min1 = 0;
        ui32 w0 = sentinel, w1 = sentinel;
        for (int node = -256; node < j; ++node) {
            ui32 w = tags[node + 256];
            if (w == 0)
                continue;
            if (w < w0) {
                min1 = min0, w1 = w0;
                min0 = node, w0 = w;
            } else if (w < w1) {
                min1 = node, w1 = w;
            }
        }
        ui32 sum = w0 + w1;
        tags[j + 256] = sum >= w0 && sum < sentinel ? sum : sentinel - 1;
        tags[min0 + 256] = tags[min1 + 256] = 0;
        huff[2 * j] = min0;
        huff[2 * j + 1] = min1;
    }
    codeword_bitlengths(codelength, huff, active, 0);
    int longest = 0;
    for (int s = 0; s < 257; ++s) {
        ++numcodes[codelength[s]];
        if (codelength[s] > longest)
            longest = codelength[s];
    }
    int i = longest;
    if (longest > maxbits) {
        for (i = longest; i > maxbits; --i) {
            while (numcodes[i] > 0) {
                int j = i - 2;
                while (numcodes[j] == 0)
                    --j;
                numcodes[i] -= 2;
                numcodes[i - 1] += 1;
                numcodes[j + 1] += 2;
                numcodes[j] -= 1;
            }
        }
        i = maxbits;
    }
    --numcodes[i];  /* the reserved all-ones codeword, of the longest length in use */
    for (int length = 1; length <= maxbits; ++length)
        *output++ = (ui8)numcodes[length];
    for (int length = 1; length <= longest; ++length)
        for (int s = 0; s < 256; ++s)
            if (codelength[s] == length)
                *output++ = (ui8)s;
    return output;
}

void dht2cwbl(ui32 *huffcode, int *huffsize, const ui8 *dht, int width)
{
    WSQ_ASSERT(huffcode);
    WSQ_ASSERT(huffsize);
    std::memset(huffcode, 0, 256 * sizeof(ui32));
    std::memset(huffsize, 0, 256 * sizeof(int));
    ui32 codeword = 0;
    const ui8 *value = dht + width;
    for (int length = 1; length <= width; ++length) {
        for (int n = dht[length - 1]; n > 0; --n, ++value) {
            huffcode[*value] = codeword++;
            huffsize[*value] = length;
        }
        codeword <<= 1;
    }
}

/* ==== Entropy coding =======================================================
 * Huffman coding of a symbol stream into a bit stream, and the decoding
 * tree and decoder of such a stream. */

namespace {

/* Eight bytes as one word, the first most significant, on a machine of
 * either byte order (compilers make each one load or store and a swap). */
std::uint64_t big_endian_word(const ui8 *p)
{
    return (std::uint64_t)p[0] << 56 | (std::uint64_t)p[1] << 48 | (std::uint64_t)p[2] << 40 |
           (std::uint64_t)p[3] << 32 | (std::uint64_t)p[4] << 24 | (std::uint64_t)p[5] << 16 |
           (std::uint64_t)p[6] << 8 | p[7];
}
void put_big_endian_word(ui8 *p, std::uint64_t word)
{
    for (int i = 0; i < 8; ++i)
        p[i] = (ui8)(word >> (56 - 8 * i));
}

/* Packs bit fields into whole bytes, most significant bit first; the bytes
 * equal those putbits would leave. The fields gather left-aligned in a word
 * whose eight bytes are stored at once, into a staging area with room to
 * spare, and the whole bytes among them are kept: so no field waits on a
 * branch that depends on the lengths of the codes. Only whole bytes reach
 * out, when the staging area fills and at the end. */
struct byte_packer {
    enum { stage_bytes = 4096 };
    ui8 *out;
    std::uint64_t bits = 0;  /* the last bits, left-aligned */
    int count = 0;           /* bits held, fewer than 8 between calls */
    size_t staged = 0;       /* whole bytes in stage */
    ui8 stage[stage_bytes + sizeof(std::uint64_t)];

    explicit byte_packer(ui8 *to) : out(to) {}

    /* A field of 1 to 32 bits, nothing above them. */
    void put(ui32 field, int width)
    {
        bits |= (std::uint64_t)field << (64 - count - width);
        count += width;
        put_big_endian_word(stage + staged, bits);
        staged += (size_t)(count >> 3);
        bits <<= count & ~7;
        count &= 7;
        if (staged > stage_bytes - 2 * sizeof bits)
            drain();
    }

    /* Writes the whole bytes staged. */
    void drain()
    {
        out = (ui8 *)std::memcpy(out, stage, staged) + staged;
        staged = 0;
    }

    /* The bits held beyond the whole bytes, right-aligned. */
    ui32 rest() const { return (ui32)(bits >> (64 - count)); }
};

/* The symbol stream's literal field after the symbol at input[0]. */
ui32 literal_field(const ui8 *input, int bytes)
{
    return bytes == 1 ? input[1] : (ui32)input[1] << 8 | input[2];
}

/* wsqwecs for an unbounded stream that starts on a byte boundary. Stops
 * before a symbol without a codeword, leaving it to putbits to refuse. */
const ui8 *code_symbols_bytewise(bitio *output, const ui8 *input, ui32 length, const ui32 *code,
                                 const int *bits)
{
    byte_packer packer(output->position);
    ui32 n = 0, written = 0;
    while (n < length) {
        ui8 symbol = input[n];
        if (is_stream_end(symbol)) {
            ++n;
            break;
        }
        if (bits[symbol] == 0)
            break;
        int literal = literal_bytes(symbol);
        if (literal)
            packer.put(code[symbol] << 8 * literal | literal_field(input + n, literal),
                       bits[symbol] + 8 * literal);
        else
            packer.put(code[symbol], bits[symbol]);
        written += bits[symbol] + 8 * literal;
        n += 1 + literal;
    }
    packer.drain();
    output->position = packer.out;
    output->nextbit += written - packer.count;
    if (packer.count)
        putbits(output, packer.rest(), packer.count);
    if (n < length && !is_stream_end(input[n]) && bits[input[n]] == 0)
        putbits(output, code[input[n]], bits[input[n]]);
    return input + n;
}

}  // namespace

const ui8 *wsqwecs(bitio *output, const ui8 *input, ui32 length, const ui8 *dht)
{
    WSQ_ASSERT(output);
    WSQ_ASSERT(input);
    WSQ_ASSERT(length>0);
    WSQ_ASSERT(dht);
    ui32 code[256];
    int bits[256];
    dht2cwbl(code, bits, dht, WSQ_MAXBITS);
    if (output->length == 0 && output->mask == 128) {
        const ui8 *end = code_symbols_bytewise(output, input, length, code, bits);
        padbits(output, 1);
        return end;
    }
    ui32 n = 0;
    while (n < length) {
        ui8 symbol = input[n++];
        if (is_stream_end(symbol))
            break;
        putbits(output, code[symbol], bits[symbol]);
        int literal = literal_bytes(symbol);
        if (literal)
            putbits(output, literal_field(input + n - 1, literal), 8 * literal);
        n += literal;
    }
    padbits(output, 1);
    return input + n;
}

int *dht2caht(int *root, const ui8 *dht, int b)
{
    WSQ_ASSERT(dht);
    WSQ_ASSERT(b>0);
    WSQ_ASSERT(root);
    enum { slots = 512, last_node = slots / 2 - 1 };
    for (int i = 0; i < slots; ++i)
        root[i] = 1;
    int longest = b;
    while (longest > 0 && dht[longest - 1] == 0)
        --longest;
    /* A well-formed table fills at most 510 slots. A malformed one is cut at
     * the array's end, and internal nodes whose children would lie beyond it
     * are left unreachable (1), so no walk can leave the array. */
    int leaf = 0, next = 1, cursor = 0, width = 1;
    for (int length = 1; length <= longest && cursor < slots; ++length) {
        int level = 2 * width, leaves = dht[length - 1];
        for (int i = 0; i < level && cursor < slots; ++i)
            root[cursor++] = i < leaves ? -leaf++ : next <= last_node ? next++ : 1;
        width = level > leaves ? level - leaves : 0;
        if (width > slots / 2)
            width = slots / 2;
    }
    return root;
}

namespace {

/* The rest of the current byte is all 1-bits, the padding that ends a coded
 * segment, and the segment ends with that byte. Needs a byte-aligned limit. */
bool at_padding(const bitio *stream, ui32 limit)
{
    int rest = 2 * stream->mask - 1;
    return stream->mask != 128 && limit - stream->nextbit < 8 &&
           (*stream->position & rest) == rest;
}

constexpr int window_bits = WSQ_WINDOW_BITS;

/* The next 24 bits of the stream, without consuming them; the caller makes
 * sure three whole bytes lie ahead. */
ui32 peek24(const bitio *stream)
{
    const ui8 *p = stream->position;
    ui32 bits = (ui32)p[0] << 16 | (ui32)p[1] << 8 | p[2];
    return bits << (stream->nextbit & 7) & 0xFFFFFF;
}

void skip_bits(bitio *stream, int count)
{
    stream->nextbit += count;
    stream->position = stream->buffer + stream->nextbit / 8;
    stream->mask = 128 >> (stream->nextbit & 7);
}

/* A literal field of 8 or 16 bits: whole bytes ahead are read at once. */
ui32 read_literal(bitio *stream, int bits, ui32 limit)
{
    if (limit - stream->nextbit < 24)
        return getbits(stream, bits);
    ui32 field = peek24(stream) >> (24 - bits);
    skip_bits(stream, bits);
    return field;
}

}  // namespace

namespace {

/* Zero runs and values: the symbols a window of the symbol table may hold. */
bool is_run_or_value(ui8 symbol)
{
    return (symbol >= 1 && symbol <= 100) || (symbol >= 107 && symbol <= 254);
}

/* Gives each window of WSQ_SYMBOL_BITS bits under node, reached over the
 * `depth` bits of prefix, the run or value its walk from the root ends on
 * first (symbol and length as in codewalk's symbols), or 0. */
void first_symbols(ui32 *first, const int *tree, const ui8 *huffval, int node, int prefix,
                   int depth)
{
    for (int bit = 0; bit < 2; ++bit) {
        int child = tree[2 * node + bit], at = 2 * prefix + bit, length = depth + 1;
        if (child > 0 && length < WSQ_SYMBOL_BITS) {
            first_symbols(first, tree, huffval, child, at, length);
            continue;
        }
        ui32 entry = 0;
        if (child <= 0 && is_run_or_value(huffval[-child]))
            entry = (ui32)huffval[-child] << 8 | 1u << 4 | (ui32)length;
        int spread = WSQ_SYMBOL_BITS - length;
        std::fill_n(first + ((size_t)at << spread), (size_t)1 << spread, entry);
    }
}

/* The runs and values that window w holds whole, from the first of each
 * window: the walk after a leaf starts again at the root. */
ui32 window_symbols(const ui32 *first, int w)
{
    enum { mask = (1 << WSQ_SYMBOL_BITS) - 1 };
    ui32 entry = first[w], count = entry >> 4 & 3, used = entry & 15;
    while (count > 0 && count < 3) {
        ui32 next = first[w << used & mask];
        ui32 length = next & 15;
        if (next == 0 || used + length > WSQ_SYMBOL_BITS)
            break;
        entry |= (next >> 8) << 8 * ++count;
        used += length;
    }
    return (entry & ~0xFFu) | count << 4 | used;
}

}  // namespace

/* Window w of a walk tells where the walk from the root over the bits of w
 * ends: a leaf after `length` bits, or an internal node after all of them. */
void makewalk(codewalk *walk, const ui8 *dht)
{
    dht2caht(walk->tree, dht, WSQ_MAXBITS);
    for (int w = 0; w < 1 << window_bits; ++w) {
        int node = 0, length = 0;
        while (length < window_bits && (length == 0 || node > 0))
            node = walk->tree[2 * node + (w >> (window_bits - 1 - length++) & 1)];
        walk->windows[w] = {node, length};
    }
    ui32 first[1 << WSQ_SYMBOL_BITS];
    first_symbols(first, walk->tree, dht + WSQ_MAXBITS, 0, 0, 0);
    for (int w = 0; w < 1 << WSQ_SYMBOL_BITS; ++w)
        walk->symbols[w] = window_symbols(first, w);
}

namespace {

/* Where decoded coefficients go: room() more at most. value() and zeros()
 * write, zeros() refusing a run beyond the room; small_value() writes one of
 * the values -73 ... 74. */
struct integer_sink {
    int32 *out;
    size_t left;

    size_t room() const { return left; }
    void value(int32 v)
    {
        *out++ = v;
        --left;
    }
    void small_value(int32 v) { value(v); }
    bool zeros(ui32 count)
    {
        if (count > left)
            return false;
        out = std::fill_n(out, count, 0);
        left -= count;
        return true;
    }
};

/* Writes the coefficients of a cursor's subbands, dequantized. */
struct band_sink {
    bandcursor &c;
    real *out = nullptr, *end = nullptr;  /* in the subband being filled */
    size_t left;

    explicit band_sink(bandcursor &cursor) : c(cursor), left(cursor.room)
    {
        if (c.band < c.bands)
            enter(c.out[c.band] + c.filled);
    }
    ~band_sink()
    {
        c.room = left;
        if (c.band < c.bands)
            c.filled = (ui32)(out - c.out[c.band]);
    }

    void enter(real *at)
    {
        out = at;
        end = c.out[c.band] + c.length[c.band];
        if (c.ready == c.band)
            return;
        real h = c.zbin[c.band] * 0.5f;
        for (int v = -73; v <= 74; ++v)
            c.values[v + 73] = dequantized((real)v, c.center, c.qbin[c.band], h);
        c.ready = c.band;
    }
    void next_band()
    {
        ++c.band;
        enter(c.out[c.band]);
    }

    size_t room() const { return left; }
    void value(int32 v)
    {
        if (out == end)
            next_band();
        *out++ = dequantized((real)v, c.center, c.qbin[c.band], c.zbin[c.band] * 0.5f);
        --left;
    }
    void small_value(int32 v)
    {
        if (WSQ_UNLIKELY(out == end))
            next_band();
        *out++ = c.values[v + 73];
        --left;
    }
    bool zeros(ui32 count)
    {
        if (count > left)
            return false;
        left -= count;
        if (WSQ_UNLIKELY(count + lanes > (size_t)(end - out)))
            return zeros_to_the_end(count);
        /* Whole groups of zeros: those past the run lie in the subband,
         * whose every place a later symbol writes. A float's +0 is all zero
         * bytes: memset is a fill of memory in every build, at any level of
         * optimization. */
        for (ui32 i = 0; i < count; i += lanes)
            std::memset(out + i, 0, lanes * sizeof(real));
        out += count;
        return true;
    }
    bool zeros_to_the_end(ui32 count)
    {
        while (count > (size_t)(end - out)) {
            count -= (ui32)(end - out);
            std::memset(out, 0, (size_t)(end - out) * sizeof(real));
            next_band();
        }
        std::memset(out, 0, count * sizeof(real));
        out += count;
        return true;
    }
    enum { lanes = 8 };
};

/* A zero run or a value; never beyond the room. */
template <class Sink>
WSQ_ALWAYS_INLINE void put_symbol(Sink &sink, ui8 symbol)
{
    if (symbol <= 100)
        sink.zeros(symbol);
    else
        sink.small_value(symbol - 180);
}

/* Decodes one codeword, and the literal field after it, into sink, its
 * walk made bit by bit near the limit and a window at a time before it.
 * Returns false, with *stop telling why, when decoding ends before it. */
template <class Sink>
bool decode_symbol(Sink &sink, bitio *input, ui32 limit, const codewalk *walk,
                   const ui8 *huffval, bool stop_at_padding, recsstop *stop)
{
    const int *tree = walk->tree;
    if (sink.room() == 0) {
        *stop = RECS_FULL;
        return false;
    }
    if (stop_at_padding && at_padding(input, limit)) {
        *stop = RECS_PADDING;
        return false;
    }
    int node = 0;
    if (limit - input->nextbit >= 24) {
        auto w = walk->windows[peek24(input) >> (24 - window_bits)];
        skip_bits(input, w.length);
        node = w.node;
        while (node > 0 && input->nextbit < limit)
            node = tree[2 * node + getbit(input)];
    } else {
        do
            node = tree[2 * node + getbit(input)];
        while (node > 0 && input->nextbit < limit);
    }
    if (node > 0) {
        *stop = RECS_CUT_CODEWORD;
        return false;
    }
    ui8 symbol = huffval[-node];
    if (is_stream_end(symbol)) {
        *stop = RECS_END_SYMBOL;
        return false;
    }
    ui32 count;
    switch (symbol) {
    case 101: sink.value((int32)read_literal(input, 8, limit)); return true;
    case 102: sink.value(-(int32)read_literal(input, 8, limit)); return true;
    case 103: sink.value((int32)read_literal(input, 16, limit)); return true;
    case 104: sink.value(-(int32)read_literal(input, 16, limit)); return true;
    case 105: count = read_literal(input, 8, limit); break;
    case 106: count = read_literal(input, 16, limit); break;
    default:
        if (symbol > 100) {
            sink.small_value(symbol - 180);
            return true;
        }
        count = symbol;
    }
    if (!sink.zeros(count)) {
        *stop = RECS_OVERFLOW;
        return false;
    }
    return true;
}

/* Far from the limit and the room's end, each window of the symbol table
 * gives its runs and values at once: the decoding of decode_symbol, which
 * takes the other symbols. Returns false when decoding ends. */
template <class Sink>
bool decode_windows(Sink &sink, bitio *input, ui32 limit, const codewalk *walk,
                    const ui8 *huffval, bool stop_at_padding, recsstop *stop)
{
    enum { margin = 64, most_written = 3 * 100 };
    const ui8 *bytes = input->buffer;
    ui32 bit = input->nextbit;
    bool going = true;
    while (bit < limit && limit - bit >= margin && sink.room() >= most_written) {
        std::uint64_t word = big_endian_word(bytes + bit / 8) << (bit & 7);
        ui32 entry = walk->symbols[word >> (64 - WSQ_SYMBOL_BITS)];
        ui32 count = entry >> 4 & 3;
        if (count == 0) {
            skip_bits(input, (int)(bit - input->nextbit));
            going = decode_symbol(sink, input, limit, walk, huffval, stop_at_padding, stop);
            bit = input->nextbit;
            if (!going)
                break;
            continue;
        }
        bit += entry & 15;
        put_symbol(sink, (ui8)(entry >> 8));
        if (count > 1) {
            put_symbol(sink, (ui8)(entry >> 16));
            if (count > 2)
                put_symbol(sink, (ui8)(entry >> 24));
        }
    }
    skip_bits(input, (int)(bit - input->nextbit));
    return going;
}

template <class Sink>
void decode_symbols(Sink &sink, bitio *input, ui32 limit, const codewalk *walk,
                    const ui8 *huffval, bool stop_at_padding, recsstop *stop)
{
    *stop = RECS_LIMIT;
    if (!decode_windows(sink, input, limit, walk, huffval, stop_at_padding, stop))
        return;
    while (input->nextbit < limit)
        if (!decode_symbol(sink, input, limit, walk, huffval, stop_at_padding, stop))
            return;
}

}  // namespace

int32 *wsqrecsb(int32 *output, size_t room, bitio *input, ui32 limit, const codewalk *walk,
                const ui8 *huffval, bool stop_at_padding, recsstop *stop)
{
    integer_sink sink = {output, room};
    decode_symbols(sink, input, limit, walk, huffval, stop_at_padding, stop);
    return sink.out;
}

void startbands(bandcursor *cursor, real center)
{
    WSQ_ASSERT(cursor);
    cursor->bands = 0;
    cursor->center = center;
    cursor->band = 0;
    cursor->filled = 0;
    cursor->room = 0;
    cursor->ready = -1;
}

void addband(bandcursor *cursor, real *out, ui32 length, real qbin, real zbin)
{
    WSQ_ASSERT(cursor->bands < WSQ_SUBBANDS);
    WSQ_ASSERT(length > 0);
    int i = cursor->bands++;
    cursor->out[i] = out;
    cursor->length[i] = length;
    cursor->qbin[i] = qbin;
    cursor->zbin[i] = zbin;
    cursor->room += length;
}

void wsqrecsunq(bandcursor *cursor, bitio *input, ui32 limit, const codewalk *walk,
                const ui8 *huffval, bool stop_at_padding, recsstop *stop)
{
    band_sink sink(*cursor);
    decode_symbols(sink, input, limit, walk, huffval, stop_at_padding, stop);
}

int32 *wsqrecs(int32 *output, bitio *input, ui32 length, const ui8 *dht)
{
    WSQ_ASSERT(output);
    WSQ_ASSERT(length>0);
    WSQ_ASSERT(input);
    WSQ_ASSERT(dht);
    codewalk walk;
    makewalk(&walk, dht);
    ui32 limit = input->length < length ? input->length : length;
    recsstop stop;
    return wsqrecsb(output, SIZE_MAX, input, limit, &walk, dht + WSQ_MAXBITS, false, &stop);
}

ui8 *wsqstuff(ui8 *output, const ui8 *input, ui32 length)
{
    const ui8 *end = input + length;
    while (input < end) {
        const ui8 *ff = (const ui8 *)std::memchr(input, 0xFF, (size_t)(end - input));
        const ui8 *next = ff ? ff + 1 : end;
        std::memcpy(output, input, (size_t)(next - input));
        output += next - input;
        if (ff)
            *output++ = 0x00;
        input = next;
    }
    return output;
}

/* ==== Table segments =======================================================
 * Bodies of the frame's M and R, the transform table and the quantization
 * table; the transform table reader rebuilds the whole filter bank. */

ui8 *wsqwmr(ui8 *output, real midpoint, real rescale)
{
    WSQ_ASSERT(output);
    output = writefix24(output, midpoint);
    return writefix24(output, rescale);
}

namespace {

/* First stored tap of a filter: symmetric types keep only the half from the
 * centre on. */
int stored_taps_start(const pqf *filter, int whole, int odd_symmetric, int even_symmetric)
{
    int type = filter->type;
    if (type == whole)
        return filter->alpha;
    if (type == odd_symmetric)
        return (filter->alpha + filter->omega) / 2;
    if (type != even_symmetric)
        WSQ_ASSERT(0);
    return (filter->alpha + filter->omega + 1) / 2;
}

ui8 *write_taps(ui8 *output, const pqf *filter, int start)
{
    for (int n = start; n <= filter->omega; ++n)
        output = writefix48(output, filter->f[n]);
    return output;
}

}  // namespace

ui8 *wsqwdtt(ui8 *output, const pqf *hqf, const pqf *gqf)
{
    WSQ_ASSERT(output);
    WSQ_ASSERT(hqf);
    WSQ_ASSERT(gqf);
    *output++ = (ui8)(hqf->omega - hqf->alpha + 1);
    *output++ = (ui8)(gqf->omega - gqf->alpha + 1);
    output = write_taps(output, hqf, stored_taps_start(hqf, 0, 2, 4));
    return write_taps(output, gqf, stored_taps_start(gqf, 1, 3, 5));
}

ui8 *wsqwdqt(ui8 *output, real center, const real *qs, const real *zs, int blocks)
{
    WSQ_ASSERT(output);
    WSQ_ASSERT(qs);
    WSQ_ASSERT(zs);
    WSQ_ASSERT(blocks>0);
    output = writefix24(output, center);
    for (int i = 0; i < blocks; ++i) {
        output = writefix24(output, qs[i]);
        output = writefix24(output, zs[i]);
    }
    return output;
}

const ui8 *wsqrmr(const ui8 *input, real *midpoint, real *rescale)
{
    WSQ_ASSERT(input);
    WSQ_ASSERT(midpoint);
    WSQ_ASSERT(rescale);
    input = readfix24(midpoint, input);
    return readfix24(rescale, input);
}

namespace {

/* The four temporary tap arrays of a transform table's filter bank. */
struct bank_taps {
    real *h0 = nullptr, *h1 = nullptr, *f0 = nullptr, *f1 = nullptr;

    ~bank_taps()
    {
        for (real *taps : {h0, h1, f0, f1})
            freevoid(taps);
    }

    bool allocate(int L0, int L1, on_no_memory mode)
    {
        h0 = (real *)std::calloc(L0, sizeof(real));
        if (!WSQ_ALLOCATED(h0, mode))
            return false;
        h1 = (real *)std::calloc(L1, sizeof(real));
        if (!WSQ_ALLOCATED(h1, mode))
            return false;
        f0 = (real *)std::calloc(L1, sizeof(real));
        if (!WSQ_ALLOCATED(f0, mode))
            return false;
        f1 = (real *)std::calloc(L0, sizeof(real));
        return WSQ_ALLOCATED(f1, mode);
    }
};

/* Releases the records made so far; the null result of a builder that ran
 * out of memory. */
const ui8 *discard_bank(pqf **filters)
{
    for (int i = 0; i < 4; ++i)
        filters[i] = (pqf *)freepqf(filters[i]);
    return nullptr;
}

const ui8 *read_filter_bank(pqf **filters, const ui8 *input, on_no_memory mode)
{
    int L0 = input[0], L1 = input[1];
    const ui8 *ptr = input + 2;
    bank_taps taps;
    if (!taps.allocate(L0, L1, mode))
        return nullptr;
    real *h0 = taps.h0, *h1 = taps.h1, *f0 = taps.f0, *f1 = taps.f1;
    filters[0] = filters[1] = filters[2] = filters[3] = nullptr;

    /* Tap n of a filter starting at alpha is element n - alpha. */
    int h0omega, h0alpha, h0type;
    if (L0 & 1) {
        h0omega = (L0 - 1) / 2, h0alpha = -h0omega, h0type = 2;
        for (int n = 0; n <= h0omega; ++n)
            ptr = readfix48(&h0[n - h0alpha], ptr);
        for (int n = 1; n <= h0omega; ++n)
            h0[-n - h0alpha] = h0[n - h0alpha];
    } else {
        h0omega = L0 / 2 - 1, h0alpha = -L0 / 2, h0type = 4;
        for (int n = 0; n <= h0omega; ++n)
            ptr = readfix48(&h0[n - h0alpha], ptr);
        for (int n = 1; n <= L0 / 2; ++n)
            h0[-n - h0alpha] = h0[n - 1 - h0alpha];
    }
    filters[0] = make_filter("H0", h0, h0alpha, h0omega, h0type, mode);

    int f1alpha = -h0omega - 1, f1omega = -h0alpha - 1, f1type = (L0 & 1) ? 3 : 5;
    for (int n = f1alpha; n <= f1omega; ++n) {
        real sign = (n + 1) % 2 == 0 ? 1.0f : -1.0f;
        f1[n - f1alpha] = sign * h0[-1 - n - h0alpha];
    }
    filters[3] = make_filter("F1", f1, f1alpha, f1omega, f1type, mode);

    int h1omega, h1alpha, h1type;
    if (L1 & 1) {
        h1omega = (L1 - 3) / 2, h1alpha = -(L1 + 1) / 2, h1type = 3;
        for (int n = -1; n <= h1omega; ++n)
            ptr = readfix48(&h1[n - h1alpha], ptr);
        for (int n = 1; n <= -h1alpha - 1; ++n)
            h1[-1 - n - h1alpha] = h1[-1 + n - h1alpha];
    } else {
        h1omega = L1 / 2 - 1, h1alpha = -L1 / 2, h1type = 5;
        for (int n = 0; n <= h1omega; ++n)
            ptr = readfix48(&h1[n - h1alpha], ptr);
        for (int n = 1; n <= L1 / 2; ++n)
            h1[-n - h1alpha] = -h1[n - 1 - h1alpha];
    }
    filters[1] = make_filter("H1", h1, h1alpha, h1omega, h1type, mode);

    int f0alpha = -h1omega - 1, f0omega = -h1alpha - 1, f0type = (L1 & 1) ? 2 : 4;
    for (int n = f0alpha; n <= f0omega; ++n) {
        real sign = n % 2 == 0 ? 1.0f : -1.0f;
        f0[n - f0alpha] = sign * h1[-1 - n - h1alpha];
    }
    filters[2] = make_filter("F0", f0, f0alpha, f0omega, f0type, mode);
    for (int i = 0; i < 4; ++i)
        if (!filters[i])
            return discard_bank(filters);
    return ptr;
}

}  // namespace

const ui8 *wsqrdtt(pqf **filters, const ui8 *input)
{
    WSQ_ASSERT(filters);
    WSQ_ASSERT(input);
    return read_filter_bank(filters, input, on_no_memory::report);
}

const ui8 *tryrdtt(pqf **filters, const ui8 *input)
{
    WSQ_ASSERT(filters);
    WSQ_ASSERT(input);
    return read_filter_bank(filters, input, on_no_memory::give_null);
}

const ui8 *wsqrdqt(real *center, real *qs, real *zs, int blocks, const ui8 *input)
{
    WSQ_ASSERT(center);
    WSQ_ASSERT(qs);
    WSQ_ASSERT(zs);
    WSQ_ASSERT(input);
    WSQ_ASSERT(blocks>0);
    input = readfix24(center, input);
    for (int i = 0; i < blocks; ++i) {
        input = readfix24(&qs[i], input);
        input = readfix24(&zs[i], input);
    }
    return input;
}

ui8 *wsqwhead(ui8 *output, ui16 marker, ui32 bodylength)
{
    output = sput2(output, marker);
    return sput2(output, (ui16)(bodylength + 2));
}

ui8 *wsqwsof(ui8 *output, int A, int B, int rows, int cols, real midpoint, real rescale)
{
    *output++ = (ui8)(A & 0xFF);
    *output++ = (ui8)(B & 0xFF);
    output = sput2(output, (ui16)rows);
    output = sput2(output, (ui16)cols);
    output = wsqwmr(output, midpoint, rescale);
    *output++ = (ui8)WSQ_EV;
    return sput2(output, (ui16)WSQ_SF);
}

ui8 *wsqwdht(ui8 *output, const ui8 (*dht)[WSQ_DHT_BYTES], const int *dhtlen, int numdhts)
{
    for (int t = 0; t < numdhts; ++t) {
        *output++ = (ui8)t;
        std::memcpy(output, dht[t], (size_t)dhtlen[t]);
        output += dhtlen[t];
    }
    return output;
}

/* ==== Encoding stages ======================================================
 * The arithmetic of the encoder's stages between the transform and the
 * segments, over the 64-subband tree: sizes, variances of the subbands'
 * central regions, bit allocation, quantization into the three blocks,
 * symbols, tables and coding of a block. */

namespace {

/* The central region of a subband, whose variance steers the bit rate: the
 * middle 7/16 of its height from 9/32 down and the middle 3/4 of its width,
 * away from its edges, whose coefficients owe much to the transform's
 * extension of the signal beyond the image. */
struct central_region {
    int begheight, midheight, begwidth, midwidth;
};

central_region subband_middle(int height, int width)
{
    return {9 * height / 32, 7 * height / 16, width / 8, 3 * width / 4};
}

/* Subbands whose central variances are computed side by side. */
constexpr int variance_lanes = 4;

/* The sums of the values and of their squares over rows i0 .. i1 - 1 and
 * columns j0 .. j1 - 1 of four subbands of one width, side by side: each
 * subband keeps its own two sums, taken in its own order exactly as it
 * would be alone, so the results do not depend on the company; independent
 * sums overlap where one alone would wait on each addition. */
void region_sums(double *sum, double *sumsq, const real *const *lane, int i0, int i1, int j0,
                 int j1, int width)
{
    for (int l = 0; l < variance_lanes; ++l)
        sum[l] = sumsq[l] = 0.0;
    for (int i = i0; i < i1; ++i) {
        for (int j = j0; j < j1; ++j) {
            for (int l = 0; l < variance_lanes; ++l) {
                double coef = lane[l][i * width + j];
                sumsq[l] = std::fma(coef, coef, sumsq[l]);
                sum[l] += coef;
            }
        }
    }
}

/* The central variances of `count` (1 to variance_lanes) subbands of one size. */
void central_variances(double *variance, const real *const *coefs, int count, int height,
                       int width)
{
    central_region middle = subband_middle(height, width);
    const real *lane[variance_lanes];
    for (int l = 0; l < variance_lanes; ++l)
        lane[l] = coefs[l < count ? l : 0];  /* spare lanes repeat the first subband */
    double sum[variance_lanes], sumsq[variance_lanes];
    auto sums = vectors().region_sums ? vectors().region_sums : region_sums;
    sums(sum, sumsq, lane, middle.begheight, middle.begheight + middle.midheight,
         middle.begwidth, middle.begwidth + middle.midwidth, width);
    int num = middle.midwidth * middle.midheight;
    WSQ_ASSERT(num>1);
    for (int l = 0; l < count; ++l)
        variance[l] = (sumsq[l] - (sum[l] * sum[l]) / num) / (num - 1);
}

/* The subbands of a higher number are the larger ones: handed out first,
 * they leave the small ones to fill the gaps. */
int largest_first(size_t i, int subbands)
{
    return subbands - 1 - (int)i;
}

void count_symbols(ui32 *weights, const ui8 *input, int length)
{
    if (length > 0)
        wsqcsym(weights, input, (ui32)length);
    else
        std::memset(weights, 0, 256 * sizeof(ui32));
}

}  // namespace

void subbandsizes(int *xs, int *ys, ui32 *numcoefs, int rows, int cols, const pqf *hqf,
                  const pqf *gqf)
{
    xywp2(xs, ys, rows, cols, wsqlevels, 0, 0, hqf, gqf, hqf, gqf);
    for (int k = 0; k < WSQ_SUBBANDS; ++k)
        numcoefs[k] = (ui32)(xs[wsqorder[k]] * ys[wsqorder[k]]);
}

bool measurable(int rows, int cols, const pqf *hqf, const pqf *gqf)
{
    int xs[WSQ_SUBBANDS], ys[WSQ_SUBBANDS];
    xywp2(xs, ys, rows, cols, wsqlevels, 0, 0, hqf, gqf, hqf, gqf);
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
        central_region middle = subband_middle(xs[wsqorder[k]], ys[wsqorder[k]]);
        if (middle.midheight * middle.midwidth <= 1)
            return false;
    }
    return true;
}

void subbandvars(double *variance, void *const *contents, const int *xs, const int *ys,
                 wsqteam *team)
{
    /* Batches of coded subbands of one size, the larger subbands first. */
    struct batch {
        int count, k[variance_lanes];
    } batches[WSQ_CODED_SUBBANDS];
    size_t nbatches = 0;
    for (int i = 0; i < WSQ_CODED_SUBBANDS; ++i) {
        int k = largest_first((size_t)i, WSQ_CODED_SUBBANDS), block = wsqorder[k];
        size_t b = 0;
        while (b < nbatches &&
               !(batches[b].count < variance_lanes && xs[wsqorder[batches[b].k[0]]] == xs[block] &&
                 ys[wsqorder[batches[b].k[0]]] == ys[block]))
            ++b;
        if (b == nbatches)
            batches[nbatches++].count = 0;
        batches[b].k[batches[b].count++] = k;
    }
    teamfor(team, nbatches, [&](size_t b0, size_t b1) {
        for (size_t b = b0; b < b1; ++b) {
            const batch &m = batches[b];
            const real *coefs[variance_lanes];
            double out[variance_lanes];
            for (int l = 0; l < m.count; ++l)
                coefs[l] = (const real *)contents[wsqorder[m.k[l]]];
            int block = wsqorder[m.k[0]];
            central_variances(out, coefs, m.count, xs[block], ys[block]);
            for (int l = 0; l < m.count; ++l)
                variance[m.k[l]] = out[l];
        }
    });
}

namespace {

/* The rate model of the bit allocation: a subband of standard deviation s
 * quantized with bins of width Q costs log2(spread * s / Q) bits a
 * coefficient, as if its coefficients spread evenly over `spread` standard
 * deviations. A subband whose bins are that wide or wider has a rate of zero
 * or less: it leaves the rate sum (and is still coded, nearly all zeros). */
constexpr double spread = 5.0;
/* Below this central variance a subband is too flat to be worth any bits: it
 * gets zero widths and is not coded. */
constexpr double least_variance = 1.01;
/* The relative bin width of a subband is width_scale / (adjustment * ln
 * variance): the busier the subband, the finer its bins relative to the
 * others. The four lowest subbands, the image at its coarsest, take the
 * relative width 1 whatever their variance. */
constexpr double width_scale = 10.0, coarsest_width = 1.0;
/* The zero bin is this many bin widths wide: the dead zone that sends the
 * smallest coefficients, mostly noise, to zero. */
constexpr double zero_bin_ratio = 1.2;

}  // namespace

double binwidths(real *qs, real *zs, const double *variance, double bitrate)
{
    int K[WSQ_CODED_SUBBANDS] = {};
    double m1[WSQ_CODED_SUBBANDS];     /* the share of all coefficients in subband k */
    double Qprime[WSQ_CODED_SUBBANDS]; /* relative bin widths: the widths times the quality */
    double logbins = bitrate * std::log(2.0);  /* the rate in natural units */
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
        if (variance[k] < least_variance) {
            Qprime[k] = 0.0;
            continue;
        }
        K[k] = 1;
        m1[k] = 1.0 / (double)(1 << (2 * wsqlevels[k]));
        Qprime[k] = width_scale / ((double)adjustment[k] * std::log(variance[k]));
    }
    Qprime[0] = Qprime[1] = Qprime[2] = Qprime[3] = coarsest_width;
    double quality;
    bool nonpositive_rates;
    do {
        double S1 = 0.0;
        for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k)
            if (K[k])
                S1 += m1[k];
        if (!(S1 > 0.0))
            return 0.0;
        /* The quality at which the modelled rates of the subbands still in
         * the sum, weighted by their shares, add up to the bit rate. */
        double logquality = 0.0;
        for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k)
            if (K[k])
                logquality = std::fma(m1[k], 0.5 * std::log(variance[k]) - std::log(Qprime[k]),
                                      logquality);
        quality = (1.0 / spread) * std::exp((logbins - logquality) * (1.0 / S1));
        nonpositive_rates = false;
        for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
            if (K[k] && Qprime[k] / quality >= spread * std::sqrt(variance[k])) {
                K[k] = 0;
                nonpositive_rates = true;
            }
        }
    } while (nonpositive_rates);
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
        qs[k] = (real)(Qprime[k] / quality);
        zs[k] = (real)((double)qs[k] * zero_bin_ratio);
    }
    return quality;
}

int unstorable(const real *qs, const real *zs)
{
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k)
        if ((k < 4 && qs[k] == 0) || !(zs[k] <= 65535.0f))
            return k;
    return -1;
}

int qntblocks(int32 *out, int32 **qcoefs, ui32 *nqcoefs, void *const *contents,
              const ui32 *numcoefs, const real *qs, const real *zs, wsqteam *team)
{
    /* Where each coded subband's integers go: the blocks back to back. */
    int32 *place[WSQ_SUBBANDS];
    int k = 0;
    for (int b = 0; b < WSQ_BLOCKS; ++b) {
        qcoefs[b] = out;
        nqcoefs[b] = 0;
        for (; k < ecsbreak[b]; ++k) {
            place[k] = out;
            if (qs[k] == 0.0f)
                continue;
            out += numcoefs[k];
            nqcoefs[b] += numcoefs[k];
        }
    }
    std::atomic<int> first_too_large{WSQ_SUBBANDS};
    teamfor(team, WSQ_SUBBANDS, [&](size_t i0, size_t i1) {
        for (size_t i = i0; i < i1; ++i) {
            int k = largest_first(i, WSQ_SUBBANDS);
            if (qs[k] == 0.0f)
                continue;
            bool fits = quantize(place[k], (const real *)contents[wsqorder[k]], numcoefs[k], qs[k],
                                 zs[k]);
            for (int low = first_too_large;
                 !fits && k < low && !first_too_large.compare_exchange_weak(low, k);)
                ;
        }
    });
    return first_too_large < WSQ_SUBBANDS ? first_too_large.load() : -1;
}

namespace {

/* Pieces of a block's integers coded apart, that a team shares. */
constexpr int pieces_a_block = 8;

/* The first index from `at` on that follows a non-zero integer, or length:
 * there the run of zeros starts afresh, so that a stream coded from there
 * continues exactly the one coded up to there. */
ui32 fresh_start(const int32 *integers, ui32 at, ui32 length)
{
    while (at > 0 && at < length && integers[at - 1] == 0)
        ++at;
    return at;
}

}  // namespace

ui8 *symblocks(ui8 *out, ui8 **symbols, int *symlen, int32 *const *qcoefs, const ui32 *nqcoefs,
               wsqteam *team, ui32 (*counts)[256])
{
    /* Each block is cut into pieces that start afresh (fresh_start), each
     * coded where its integers' worst case fits (3 bytes each) and its
     * symbols counted there; then the streams are moved to lie back to back. */
    struct piece {
        int block;
        ui32 from, to;
        size_t length;
        ui32 counts[256];
    } pieces[WSQ_BLOCKS * pieces_a_block];
    int count = 0;
    for (int b = 0; b < WSQ_BLOCKS; ++b) {
        ui32 n = nqcoefs[b], from = 0;
        for (int p = 1; p <= pieces_a_block; ++p) {
            ui32 to = fresh_start(qcoefs[b], (ui32)((uint64_t)n * p / pieces_a_block), n);
            if (to > from)
                pieces[count++] = {b, from, to, 0, {}};
            from = to;
        }
    }
    auto room = [&](const piece &p) {
        return out + 3 * (size_t)(qcoefs[p.block] + p.from - qcoefs[0]);
    };
    teamfor(team, (size_t)count, [&](size_t i0, size_t i1) {
        for (size_t i = i0; i < i1; ++i) {
            piece &p = pieces[i];
            const int32 *integers = qcoefs[p.block] + p.from;
            p.length = (size_t)(wsqwsym(room(p), integers, p.to - p.from) - room(p));
            if (counts)
                wsqcsym(p.counts, room(p), (ui32)p.length);
        }
    });
    ui8 *end = out;
    for (int b = 0, i = 0; b < WSQ_BLOCKS; ++b) {
        symbols[b] = end;
        if (counts)
            std::memset(counts[b], 0, sizeof counts[b]);
        for (; i < count && pieces[i].block == b; ++i) {
            std::memmove(end, room(pieces[i]), pieces[i].length);
            end += pieces[i].length;
            for (int v = 0; counts && v < 256; ++v)
                counts[b][v] += pieces[i].counts[v];
        }
        symlen[b] = (int)(end - symbols[b]);
    }
    return end;
}

int makedhts(ui8 (*dht)[WSQ_DHT_BYTES], int *dhtlen, int *Th, ui8 *const *symbols,
             const int *symlen, wsqteam *team, const ui32 (*given)[256])
{
    /* Table 0 counts block 0, table 1 blocks 1 and 2: each block's counts are
     * taken alone (a stream ends with a whole symbol) and added. */
    ui32 counts[WSQ_BLOCKS][256];
    if (given)
        std::memcpy(counts, given, sizeof counts);
    else
        teamfor(team, WSQ_BLOCKS, [&](size_t b0, size_t b1) {
            for (size_t b = b0; b < b1; ++b)
                count_symbols(counts[b], symbols[b], symlen[b]);
        });
    for (int v = 0; v < 256; ++v)
        counts[1][v] += counts[2][v];
    dhtlen[0] = (int)(makedht(dht[0], counts[0], WSQ_MAXBITS) - dht[0]);
    Th[0] = 0;
    dhtlen[1] = (int)(makedht(dht[1], counts[1], WSQ_MAXBITS) - dht[1]);
    Th[1] = Th[2] = 1;
    return 2;
}

void ecsblock(bitio *ecs, const ui8 *symbols, int symlen, const ui8 *dht)
{
    rewbits(ecs);
    ecs->length = 0;
    if (symlen > 0)
        wsqwecs(ecs, symbols, (ui32)symlen, dht);
    ecs->length = rewbits(ecs);
}

/* ==== TIFF =================================================================
 * Uncompressed, single-strip, big-endian 8-bit gray-scale TIFF files. */

namespace {

enum : ui16 { tiff_short = 3, tiff_long = 4, tiff_rational = 5 };
enum : ui32 { tiff_directory = 8, tiff_entries = 11, tiff_xres = 146, tiff_yres = 154,
              tiff_pixels = 162 };

}  // namespace

void puttiffg(std::FILE *output, const ui8 *input, ui32 height, ui32 width)
{
    WSQ_ASSERT(input);
    puttiffghead(output, height, width);
    std::fwrite(input, 1, (size_t)width * height, output);
}

void puttiffghead(std::FILE *output, ui32 height, ui32 width)
{
    WSQ_ASSERT(output);
    WSQ_ASSERT(width>0);
    WSQ_ASSERT(height>0);
    /* Pixels per inch for a longer side of 4 inches. */
    ui32 resolution = width > height ? width : height;
    tiffhdr(output, tiff_directory);
    tiffifd(output, tiff_entries);
    tiffent(output, 256, tiff_long, 1, width);
    tiffent(output, 257, tiff_long, 1, height);
    tiffent(output, 258, tiff_short, 1, 8);
    tiffent(output, 259, tiff_short, 1, 1);
    tiffent(output, 262, tiff_short, 1, 1);
    tiffent(output, 273, tiff_short, 1, tiff_pixels);
    tiffent(output, 278, tiff_short, 1, height);
    tiffent(output, 279, tiff_long, 1, width * height);
    tiffent(output, 282, tiff_rational, 1, tiff_xres);
    tiffent(output, 283, tiff_rational, 1, tiff_yres);
    tiffent(output, 296, tiff_short, 1, 2);
    tiffnio(output, 0);
    tiffrat(output, resolution, 4);
    tiffrat(output, resolution, 4);
}

int tiffhdr(std::FILE *out, ui32 offset)
{
    std::putc('M', out);
    std::putc('M', out);
    fput2(42, out);
    fput4(offset, out);
    return 8;
}

int tiffifd(std::FILE *out, ui16 entries)
{
    fput2(entries, out);
    return 2;
}

int tiffent(std::FILE *out, ui16 tag, ui16 type, ui32 count, ui32 value)
{
    fput2(tag, out);
    fput2(type, out);
    fput4(count, out);
    ui32 size = tiffsiz(type, count);
    if (size == 2) {
        fput2((ui16)value, out);
        fput2(0, out);
    } else {
        fput4(size == 0 ? 0 : value, out);
    }
    return 12;
}

int tiffnio(std::FILE *out, ui32 offset)
{
    fput4(offset, out);
    return 4;
}

int tiffrat(std::FILE *out, ui32 numerator, ui32 denominator)
{
    fput4(numerator, out);
    fput4(denominator, out);
    return 8;
}

ui32 tiffsiz(ui16 type, ui32 count)
{
    switch (type) {
    case tiff_short: return 2 * count;
    case tiff_long: return 4 * count;
    case tiff_rational: return 8 * count;
    default: return 0;
    }
}
