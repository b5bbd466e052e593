/* platform.h - what differs between operating systems and compilers (internal: not
 * installed).
 *
 * Everything the library and the programs ask of the system beyond standard
 * C++ goes through here: memory in whole huge pages and aligned memory for
 * the library (platform.cpp, part of libwsq), and for the programs
 * (platform_files.cpp, linked into each) file names, the facts of files,
 * files written beside their target and put in its place, signals, and
 * standard streams. The kernels and the whole-image calls hold no test of
 * the operating system: each function below means the same on every system,
 * and says where one cannot give all of it.
 *
 * Names are UTF-8 everywhere: on Windows the programs' arguments are made
 * UTF-8 by start_program() and every name goes to the system's wide-character
 * calls, so that a name in any script works.
 */
#ifndef WSQ_PLATFORM_H
#define WSQ_PLATFORM_H

#include <cstddef>
#include <cstdio>
#include <string>

/* ---- Compiler --------------------------------------------------------------
 * Hints that GCC and clang take and other compilers (MSVC) build without;
 * the results are the same either way. WSQ_SPIN_PAUSE() eases a spinning
 * thread on x86; WSQ_SIGN_COMPARE_BEGIN and _END enclose comparisons of a
 * signed value with an unsigned limit, meant as unsigned. */
#if defined(__GNUC__)
#define WSQ_UNLIKELY(condition) __builtin_expect(!!(condition), 0)
#define WSQ_ALWAYS_INLINE inline __attribute__((always_inline))
#define WSQ_PREFETCH(address) __builtin_prefetch(address)
#define WSQ_SIGN_COMPARE_BEGIN \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wsign-compare\"")
#define WSQ_SIGN_COMPARE_END _Pragma("GCC diagnostic pop")
#if defined(__x86_64__) || defined(__i386__)
#define WSQ_SPIN_PAUSE() __builtin_ia32_pause()
#endif
#else
#define WSQ_UNLIKELY(condition) (condition)
#define WSQ_ALWAYS_INLINE inline
#define WSQ_PREFETCH(address) ((void)0)
#define WSQ_SIGN_COMPARE_BEGIN
#define WSQ_SIGN_COMPARE_END
#endif
#ifndef WSQ_SPIN_PAUSE
#define WSQ_SPIN_PAUSE() ((void)0)
#endif

namespace wsq_platform {

/* ---- Memory (the library) ------------------------------------------------- */

/* Whether huge_buffer() asks for huge pages: Linux grants them on request;
 * elsewhere they need privileges a program rarely has. */
#if defined(__linux__)
constexpr bool huge_pages_on_request = true;
#else
constexpr bool huge_pages_on_request = false;
#endif

/* bytes rounded up to whole huge pages, aligned on one, asked for in huge
 * pages where huge_pages_on_request; elsewhere plain malloc. Released with
 * std::free; null when memory cannot be had. */
void *huge_buffer(std::size_t bytes);

/* bytes aligned on `alignment` (a power of two, at most 4096), released with
 * aligned_release(); null when memory cannot be had. */
void *aligned_buffer(std::size_t alignment, std::size_t bytes);
void aligned_release(void *buffer);

/* ---- Programs -------------------------------------------------------------
 * Names are UTF-8. A false or null result leaves errno telling why, for
 * std::strerror. */

/* Called first in main: on Windows, the arguments become UTF-8 (from the
 * wide command line), and standard input, output and error carry bytes as
 * they are (binary mode: no line ends converted, no end at byte 1A);
 * elsewhere nothing changes. */
void start_program(int *argc, char ***argv);

/* std::fopen for a UTF-8 name; every file is opened in binary mode. */
std::FILE *open_file(const char *name, const char *mode);

enum class file_kind { missing, regular, directory, other };

/* What name is (links followed), and its permission bits (07777) if mode. */
file_kind kind_of(const char *name, unsigned *mode = nullptr);

/* Whether this process may write the existing file name. */
bool writable(const char *name);

/* Whether a and b both exist and are one file (a link and its target, two
 * names of one file). */
bool same_file(const char *a, const char *b);

/* The size of an open regular file; -1 for anything else (a pipe, a device). */
long long regular_size(std::FILE *file);

/* The position in an open file, as ftell gives it, beyond 2 GiB too; -1 if
 * it has none. */
long long file_position(std::FILE *file);

/* The full name of an existing file, every link resolved (Windows: the full
 * path; its links are left as they are). */
bool full_name(const char *name, std::string *full);

/* Permission bits of a new file: 0666 less the process's mask. */
unsigned new_file_mode();

/* Creates and opens for writing a file of a new name: pattern followed by a
 * dot and six characters of this call's own, beside what pattern names, with
 * permissions mode (Windows: no permissions; the file is writable). Its name
 * goes to *name. On failure nothing is left behind. */
std::FILE *create_beside(const std::string &pattern, unsigned mode, std::string *name);

/* Creates and opens for writing a file that must not exist yet, with the
 * permissions of a new file. */
std::FILE *create_new(const char *name);

bool remove_file(const char *name);

/* Cuts a closed file to its first `bytes`. */
bool truncate_file(const char *name, long long bytes);

/* Puts source in target's place, replacing any file there, at once: there is
 * no moment without a file named target (rename; on Windows MoveFileExW with
 * MOVEFILE_REPLACE_EXISTING). */
bool replace_file(const char *source, const char *target);

/* From now on a hangup, interrupt or termination signal (Windows: Ctrl+C,
 * termination) first removes the file name (null: none), then ends the
 * process as the signal would have. */
void remove_on_signal(const char *name);

int process_id();

}  // namespace wsq_platform

#endif
