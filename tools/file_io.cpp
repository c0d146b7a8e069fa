#include "tools/file_io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#else
#include <csignal>
#include <new>
#include <unistd.h>
#endif

#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef O_NOCTTY
#define O_NOCTTY 0
#endif

namespace {

#ifndef _WIN32
// Windows has no inodes to compare by; velkpack, which writes, is a host
// program, and the Windows builds only read (in tests).
struct KnownFile {
    FileIdentity identity;
    std::string path;
};

// Every input opened by this call, and every output added (those that
// existed when added), for the same-file checks.
std::vector<KnownFile> g_inputs;
std::vector<KnownFile> g_outputs;

int SameIdentity(const FileIdentity& a, const FileIdentity& b)
{
    return a.device == b.device && a.inode == b.inode;
}

FileIdentity IdentityOf(const struct stat& info)
{
    FileIdentity identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    return identity;
}
#endif

const char* KindName(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISCHR(mode))
        return "a character device";
#ifdef S_ISBLK
    if (S_ISBLK(mode))
        return "a block device";
#endif
#ifdef S_ISFIFO
    if (S_ISFIFO(mode))
        return "a FIFO";
#endif
#ifdef S_ISSOCK
    if (S_ISSOCK(mode))
        return "a socket";
#endif
    return "a special file";
}

std::string SystemError(const std::string& path, int code)
{
    return path + ": " + strerror(code);
}

std::string LimitText(uint64_t limit)
{
    if (limit == kMaxInputSize)
        return "larger than 4 GiB, which a stream's 32-bit length header cannot describe";
    return "larger than the limit of " + std::to_string(limit) + " bytes";
}

} // namespace

int OpenInputFile(const std::string& path, InputFile* file, std::string* error)
{
    file->path = path;
    file->descriptor = -1;
    file->size = 0;
    file->position = 0;

    // Looked at before it is opened: opening a device can have effects of
    // its own, and opening a FIFO for reading waits for a writer.
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        *error = SystemError(path, errno);
        return ToolIoError;
    }
    if (!S_ISREG(info.st_mode)) {
#ifndef _WIN32
        struct stat link;
        if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            *error = path + ": is a symbolic link to " + KindName(info.st_mode) +
                     ", not to a regular file";
            return ToolIoError;
        }
#endif
        *error = path + ": is " + KindName(info.st_mode) + ", not a regular file";
        return ToolIoError;
    }
    // Non-blocking all the same: the path may be swapped for a FIFO between
    // the look and the open.
    int fd = open(path.c_str(), O_RDONLY | O_BINARY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = path + ": cannot be opened: " + strerror(errno);
        return ToolIoError;
    }
    struct stat opened;
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)
#ifndef _WIN32
        || !SameIdentity(IdentityOf(opened), IdentityOf(info))
#endif
    ) {
        close(fd);
        *error = path + ": changed while being opened";
        return ToolIoError;
    }
#ifndef _WIN32
    FileIdentity identity = IdentityOf(opened);
    for (const KnownFile& output : g_outputs) {
        if (SameIdentity(output.identity, identity)) {
            close(fd);
            *error = path + ": is the same file as the output " + output.path;
            return ToolIoError;
        }
    }
    g_inputs.push_back(KnownFile{identity, path});
#endif
    file->descriptor = fd;
    file->size = static_cast<uint64_t>(opened.st_size);
    return ToolOk;
}

int ReadInputFile(InputFile* file, uint64_t limit, std::vector<uint8_t>* data,
                  std::string* error)
{
    if (file->size > limit) {
        *error = file->path + ": " + LimitText(limit);
        return ToolIoError;
    }
    uint64_t size = file->size - file->position;
    data->resize(static_cast<size_t>(size));
    uint64_t done = 0;
    while (done < size) {
        uint64_t want = size - done;
        if (want > (1u << 30))
            want = 1u << 30;
        long got = read(file->descriptor, data->data() + done, static_cast<unsigned>(want));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *error = file->path + ": read error: " + strerror(errno);
            return ToolIoError;
        }
        if (got == 0) {
            *error = file->path + ": became shorter while being read";
            return ToolIoError;
        }
        done += static_cast<uint64_t>(got);
    }
    file->position += done;
    return ToolOk;
}

void CloseInputFile(InputFile* file)
{
    if (file->descriptor >= 0)
        close(file->descriptor);
    file->descriptor = -1;
}

int ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>* data,
                  std::string* error)
{
    InputFile file;
    int status = OpenInputFile(path, &file, error);
    if (status != ToolOk)
        return status;
    status = ReadInputFile(&file, limit, data, error);
    CloseInputFile(&file);
    return status;
}

int CheckFolder(const std::string& path, std::string* error)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        *error = SystemError(path, errno);
        return 0;
    }
    if (!S_ISDIR(info.st_mode)) {
        *error = path + ": not a folder";
        return 0;
    }
    return 1;
}

#ifndef _WIN32

// ---- Input streams ----------------------------------------------------

namespace {

ssize_t ReadInputCookie(void* cookie, char* buffer, size_t size)
{
    InputFile* file = static_cast<InputFile*>(cookie);
    uint64_t left = file->size - file->position;
    if (size > left)
        size = static_cast<size_t>(left);
    if (size == 0)
        return 0;
    ssize_t got;
    do
        got = read(file->descriptor, buffer, size);
    while (got < 0 && errno == EINTR);
    if (got > 0)
        file->position += static_cast<uint64_t>(got);
    return got;
}

int SeekInputCookie(void* cookie, off64_t* offset, int whence)
{
    InputFile* file = static_cast<InputFile*>(cookie);
    int64_t base = whence == SEEK_SET ? 0
                   : whence == SEEK_CUR ? static_cast<int64_t>(file->position)
                                        : static_cast<int64_t>(file->size);
    int64_t wanted = base + *offset;
    if (wanted < 0 || static_cast<uint64_t>(wanted) > file->size) {
        errno = EINVAL;
        return -1;
    }
    if (lseek(file->descriptor, static_cast<off_t>(wanted), SEEK_SET) < 0)
        return -1;
    file->position = static_cast<uint64_t>(wanted);
    *offset = wanted;
    return 0;
}

int CloseInputCookie(void*)
{
    return 0; // the descriptor belongs to the InputFile
}

} // namespace

FILE* OpenInputStream(InputFile* file)
{
    cookie_io_functions_t functions = {ReadInputCookie, NULL, SeekInputCookie, CloseInputCookie};
    return fopencookie(file, "rb", functions);
}

// ---- Pending temporaries and the ways out -------------------------------

namespace {

// The temporaries that exist now, in fixed storage so that a signal handler
// can remove them: a slot's path is written before the slot is armed, and
// slots change only while the handled signals are blocked.
const int kMaxPending = 2 * kMaxOutputs + 8;
const int kPendingPathSize = 4096;
char g_pendingPath[kMaxPending][kPendingPathSize];
volatile sig_atomic_t g_pendingArmed[kMaxPending];

char g_tool[64] = "velkpack";
char g_subject[kPendingPathSize];
mode_t g_umask = 022;
sigset_t g_handledSignals;
unsigned g_nameCounter;

const int kTerminatingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM,
                                   SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2};

// Files first, then folders (a folder of temporaries is empty only once
// its files are gone).
void RemovePendingTemporaries()
{
    for (int pass = 0; pass < 2; pass++) {
        for (int k = 0; k < kMaxPending; k++) {
            if (g_pendingArmed[k] && (pass == 1 ? rmdir(g_pendingPath[k]) == 0 || errno == ENOENT
                                                : unlink(g_pendingPath[k]) == 0 || errno == ENOENT))
                g_pendingArmed[k] = 0;
        }
    }
    for (int k = 0; k < kMaxPending; k++)
        g_pendingArmed[k] = 0;
}

void OnTerminatingSignal(int signal)
{
    int saved = errno;
    RemovePendingTemporaries();
    // The signal is blocked while its handler runs: raised again with the
    // default action, it ends the program as soon as the handler returns.
    ::signal(signal, SIG_DFL);
    raise(signal);
    errno = saved;
}

void WriteAll(const char* text)
{
    size_t length = strlen(text);
    while (length > 0) {
        ssize_t put = write(2, text, length);
        if (put <= 0)
            return;
        text += put;
        length -= static_cast<size_t>(put);
    }
}

// Called by operator new when an allocation fails: nothing may be
// allocated any more, so the line is written from fixed buffers.
void OnOutOfMemory()
{
    RemovePendingTemporaries();
    WriteAll(g_tool);
    WriteAll(": ");
    if (g_subject[0]) {
        WriteAll(g_subject);
        WriteAll(": ");
    }
    WriteAll("out of memory\n");
    _exit(ToolIoError);
}

void BlockHandledSignals(sigset_t* previous)
{
    sigprocmask(SIG_BLOCK, &g_handledSignals, previous);
}

void RestoreSignals(const sigset_t* previous)
{
    sigprocmask(SIG_SETMASK, previous, NULL);
}

void Disarm(int slot)
{
    if (slot >= 0)
        g_pendingArmed[slot] = 0;
}

// Removes a pending temporary and frees its slot.
void RemoveTemporary(OutputFile* file)
{
    if (file->slot < 0)
        return;
    sigset_t previous;
    BlockHandledSignals(&previous);
    unlink(file->temporary.c_str());
    Disarm(file->slot);
    file->slot = -1;
    RestoreSignals(&previous);
}

void SplitPath(const std::string& path, std::string* folder, std::string* name)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        *folder = ".";
        *name = path;
    } else {
        *folder = slash == 0 ? "/" : path.substr(0, slash);
        *name = path.substr(slash + 1);
    }
}

// Creates the hidden temporary ".NAME.TOOL-PID-XXXX" in `folder` and arms a
// pending slot for it, both while the handled signals are blocked, so that
// no signal can come between the file and its slot.
int CreateTemporary(const std::string& folder, const std::string& name, OutputFile* file,
                    std::string* error)
{
    // Room for the suffix within a file name's 255 bytes.
    std::string stem = name.size() > 200 ? name.substr(0, 200) : name;
    std::string prefix = folder + "/." + stem + "." + g_tool + "-" + std::to_string(getpid()) + "-";
    for (int attempt = 0; attempt < 100; attempt++) {
        unsigned mix = (g_nameCounter++ + static_cast<unsigned>(time(NULL))) * 2654435761u;
        char tag[8];
        snprintf(tag, sizeof tag, "%04x", (mix >> 16) & 0xFFFF);
        std::string candidate = prefix + tag;
        if (candidate.size() >= static_cast<size_t>(kPendingPathSize)) {
            *error = file->path + ": cannot be written: " + strerror(ENAMETOOLONG);
            return ToolIoError;
        }
        int slot = -1;
        for (int k = 0; k < kMaxPending && slot < 0; k++)
            if (!g_pendingArmed[k])
                slot = k;
        if (slot < 0) {
            *error = file->path + ": too many outputs in one call";
            return ToolIoError;
        }
        sigset_t previous;
        BlockHandledSignals(&previous);
        int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        int saved = errno;
        if (fd >= 0) {
            memcpy(g_pendingPath[slot], candidate.c_str(), candidate.size() + 1);
            g_pendingArmed[slot] = 1;
        }
        RestoreSignals(&previous);
        if (fd >= 0) {
            file->descriptor = fd;
            file->slot = slot;
            file->temporary = candidate;
            return ToolOk;
        }
        if (saved != EEXIST) {
            *error = file->path + ": cannot be written: " + strerror(saved);
            return ToolIoError;
        }
    }
    *error = file->path + ": cannot be written: no free temporary name beside it";
    return ToolIoError;
}

// Identity of an output for the checks among outputs: the file when it
// exists, else its folder and name.
struct OutputIdentity {
    FileIdentity file;
    int exists;
    std::string name;
};

int OutputIdentityOf(const OutputFile& file, OutputIdentity* identity)
{
    std::string folder, name;
    SplitPath(file.target, &folder, &name);
    struct stat info;
    if (stat(file.exists ? file.target.c_str() : folder.c_str(), &info) != 0)
        return 0;
    identity->file = IdentityOf(info);
    identity->exists = file.exists;
    identity->name = file.exists ? std::string() : name;
    return 1;
}

int SameOutput(const OutputIdentity& a, const OutputIdentity& b)
{
    return a.exists == b.exists && SameIdentity(a.file, b.file) && a.name == b.name;
}

// How a committed output was put in place, for putting it back.
enum Placement { NotPlaced, Exchanged, Created, Replaced };

// Puts one temporary in place. An existing target is exchanged with the
// temporary, so that the temporary then holds the old file and the step
// can be undone; a new one is created without replacing anything. Where
// the file system cannot exchange, a plain rename replaces the target.
int PlaceOutput(OutputFile* file, Placement* placement)
{
    const char* from = file->temporary.c_str();
    const char* to = file->target.c_str();
    int flags = file->exists ? RENAME_EXCHANGE : RENAME_NOREPLACE;
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, flags) == 0) {
        *placement = file->exists ? Exchanged : Created;
        return 1;
    }
    if (errno != EINVAL && errno != ENOSYS)
        return 0;
    if (rename(from, to) != 0)
        return 0;
    *placement = file->exists ? Replaced : Created;
    return 1;
}

// Undoes PlaceOutput; 0 when the old file could not be put back.
int UnplaceOutput(OutputFile* file, Placement placement)
{
    const char* from = file->temporary.c_str();
    const char* to = file->target.c_str();
    switch (placement) {
    case Exchanged:
        return renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0;
    case Created:
        return unlink(to) == 0;
    case Replaced:
        return 0;
    case NotPlaced:
        break;
    }
    return 1;
}

} // namespace

int RegisterTemporaryPath(const std::string& path)
{
    if (path.size() >= static_cast<size_t>(kPendingPathSize))
        return -1;
    sigset_t previous;
    BlockHandledSignals(&previous);
    int slot = -1;
    for (int k = 0; k < kMaxPending && slot < 0; k++)
        if (!g_pendingArmed[k])
            slot = k;
    if (slot >= 0) {
        memcpy(g_pendingPath[slot], path.c_str(), path.size() + 1);
        g_pendingArmed[slot] = 1;
    }
    RestoreSignals(&previous);
    return slot;
}

void ReleaseTemporaryPath(int slot)
{
    sigset_t previous;
    BlockHandledSignals(&previous);
    Disarm(slot);
    RestoreSignals(&previous);
}

int AddOutput(OutputSet* set, const std::string& path, std::string* error)
{
    if (set->count >= kMaxOutputs) {
        *error = path + ": too many outputs in one call";
        return ToolIoError;
    }
    OutputFile* file = &set->files[set->count];
    file->path = path;
    file->target = path;
    file->temporary.clear();
    file->descriptor = -1;
    file->slot = -1;
    file->exists = 0;
    file->written = 0;

    std::string folder, name;
    SplitPath(path, &folder, &name);
    if (name.empty() || name == "." || name == "..") {
        *error = path + ": names a folder, not a file";
        return ToolIoError;
    }

    struct stat link, info;
    if (lstat(path.c_str(), &link) == 0) {
        if (S_ISLNK(link.st_mode)) {
            if (stat(path.c_str(), &info) != 0) {
                *error = errno == ENOENT
                             ? path + ": is a symbolic link to nothing; it is not written through"
                             : SystemError(path, errno);
                return ToolIoError;
            }
            if (!S_ISREG(info.st_mode)) {
                *error = path + ": is a symbolic link to " + KindName(info.st_mode) +
                         ", not to a regular file";
                return ToolIoError;
            }
            char* resolved = realpath(path.c_str(), NULL);
            if (!resolved) {
                *error = SystemError(path, errno);
                return ToolIoError;
            }
            file->target = resolved;
            free(resolved);
            SplitPath(file->target, &folder, &name);
        } else if (!S_ISREG(link.st_mode)) {
            *error = path + ": is " + KindName(link.st_mode) + ", not a regular file";
            return ToolIoError;
        } else {
            info = link;
        }
        file->exists = 1;
    } else if (errno == ENOENT) {
        struct stat parent;
        if (stat(folder.c_str(), &parent) != 0) {
            *error = errno == ENOENT ? path + ": cannot be written: its folder " + folder + " does not exist"
                                     : path + ": cannot be written: " + strerror(errno);
            return ToolIoError;
        }
        if (!S_ISDIR(parent.st_mode)) {
            *error = path + ": cannot be written: " + strerror(ENOTDIR);
            return ToolIoError;
        }
    } else {
        *error = SystemError(path, errno);
        return ToolIoError;
    }

    if (file->exists) {
        for (const KnownFile& input : g_inputs) {
            if (SameIdentity(input.identity, IdentityOf(info))) {
                *error = path + ": is the same file as the input " + input.path;
                return ToolIoError;
            }
        }
    }
    OutputIdentity identity;
    if (!OutputIdentityOf(*file, &identity)) {
        *error = SystemError(path, errno);
        return ToolIoError;
    }
    for (int k = 0; k < set->count; k++) {
        OutputIdentity other;
        if (OutputIdentityOf(set->files[k], &other) && SameOutput(identity, other)) {
            *error = path + ": is the same file as the output " + set->files[k].path;
            return ToolIoError;
        }
    }

    int status = CreateTemporary(folder, name, file, error);
    if (status != ToolOk)
        return status;
    if (file->exists) {
        // The replacement keeps what the replaced file was given. The owner
        // can only be kept by a privileged run; elsewhere the file becomes
        // the caller's, as any new file would.
        if (fchown(file->descriptor, info.st_uid, info.st_gid) != 0) {
            // Not privileged: the replacement belongs to the caller.
        }
        fchmod(file->descriptor, info.st_mode & 07777);
        g_outputs.push_back(KnownFile{IdentityOf(info), path});
    } else {
        fchmod(file->descriptor, 0666 & ~g_umask);
    }
    set->count++;
    return ToolOk;
}

int WriteOutput(OutputSet* set, int index, const uint8_t* data, size_t size, std::string* error)
{
    OutputFile* file = &set->files[index];
    size_t done = 0;
    while (done < size) {
        size_t want = size - done;
        if (want > (1u << 30))
            want = 1u << 30;
        ssize_t put = write(file->descriptor, data + done, want);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            *error = file->path + ": write failed: " + strerror(put < 0 ? errno : EIO);
            return ToolIoError;
        }
        done += static_cast<size_t>(put);
    }
    // On the disk before it replaces anything: a crash after the rename
    // must not leave an empty file where the old one was.
    if (fsync(file->descriptor) != 0 && errno != EINVAL && errno != EROFS) {
        *error = file->path + ": write failed: " + strerror(errno);
        return ToolIoError;
    }
    int fd = file->descriptor;
    file->descriptor = -1;
    if (close(fd) != 0) {
        *error = file->path + ": write failed: " + strerror(errno);
        return ToolIoError;
    }
    file->written = 1;
    return ToolOk;
}

int CommitOutputs(OutputSet* set, std::string* error)
{
    for (int k = 0; k < set->count; k++) {
        if (!set->files[k].written || set->files[k].slot < 0) {
            *error = set->files[k].path + ": was not written";
            DiscardOutputs(set);
            return ToolIoError;
        }
    }
    // No signal between the first placement and the last: the group is
    // placed, or put back, as a whole.
    sigset_t previous;
    BlockHandledSignals(&previous);
    Placement placed[kMaxOutputs] = {};
    int failed = -1, saved = 0;
    for (int k = 0; k < set->count && failed < 0; k++) {
        if (!PlaceOutput(&set->files[k], &placed[k])) {
            failed = k;
            saved = errno;
        }
    }
    // Nothing is allocated until the group is settled: running out of
    // memory here would leave it half placed.
    int lost[kMaxOutputs] = {};
    if (failed >= 0) {
        for (int k = failed - 1; k >= 0; k--)
            lost[k] = !UnplaceOutput(&set->files[k], placed[k]);
    }
    for (int k = 0; k < set->count; k++) {
        OutputFile* file = &set->files[k];
        // After a placement the temporary name holds the replaced file,
        // or is gone; after a failure it holds the new content.
        unlink(file->temporary.c_str());
        Disarm(file->slot);
        file->slot = -1;
    }
    RestoreSignals(&previous);
    if (failed < 0)
        return ToolOk;
    *error = set->files[failed].path + ": cannot be put in place: " + strerror(saved);
    std::string replaced;
    for (int k = 0; k < failed; k++)
        if (lost[k])
            replaced += (replaced.empty() ? "" : ", ") + set->files[k].path;
    if (!replaced.empty())
        *error += " (already replaced: " + replaced + ")";
    return ToolIoError;
}

void DiscardOutputs(OutputSet* set)
{
    for (int k = 0; k < set->count; k++) {
        OutputFile* file = &set->files[k];
        if (file->descriptor >= 0)
            close(file->descriptor);
        file->descriptor = -1;
        RemoveTemporary(file);
    }
}

int WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data,
                        std::string* error)
{
    OutputSet set = {};
    int status = AddOutput(&set, path, error);
    if (status == ToolOk)
        status = WriteOutput(&set, 0, data.data(), data.size(), error);
    if (status == ToolOk)
        status = CommitOutputs(&set, error);
    if (status != ToolOk)
        DiscardOutputs(&set);
    return status;
}

void PrepareFileSafety(const char* tool)
{
    snprintf(g_tool, sizeof g_tool, "%s", tool);
    g_umask = umask(0);
    umask(g_umask);
    g_nameCounter = static_cast<unsigned>(getpid());
    std::set_new_handler(OnOutOfMemory);
    atexit(RemovePendingTemporaries);

    sigemptyset(&g_handledSignals);
    for (int signal : kTerminatingSignals)
        sigaddset(&g_handledSignals, signal);
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnTerminatingSignal;
    action.sa_mask = g_handledSignals;
    for (int signal : kTerminatingSignals) {
        // A signal ignored by whoever started the program (nohup, a
        // background job) stays ignored.
        struct sigaction current;
        if (sigaction(signal, NULL, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &action, NULL);
    }
    ::signal(SIGXFSZ, SIG_IGN);
}

void SetOutOfMemorySubject(const std::string& subject)
{
    snprintf(g_subject, sizeof g_subject, "%s", subject.c_str());
}

#endif
