#include "tools/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

int ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>* data,
                  std::string* error)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        *error = path + ": " + strerror(errno);
        return ToolIoError;
    }
    if (S_ISDIR(info.st_mode)) {
        *error = path + ": is a folder, not a file";
        return ToolIoError;
    }
    if (static_cast<uint64_t>(info.st_size) > limit) {
        *error = path + ": larger than 4 GiB, which a stream's 32-bit length header cannot describe";
        return ToolIoError;
    }
    FILE* stream = fopen(path.c_str(), "rb");
    if (!stream) {
        *error = path + ": cannot be opened: " + strerror(errno);
        return ToolIoError;
    }
    data->clear();
    uint8_t buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, stream)) > 0) {
        if (data->size() + got > limit) {
            fclose(stream);
            *error = path + ": larger than 4 GiB, which a stream's 32-bit length header cannot describe";
            return ToolIoError;
        }
        data->insert(data->end(), buffer, buffer + got);
    }
    int failed = ferror(stream);
    fclose(stream);
    if (failed) {
        *error = path + ": read error";
        return ToolIoError;
    }
    return ToolOk;
}

int CheckFolder(const std::string& path, std::string* error)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        *error = path + ": " + strerror(errno);
        return 0;
    }
    if (!S_ISDIR(info.st_mode)) {
        *error = path + ": not a folder";
        return 0;
    }
    return 1;
}

int WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data,
                        std::string* error)
{
#ifdef _WIN32
    std::string temp = path + ".velkpack-tmp";
#else
    std::string temp = path + ".velkpack-" + std::to_string(getpid());
#endif
    FILE* stream = fopen(temp.c_str(), "wb");
    if (!stream) {
        *error = path + ": cannot be written: " + strerror(errno);
        return ToolIoError;
    }
    size_t put = data.empty() ? 0 : fwrite(data.data(), 1, data.size(), stream);
    // Flush and check before closing: some failures only show at the flush.
    int failed = put != data.size() || fflush(stream) != 0 || ferror(stream);
    int saved = errno;
    if (fclose(stream) != 0 && !failed) {
        failed = 1;
        saved = errno;
    }
    if (failed) {
        remove(temp.c_str());
        *error = path + ": write failed: " + strerror(saved);
        return ToolIoError;
    }
#ifdef _WIN32
    remove(path.c_str());
#endif
    if (rename(temp.c_str(), path.c_str()) != 0) {
        saved = errno;
        remove(temp.c_str());
        *error = path + ": cannot be written: " + strerror(saved);
        return ToolIoError;
    }
    return ToolOk;
}
