// File safety for the image builder: every file a velkpack command reads or
// writes goes through this layer, which keeps the same rules for all of them.
// velkpack runs as root in release pipelines, so these rules are what stands
// between a mistyped path and a replaced /dev/null or a destroyed input.
//
// Inputs
//   - Only regular files, or symbolic links to them, are read. A folder,
//     device, FIFO or socket is refused before the first read, with one line
//     naming it. Opening never blocks: the path is looked at first, and the
//     file is opened non-blocking, so a FIFO without a writer is harmless.
//   - A read never goes past the size the file had when it was opened (a
//     growing file is read as it was; one that shrinks is an error).
//   - Every input opened is remembered (device and inode) for the checks of
//     the outputs.
//
// Outputs (not on Windows: velkpack is a host program)
//   - Refused when the output is the same file as an input or as another
//     output of the call (device and inode after resolving links, so "a",
//     "./a", a hard link and a symbolic link to "a" are all "a"), when an
//     existing output is not a regular file or a symbolic link to one, and
//     when it is a symbolic link to nothing.
//   - A symbolic link stays a link: the file it points to is replaced, and an
//     existing file keeps its permissions (and, where allowed, its owner).
//   - Each output is written to a hidden temporary beside the file it
//     replaces, ".NAME.velkpack-PID-XXXX", created when the output is added
//     (so an unwritable folder is reported before the work starts). The
//     outputs of one call are put in place together or not at all.
//
// Ways out
//   - Temporaries are removed on an error return, on exit, on SIGHUP, SIGINT,
//     SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1 and SIGUSR2 (the signal is
//     then raised again, so the caller sees the program end by it), and when
//     memory runs out (one line "TOOL: SUBJECT: out of memory", exit 2).
//     SIGXFSZ is ignored: a file size limit makes the write fail, which ends
//     with the write's one-line error.
//
// A command, in this order:
//   PrepareFileSafety("velkpack");                once, at the start of main
//   InputFile in;   OpenInputFile(path, &in, &error);     each input
//   ReadInputFile(&in, limit, &data, &error);  or OpenInputStream(&in)
//   OutputSet out = {};  AddOutput(&out, path, &error);  each output
//   ... the work ...
//   WriteOutput(&out, k, bytes, size, &error);   each output k, in any order
//   CommitOutputs(&out, &error);    all in place; on failure none changed
//   DiscardOutputs(&out);           on every error path (exit also does it)
// Inputs may also be opened after outputs were added: an input that is one
// of the outputs is refused either way. Errors are "PATH: problem" and the
// result is ToolIoError unless said otherwise.
#ifndef VELK_TOOLS_FILE_IO_H
#define VELK_TOOLS_FILE_IO_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Status codes of the image builder; they are also velkpack's exit codes.
enum ToolStatus { ToolOk = 0, ToolMalformed = 1, ToolIoError = 2 };

// Largest input a stream can describe: its length header is 32 bits.
const uint64_t kMaxInputSize = 0xFFFFFFFFULL;

// Device and inode: what makes two paths the same file.
struct FileIdentity {
    uint64_t device;
    uint64_t inode;
};

// An input opened for reading.
struct InputFile {
    std::string path;
    int descriptor;    // -1 when closed
    uint64_t size;     // size when opened: reads stop there
    uint64_t position; // bytes read so far
};

// Opens a regular file (or a link to one) for reading and remembers it as
// an input of the call. Anything else is refused before it is read.
int OpenInputFile(const std::string& path, InputFile* file, std::string* error);

// Reads the whole file as it was when opened. Refused when that is more
// than `limit` bytes.
int ReadInputFile(InputFile* file, uint64_t limit, std::vector<uint8_t>* data,
                  std::string* error);

void CloseInputFile(InputFile* file);

// Open, read, close.
int ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>* data,
                  std::string* error);

// 1 when `path` names a folder; otherwise 0, and `error` says why.
int CheckFolder(const std::string& path, std::string* error);

#ifndef _WIN32

// A read stream over an open input that ends at the size it had when
// opened. Close it with fclose before CloseInputFile; null when out of
// resources.
FILE* OpenInputStream(InputFile* file);

// Outputs one call may write.
const int kMaxOutputs = 4;

struct OutputFile {
    std::string path;      // as given
    std::string target;    // the file replaced: the path with links resolved
    std::string temporary; // hidden, beside the target
    int descriptor;        // the temporary, open while it is being written
    int slot;              // its entry in the list of pending temporaries
    int exists;            // the target existed when the output was added
    int written;           // WriteOutput succeeded
};

// The outputs of one call: checked when added, put in place together.
struct OutputSet {
    int count;
    OutputFile files[kMaxOutputs];
};

// Checks `path` as an output (see the rules above) and creates its
// temporary. Its index in the set is the set's count before the call.
int AddOutput(OutputSet* set, const std::string& path, std::string* error);

// Writes the whole content of output `index` to its temporary and closes it.
int WriteOutput(OutputSet* set, int index, const uint8_t* data, size_t size,
                std::string* error);

// Puts every output in place. When one cannot be, those already placed are
// put back as they were and every temporary is removed.
int CommitOutputs(OutputSet* set, std::string* error);

// Removes every temporary of the set that is still pending.
void DiscardOutputs(OutputSet* set);

// A call's only output in one step: AddOutput, WriteOutput and
// CommitOutputs, so it keeps every rule above (checked against the inputs
// opened so far).
int WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data,
                        std::string* error);

// A temporary file or folder of the tool's own (a private work folder and
// the files in it), removed on the ways out like the outputs' temporaries.
// Returns its slot, or -1 when none is free (the path is then not
// covered); the caller removes the path itself and releases the slot.
int RegisterTemporaryPath(const std::string& path);
void ReleaseTemporaryPath(int slot);

// Installs the handlers of the ways out. `tool` names the program in error
// lines and temporaries.
void PrepareFileSafety(const char* tool);

// What the out-of-memory line names: the command's main input.
void SetOutOfMemorySubject(const std::string& subject);

#endif

#endif
