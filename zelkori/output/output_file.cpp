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

namespace zelkori {
namespace {
struct Slot;
}
}  // namespace zelkori

struct zk_output {
    std::string target;     // the file that is replaced: links followed, absolute
    std::string temporary;  // absolute, so a later chdir cannot lose it; for
                            // a file with no name, its /proc/self/fd link
    std::string name;       // a name of the file's in its directory, while it
                            // has one that is not the target's
    int directory = -1;     // the directory, held: removing the temporary
                            // finds it there even once it is renamed
    int fd = -1;
    bool unnamed = false;   // made with O_TMPFILE: a kill leaves nothing
    bool existed = false;
    struct stat original = {};
    mode_t mode = 0;  // what the target ends with
    zelkori::Slot *slot = nullptr;  // in the signal cleanup list
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

// Named temporary files not yet renamed into place, for the signal
// handler that removes them. A handler can neither allocate nor lock: the
// names lie in blocks of slots behind atomic flags, a block added when
// every slot is taken and never freed; the first is constant-initialized,
// so there before any file.
enum { kFree, kFilling, kActive };
struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};
struct SlotBlock {
    static const int kSlots = 64;
    Slot slots[kSlots];
    std::atomic<SlotBlock *> next{nullptr};
};
struct TemporaryList {
    SlotBlock first;
    std::atomic<int> creating{0};   // threads between listing and creating
    std::atomic<bool> dying{false};  // a signal is removing the files
};
TemporaryList temporary_list;

// Where this thread's commits note their directory: an output's own set,
// or none, when the commit flushes the directory itself.
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
    for (SlotBlock *block = &list.first; block != nullptr; block = block->next.load()) {
        for (Slot &slot : block->slots) {
            if (slot.state.load() == kActive) {
                unlink(slot.path);
            }
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

// Takes a free slot for `path`, adding a block when all are taken; null
// when the name does not fit or no block can be had (the file is then
// written without signal cleanup).
Slot *claim_slot(const std::string &path) {
    if (path.size() >= sizeof(Slot::path)) {
        return nullptr;
    }
    for (SlotBlock *block = &temporaries().first;;) {
        for (Slot &slot : block->slots) {
            int expected = kFree;
            if (slot.state.compare_exchange_strong(expected, kFilling)) {
                std::memcpy(slot.path, path.c_str(), path.size() + 1);
                slot.state.store(kActive);
                return &slot;
            }
        }
        SlotBlock *next = block->next.load();
        if (next == nullptr) {
            SlotBlock *added = new (std::nothrow) SlotBlock;
            if (added == nullptr) {
                return nullptr;
            }
            if (!block->next.compare_exchange_strong(next, added)) {
                delete added;  // another thread's block is there: `next`
            } else {
                next = added;
            }
        }
        block = next;
    }
}

void release_slot(Slot *slot) {
    if (slot != nullptr) {
        slot->state.store(kFree);
    }
}

// The name by which a file open as `fd` is opened again or linked.
std::string fd_link(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

std::string base_name(const std::string &path) {
    return path.substr(path.find_last_of('/') + 1);
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

// Gives the file a fresh hidden name beside the target: `make` creates
// or links it there and returns a descriptor, 0, or -1 with errno. The
// name is listed before it exists, so that no signal can leave it behind.
template <typename Make>
bool make_named(zk_output &out, const std::string &directory, Make make, int *fd,
                std::string &error) {
    TemporaryList &list = temporaries();
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        out.name = kTemporaryPrefix + random_suffix();
        list.creating.fetch_add(1);
        if (list.dying.load()) {
            list.creating.fetch_sub(1);
            out.name.clear();
            error = "interrupted";
            return false;
        }
        out.slot = claim_slot(directory + out.name);
        *fd = make(out.name.c_str());
        const int code = errno;
        list.creating.fetch_sub(1);
        if (*fd >= 0) {
            return true;
        }
        release_slot(out.slot);
        out.slot = nullptr;
        out.name.clear();
        if (code != EEXIST) {
            error = zk_errno_text(code);
            return false;
        }
    }
    error = zk_errno_text(EEXIST);
    return false;
}

// Creates the temporary file beside out.target, and makes the target
// absolute: a relative name means the directory it named when opened.
// The file has no name until it is whole (O_TMPFILE), so that nothing of
// it outlives the process; where the file system cannot make such files,
// or /proc is missing, it has a hidden one.
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
    out.target = directory + base_name(out.target);
    // Replacing a file: nobody else may open the new one before it has the
    // target's owner and mode.
    const mode_t initial = out.existed ? kWhileWritten : 0666;
    out.fd = openat(out.directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, initial);
    if (out.fd >= 0) {
        out.temporary = fd_link(out.fd);
        if (access(out.temporary.c_str(), F_OK) == 0) {
            out.unnamed = true;
            set_attributes(out);
            return true;
        }
        close(out.fd);
        out.fd = -1;
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        error = zk_errno_text(errno);
        return false;
    }
    const int where = out.directory;
    if (!make_named(out, directory,
                    [where, initial](const char *name) {
                        return openat(where, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                                      initial);
                    },
                    &out.fd, error)) {
        return false;
    }
    out.temporary = directory + out.name;
    set_attributes(out);
    return true;
}

// Puts the whole file in place under the target's name: a file with no
// name is linked there, or, where a file is there to replace, linked
// under a hidden name that is then renamed over it in one step. The
// target's absolute name is used, not the directory held: a directory
// moved away meanwhile fails the output instead of taking the file.
bool place(zk_output &out, int handle, std::string &error) {
    const std::string directory = out.target.substr(0, out.target.find_last_of('/') + 1);
    if (out.unnamed) {
        const std::string from = fd_link(handle);
        const auto link_as = [&from](const std::string &name) {
            return linkat(AT_FDCWD, from.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
        };
        if (!out.existed && link_as(out.target) == 0) {
            return true;
        }
        if (!out.existed && errno != EEXIST) {
            error = zk_errno_text(errno);
            return false;
        }
        int linked = -1;
        if (!make_named(out, directory,
                        [&](const char *name) { return link_as(directory + name); }, &linked,
                        error)) {
            return false;
        }
    }
    if (rename((directory + out.name).c_str(), out.target.c_str()) != 0) {
        error = zk_errno_text(errno);
        return false;
    }
    out.name.clear();  // in place: nothing to remove
    return true;
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

const char *zk_output_target(const zk_output *output) {
    return output != nullptr ? output->target.c_str() : "";
}

int zk_output_commit(zk_output *output, const char **error) {
    static const char *unused = nullptr;
    error = error != nullptr ? error : &unused;
    if (output == nullptr) {
        *error = "nothing to write";
        return 0;
    }
    // Every file reaches the disk before it takes the target's name, so
    // that a crash leaves the old version or the whole new one: a name
    // made to last by the directory's flush must not name lost data.
    int code = fdatasync(output->fd) != 0 ? errno : 0;
    fchmod(output->fd, output->mode);
    // A file with no name is held by a handle that cannot fail to close
    // while its data's descriptor is closed and checked.
    int handle = -1;
    if (code == 0 && output->unnamed) {
        handle = open(output->temporary.c_str(), O_PATH | O_CLOEXEC);
        code = handle < 0 ? errno : 0;
    }
    if (close(output->fd) != 0 && code == 0) {
        code = errno;
    }
    output->fd = -1;
    std::string message;
    const bool placed = code == 0 && zelkori::place(*output, handle, message);
    if (handle >= 0) {
        close(handle);
    }
    if (!placed) {
        *error = code != 0 ? zk_errno_text(code) : zelkori::set_error(message);
        zelkori::discard(output);
        return 0;
    }
    // The new name lasts once its directory is flushed: at the end of the
    // output that collects its directories, or now.
    bool synced = true;
    if (zelkori::collecting != nullptr) {
        zelkori::collecting->note(output->target);
    } else {
        zelkori::DirectorySet own;
        own.note(output->target);
        std::string directory;
        synced = own.sync(&directory, &message);
    }
    zelkori::discard(output);
    if (!synced) {
        *error = zelkori::set_error(message);
        return 0;
    }
    return 1;
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
