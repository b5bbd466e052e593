/* platform_files.cpp - the programs' part of the platform layer: names,
 * files, signals and standard streams, for POSIX systems and for Windows. */
#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#include <shellapi.h>

#include <random>
#include <vector>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace wsq_platform {

namespace {

/* The name that a signal removes, in the form the system's call takes. */
#if defined(_WIN32)
wchar_t doomed[32768];
#else
char doomed[4096];
#endif
volatile std::sig_atomic_t doomed_set;

extern "C" void remove_doomed(int signal)
{
    if (doomed_set) {
#if defined(_WIN32)
        _wunlink(doomed);
#else
        unlink(doomed);
#endif
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void handle_signals()
{
    static bool handled = false;
    if (handled)
        return;
    handled = true;
#if defined(SIGHUP)
    std::signal(SIGHUP, remove_doomed);
#endif
    std::signal(SIGINT, remove_doomed);
    std::signal(SIGTERM, remove_doomed);
}

}  // namespace

#if defined(_WIN32)

/* ==== Windows ============================================================= */

namespace {

std::wstring wide(const char *utf8)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring text(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &text[0], length);
    text.resize(text.size() - 1);
    return text;
}

std::string narrow(const wchar_t *text)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(length > 0 ? length : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], length, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

/* errno for the system's last error in the calls that set none. */
void set_errno_from_system()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: errno = EACCES; break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS: errno = EEXIST; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    default: errno = EIO;
    }
}

std::FILE *open_descriptor(int fd, const char *name)
{
    std::FILE *file = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (fd >= 0 && !file) {
        int error = errno;
        _close(fd);
        _wunlink(wide(name).c_str());
        errno = error;
    }
    return file;
}

}  // namespace

void start_program(int *argc, char ***argv)
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments) {
        /* Kept for the life of the process, as argv is. */
        static std::vector<std::string> utf8;
        static std::vector<char *> pointers;
        for (int i = 0; i < count; ++i)
            utf8.push_back(narrow(arguments[i]));
        for (std::string &argument : utf8)
            pointers.push_back(&argument[0]);
        pointers.push_back(nullptr);
        LocalFree(arguments);
        *argc = count;
        *argv = pointers.data();
    }
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

std::FILE *open_file(const char *name, const char *mode)
{
    std::string binary = mode;
    if (binary.find('b') == std::string::npos)
        binary += 'b';
    return _wfopen(wide(name).c_str(), wide(binary.c_str()).c_str());
}

file_kind kind_of(const char *name, unsigned *mode)
{
    struct _stat64 status;
    if (_wstat64(wide(name).c_str(), &status) != 0)
        return file_kind::missing;
    if (mode)
        *mode = status.st_mode & 0777;
    if (status.st_mode & _S_IFDIR)
        return file_kind::directory;
    return status.st_mode & _S_IFREG ? file_kind::regular : file_kind::other;
}

bool writable(const char *name)
{
    return _waccess(wide(name).c_str(), 2) == 0;
}

bool same_file(const char *a, const char *b)
{
    BY_HANDLE_FILE_INFORMATION facts[2];
    const char *names[2] = {a, b};
    for (int i = 0; i < 2; ++i) {
        HANDLE file = CreateFileW(wide(names[i]).c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        bool known = GetFileInformationByHandle(file, &facts[i]);
        CloseHandle(file);
        if (!known)
            return false;
    }
    return facts[0].dwVolumeSerialNumber == facts[1].dwVolumeSerialNumber &&
           facts[0].nFileIndexHigh == facts[1].nFileIndexHigh &&
           facts[0].nFileIndexLow == facts[1].nFileIndexLow;
}

long long regular_size(std::FILE *file)
{
    struct _stat64 status;
    if (_fstat64(_fileno(file), &status) != 0 || !(status.st_mode & _S_IFREG))
        return -1;
    return status.st_size;
}

long long file_position(std::FILE *file)
{
    return _ftelli64(file);
}

bool full_name(const char *name, std::string *full)
{
    std::wstring path = wide(name);
    DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        set_errno_from_system();
        return false;
    }
    std::wstring result(length, L'\0');
    length = GetFullPathNameW(path.c_str(), length, &result[0], nullptr);
    result.resize(length);
    *full = narrow(result.c_str());
    return true;
}

unsigned new_file_mode()
{
    return 0666;
}

std::FILE *create_beside(const std::string &pattern, unsigned, std::string *name)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 draw(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = pattern + ".";
        for (int k = 0; k < 6; ++k)
            *name += letters[draw() % (sizeof letters - 1)];
        int fd = _wopen(wide(name->c_str()).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                        _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST)
            return open_descriptor(fd, name->c_str());
    }
    return nullptr;
}

std::FILE *create_new(const char *name)
{
    int fd = _wopen(wide(name).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                    _S_IREAD | _S_IWRITE);
    return open_descriptor(fd, name);
}

bool remove_file(const char *name)
{
    return _wunlink(wide(name).c_str()) == 0;
}

bool truncate_file(const char *name, long long bytes)
{
    int fd = _wopen(wide(name).c_str(), _O_WRONLY | _O_BINARY);
    if (fd < 0)
        return false;
    bool cut = _chsize_s(fd, bytes) == 0;
    _close(fd);
    return cut;
}

bool replace_file(const char *source, const char *target)
{
    if (MoveFileExW(wide(source).c_str(), wide(target).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    set_errno_from_system();
    return false;
}

void remove_on_signal(const char *name)
{
    doomed_set = 0;
    if (!name)
        return;
    std::wstring path = wide(name);
    if (path.size() >= sizeof doomed / sizeof doomed[0])
        return;
    std::wcscpy(doomed, path.c_str());
    handle_signals();
    doomed_set = 1;
}

int process_id()
{
    return _getpid();
}

#else

/* ==== POSIX =============================================================== */

void start_program(int *, char ***) {}

std::FILE *open_file(const char *name, const char *mode)
{
    return std::fopen(name, mode);
}

file_kind kind_of(const char *name, unsigned *mode)
{
    struct stat status;
    if (stat(name, &status) != 0)
        return file_kind::missing;
    if (mode)
        *mode = status.st_mode & 07777;
    if (S_ISDIR(status.st_mode))
        return file_kind::directory;
    return S_ISREG(status.st_mode) ? file_kind::regular : file_kind::other;
}

bool writable(const char *name)
{
    return access(name, W_OK) == 0;
}

bool same_file(const char *a, const char *b)
{
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

long long regular_size(std::FILE *file)
{
    struct stat status;
    if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    return status.st_size;
}

long long file_position(std::FILE *file)
{
    return ftello(file);
}

bool full_name(const char *name, std::string *full)
{
    char *resolved = realpath(name, nullptr);
    if (!resolved)
        return false;
    *full = resolved;
    std::free(resolved);
    return true;
}

unsigned new_file_mode()
{
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

std::FILE *create_beside(const std::string &pattern, unsigned mode, std::string *name)
{
    std::string path = pattern + ".XXXXXX";
    int fd = mkstemp(&path[0]);
    if (fd < 0)
        return nullptr;
    *name = path;
    std::FILE *file = fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
    if (!file) {
        int error = errno;
        close(fd);
        unlink(path.c_str());
        errno = error;
    }
    return file;
}

std::FILE *create_new(const char *name)
{
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0)
        return nullptr;
    std::FILE *file = fdopen(fd, "wb");
    if (!file) {
        int error = errno;
        close(fd);
        unlink(name);
        errno = error;
    }
    return file;
}

bool remove_file(const char *name)
{
    return unlink(name) == 0;
}

bool truncate_file(const char *name, long long bytes)
{
    return truncate(name, (off_t)bytes) == 0;
}

bool replace_file(const char *source, const char *target)
{
    return std::rename(source, target) == 0;
}

void remove_on_signal(const char *name)
{
    doomed_set = 0;
    if (!name || std::strlen(name) >= sizeof doomed)
        return;
    std::strcpy(doomed, name);
    handle_signals();
    doomed_set = 1;
}

int process_id()
{
    return (int)getpid();
}

#endif

}  // namespace wsq_platform
