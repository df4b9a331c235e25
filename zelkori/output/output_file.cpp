// Output files written whole or not at all; see output_file.h.
#include "output/output_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "output/directories.h"
#include "output/errors.h"

struct zk_output {
    std::string target;     // the file that is replaced: links followed, absolute
    std::string temporary;  // absolute, so a later chdir cannot lose it
    std::string name;       // the temporary's name in its directory
    int directory = -1;     // the directory, held: removing the temporary
                            // finds it there even once it is renamed
    int fd = -1;
    bool existed = false;
    struct stat original = {};
    mode_t mode = 0;  // what the target ends with
    int slot = -1;  // in the signal cleanup list
};

namespace zelkori {
namespace {

const int kMaxLinks = 40;             // as the kernel's own limit
const char kTemporaryPrefix[] = ".zk";  // short: any name that fits works
const int kRandomChars = 8;
const int kCreateAttempts = 100;
const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
// While written, the owner may always read and write the file: FFmpeg
// reopens it by name. Group and others never get more than the target has.
const mode_t kWhileWritten = S_IRUSR | S_IWUSR;
const long kCreateWaitNs = 1000000;
const int kCreateWaitRounds = 200;

thread_local std::string last_directory;  // zk_output_sync_dirs' failure

// Temporary output files not yet renamed into place, for the signal
// handler that removes them: fixed storage, since a handler can neither
// allocate nor lock; constant-initialized, so there before any file.
struct TemporaryList {
    enum { kFree, kFilling, kActive };
    static const int kSlots = 64;
    struct Slot {
        std::atomic<int> state{kFree};
        char path[PATH_MAX];
    };
    Slot slots[kSlots];
    std::atomic<int> creating{0};   // threads between listing and creating
    std::atomic<bool> dying{false};  // a signal is removing the files
};
TemporaryList temporary_list;

// Where this thread's commits note their directory: an output's own set,
// or by default the list zk_output_sync_dirs flushes.
DirectorySet &unsynced() {
    static DirectorySet *set = new DirectorySet;  // never destroyed: exit handlers write
    return *set;
}
thread_local DirectorySet *collecting = nullptr;

const char *set_error(const std::string &message) {
    const char *kept = nullptr;
    fail(message, &kept);
    return kept;
}


std::string directory_of(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that writing `path` replaces, following links, and whether it
// exists. Fails for anything but a regular file or a new name in an
// existing directory.
bool resolve(const char *path, zk_output &out, std::string &error) {
    if (path == nullptr || *path == '\0') {
        error = "no file name";
        return false;
    }
    std::string current(path);
    if (current.back() == '/') {
        error = "is a directory name";
        return false;
    }
    for (int links = 0;; ++links) {
        struct stat info;
        if (lstat(current.c_str(), &info) != 0) {
            const int code = errno;
            struct stat directory;
            if (code == ENOENT) {
                if (stat(directory_of(current).c_str(), &directory) != 0 ||
                    !S_ISDIR(directory.st_mode)) {
                    error = "no such directory";
                    return false;
                }
                break;  // a new file
            }
            error = zk_errno_text(code);
            return false;
        }
        if (S_ISLNK(info.st_mode)) {
            if (links == kMaxLinks) {
                error = zk_errno_text(ELOOP);
                return false;
            }
            char buffer[PATH_MAX];
            const ssize_t length = readlink(current.c_str(), buffer, sizeof buffer);
            if (length < 0 || length == static_cast<ssize_t>(sizeof buffer)) {
                error = zk_errno_text(length < 0 ? errno : ENAMETOOLONG);
                return false;
            }
            std::string link(buffer, static_cast<size_t>(length));
            current = link.front() == '/' ? link : directory_of(current) + "/" + link;
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            error = "is a directory";
            return false;
        }
        if (!S_ISREG(info.st_mode)) {
            error = "not a regular file";
            return false;
        }
        out.existed = true;
        out.original = info;
        break;
    }
    out.target = current;
    return true;
}

// The temporary files a signal must take with it. A handler reads this,
// so it holds plain characters behind atomic flags.
TemporaryList &temporaries() { return temporary_list; }

void remove_temporaries(int signal_number) {
    TemporaryList &list = temporaries();
    // Threads creating a file finish first, so that none appears after the
    // sweep; the wait is bounded in case the signal landed on one of them.
    list.dying.store(true);
    const struct timespec pause = {0, kCreateWaitNs};
    for (int i = 0; i < kCreateWaitRounds && list.creating.load() > 0; ++i) {
        nanosleep(&pause, nullptr);
    }
    for (TemporaryList::Slot &slot : list.slots) {
        if (slot.state.load() == TemporaryList::kActive) {
            unlink(slot.path);
        }
    }
    // Ends the process as the signal would have.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// Handlers go only where the signal has its default action: a signal the
// host ignores (nohup) or handles itself is left alone. A file grown past
// the size limit (ulimit -f) would end the process by SIGXFSZ, leaving the
// temporary file and saying nothing; ignored, the write fails with EFBIG
// and the writer reports it.
void install_cleanup() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction size_limit;
        if (sigaction(SIGXFSZ, nullptr, &size_limit) == 0 &&
            size_limit.sa_handler == SIG_DFL && !(size_limit.sa_flags & SA_SIGINFO)) {
            std::signal(SIGXFSZ, SIG_IGN);
        }
        for (int number : kCleanupSignals) {
            struct sigaction current;
            if (sigaction(number, nullptr, &current) == 0 &&
                current.sa_handler == SIG_DFL && !(current.sa_flags & SA_SIGINFO)) {
                struct sigaction action = {};
                action.sa_handler = remove_temporaries;
                sigemptyset(&action.sa_mask);
                sigaction(number, &action, nullptr);
            }
        }
    });
}

// Takes a free slot for `path`; -1 when every slot is in use (the file is
// then written without signal cleanup) or the name does not fit.
int claim_slot(const std::string &path) {
    TemporaryList &list = temporaries();
    if (path.size() >= sizeof list.slots[0].path) {
        return -1;
    }
    for (int i = 0; i < TemporaryList::kSlots; ++i) {
        TemporaryList::Slot &slot = list.slots[i];
        int expected = TemporaryList::kFree;
        if (slot.state.compare_exchange_strong(expected, TemporaryList::kFilling)) {
            std::memcpy(slot.path, path.c_str(), path.size() + 1);
            slot.state.store(TemporaryList::kActive);
            return i;
        }
    }
    return -1;
}

void release_slot(int index) {
    if (index >= 0) {
        temporaries().slots[index].state.store(TemporaryList::kFree);
    }
}

std::string random_suffix() {
    static const char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[kRandomChars];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Unique enough for one directory: the pid and a counter.
        static std::atomic<unsigned> counter{0};
        unsigned long long mix = (static_cast<unsigned long long>(getpid()) << 32) ^
                                 counter.fetch_add(1) ^ reinterpret_cast<uintptr_t>(&mix);
        for (unsigned char &byte : bytes) {
            byte = static_cast<unsigned char>(mix);
            mix = mix * 6364136223846793005ULL + 1442695040888963407ULL;
        }
    }
    std::string suffix;
    for (unsigned char byte : bytes) {
        suffix += kAlphabet[byte % (sizeof kAlphabet - 1)];
    }
    return suffix;
}

// No output lands on descriptors 0-2, where a host started with one of
// them closed would send its standard streams into the file (tclsh fills
// them itself at start). A closed one gets /dev/null, read-only, so that
// writing to it still fails as on a closed one.
void hold_standard_fds() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            open("/dev/null", O_RDONLY);  // the lowest free number: this one
        }
    }
}

// Gives the temporary file its final owner and permissions before any data
// goes in. An existing target's file is made the owner's alone, takes the
// target's owner (or group, where only that is allowed), then its mode; a
// new one keeps what the umask made. Set-id bits wait for the commit, as
// writing clears them.
void set_attributes(zk_output &out) {
    struct stat created;
    if (fstat(out.fd, &created) != 0) {
        created.st_mode = 0;
    }
    if (out.existed) {
        if (fchown(out.fd, out.original.st_uid, out.original.st_gid) != 0 &&
            fchown(out.fd, static_cast<uid_t>(-1), out.original.st_gid) != 0) {
            // Only the owner's group may be out of reach; the data still goes.
        }
        out.mode = out.original.st_mode & 07777;
    } else {
        out.mode = created.st_mode & 07777;
    }
    const mode_t writing = (out.mode & 0777) | kWhileWritten;
    if ((created.st_mode & 07777) != writing) {
        fchmod(out.fd, writing);
    }
}

// Creates the temporary file beside out.target, and makes the target
// absolute: a relative name means the directory it named when opened.
bool create_temporary(zk_output &out, std::string &error) {
    std::string directory = directory_of(out.target);
    char absolute[PATH_MAX];
    if (realpath(directory.c_str(), absolute) == nullptr) {
        error = zk_errno_text(errno);
        return false;
    }
    install_cleanup();
    hold_standard_fds();
    out.directory = open(absolute, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (out.directory < 0) {
        error = zk_errno_text(errno);
        return false;
    }
    directory = absolute;
    if (directory != "/") {
        directory += '/';
    }
    out.target = directory + out.target.substr(out.target.find_last_of('/') + 1);
    TemporaryList &list = temporaries();
    // Replacing a file: nobody else may open the new one before it has the
    // target's owner and mode.
    const mode_t initial = out.existed ? kWhileWritten : 0666;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        out.name = kTemporaryPrefix + random_suffix();
        out.temporary = directory + out.name;
        // Listed before it exists, so that no signal can leave it behind.
        list.creating.fetch_add(1);
        if (list.dying.load()) {
            list.creating.fetch_sub(1);
            error = "interrupted";
            return false;
        }
        out.slot = claim_slot(out.temporary);
        out.fd = openat(out.directory, out.name.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, initial);
        const int code = errno;
        list.creating.fetch_sub(1);
        if (out.fd >= 0) {
            set_attributes(out);
            return true;
        }
        release_slot(out.slot);
        out.slot = -1;
        if (code != EEXIST) {
            error = zk_errno_text(code);
            return false;
        }
    }
    error = zk_errno_text(EEXIST);
    return false;
}

void discard(zk_output *out) {
    if (out->fd >= 0) {
        close(out->fd);
    }
    if (!out->name.empty()) {
        unlinkat(out->directory, out->name.c_str(), 0);
    }
    if (out->directory >= 0) {
        close(out->directory);
    }
    release_slot(out->slot);
    delete out;
}

}  // namespace

void DirectorySet::note(const std::string &path) {
    try {
        std::lock_guard<std::mutex> lock(mutex_);
        directories_.insert(directory_of(path));
    } catch (const std::exception &) {
        // No memory: the file is in place; only its name waits for the
        // file system's own flush.
    }
}

bool DirectorySet::sync(std::string *directory, std::string *error) {
    std::set<std::string> pending;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending.swap(directories_);
    }
    int failure = 0;  // the first; the others are flushed all the same
    for (const std::string &name : pending) {
        const int fd = open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        // EINVAL: a file system with nothing to flush for a directory.
        const int code = fd < 0 ? errno : fsync(fd) != 0 && errno != EINVAL ? errno : 0;
        if (fd >= 0) {
            close(fd);
        }
        if (code != 0 && failure == 0) {
            failure = code;
            *directory = name;
        }
    }
    if (failure != 0) {
        *error = zk_errno_text(failure);
        return false;
    }
    return true;
}

CollectDirectories::CollectDirectories(DirectorySet &set) : previous_(collecting) {
    collecting = &set;
}

CollectDirectories::~CollectDirectories() { collecting = previous_; }

}  // namespace zelkori

extern "C" {

const char *zk_errno_text(int error) {
    const char *text = strerrordesc_np(error);
    return text != nullptr ? text : "unknown error";
}

int zk_output_check(const char *path, const char **error) {
    static const char *unused = nullptr;
    error = error != nullptr ? error : &unused;
    try {
        zk_output out;
        std::string message;
        if (!zelkori::resolve(path, out, message)) {
            *error = zelkori::set_error(message);
            return 0;
        }
        const std::string directory = zelkori::directory_of(out.target);
        if (access(directory.c_str(), W_OK | X_OK) != 0) {
            *error = zelkori::set_error(zk_errno_text(errno));
            return 0;
        }
        return 1;
    } catch (const std::bad_alloc &) {
        *error = zk_errno_text(ENOMEM);
        return 0;
    }
}

zk_output *zk_output_open(const char *path, const char **error) {
    static const char *unused = nullptr;
    error = error != nullptr ? error : &unused;
    zk_output *out = nullptr;
    try {
        out = new zk_output;
        std::string message;
        if (!zelkori::resolve(path, *out, message) ||
            !zelkori::create_temporary(*out, message)) {
            *error = zelkori::set_error(message);
            out->name.clear();  // none was made
            zelkori::discard(out);
            return nullptr;
        }
        return out;
    } catch (const std::bad_alloc &) {
        if (out != nullptr) {
            zelkori::discard(out);
        }
        *error = zk_errno_text(ENOMEM);
        return nullptr;
    }
}

int zk_output_fd(const zk_output *output) { return output != nullptr ? output->fd : -1; }

const char *zk_output_temporary(const zk_output *output) {
    return output != nullptr ? output->temporary.c_str() : "";
}

int zk_output_commit(zk_output *output, const char **error) {
    static const char *unused = nullptr;
    error = error != nullptr ? error : &unused;
    if (output == nullptr) {
        *error = "nothing to write";
        return 0;
    }
    // A file that is there is replaced only once the new data is on the
    // disk, so that a crash leaves one version or the other. A new file
    // needs no flush of its own: a crash can lose it, but nothing else.
    struct stat there;
    const bool replaces = output->existed || lstat(output->target.c_str(), &there) == 0;
    const bool flushed = !replaces || fdatasync(output->fd) == 0;
    const int flush_errno = errno;
    fchmod(output->fd, output->mode);
    const int closed = close(output->fd);
    output->fd = -1;
    if (!flushed || closed != 0 ||
        rename(output->temporary.c_str(), output->target.c_str()) != 0) {
        *error = zk_errno_text(flushed ? errno : flush_errno);
        zelkori::discard(output);
        return 0;
    }
    // Absolute, as the working directory may change.
    (zelkori::collecting != nullptr ? *zelkori::collecting : zelkori::unsynced())
        .note(output->temporary);
    output->name.clear();  // in place: nothing to remove
    zelkori::discard(output);
    return 1;
}

int zk_output_sync_dirs(const char **directory, const char **error) {
    static const char *unused = nullptr;
    directory = directory != nullptr ? directory : &unused;
    error = error != nullptr ? error : &unused;
    std::string failed, cause;
    if (zelkori::unsynced().sync(&failed, &cause)) {
        return 1;
    }
    try {
        zelkori::last_directory = failed;
    } catch (const std::exception &) {
        zelkori::last_directory.clear();
    }
    *directory = zelkori::last_directory.c_str();
    *error = zelkori::set_error(cause);
    return 0;
}

void zk_output_abort(zk_output *output) {
    if (output != nullptr) {
        zelkori::discard(output);
    }
}

int zk_output_write(const char *path, const void *data, size_t size, const char **error) {
    zk_output *output = zk_output_open(path, error);
    if (output == nullptr) {
        return 0;
    }
    const char *bytes = static_cast<const char *>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t written = ::write(zk_output_fd(output), bytes + done, size - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            const int cause = written == 0 ? EIO : errno;
            zk_output_abort(output);
            *error = zk_errno_text(cause);
            return 0;
        }
        done += static_cast<size_t>(written);
    }
    return zk_output_commit(output, error);
}

}  // extern "C"
