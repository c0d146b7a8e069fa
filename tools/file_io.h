// Whole-file reading and all-or-nothing writing for the image builder.
#ifndef VELK_TOOLS_FILE_IO_H
#define VELK_TOOLS_FILE_IO_H

#include <cstdint>
#include <string>
#include <vector>

// Status codes of the image builder; they are also velkpack's exit codes.
enum ToolStatus { ToolOk = 0, ToolMalformed = 1, ToolIoError = 2 };

// Largest input a stream can describe: its length header is 32 bits.
const uint64_t kMaxInputSize = 0xFFFFFFFFULL;

// Reads the whole file. On failure `error` gets "PATH: problem" and the
// result is ToolIoError (missing, unreadable, a folder, over `limit` bytes).
int ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>* data,
                  std::string* error);

// 1 when `path` names a folder; otherwise 0, and `error` says why.
int CheckFolder(const std::string& path, std::string* error);

// Writes `data` to a temporary name beside `path`, then renames it into
// place, so that a failed write never leaves a partial file at `path`.
int WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data,
                        std::string* error);

#endif
