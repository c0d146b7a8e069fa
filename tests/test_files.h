// Whole-file helpers shared by the test programs and benchmarks.
#ifndef VELK_TESTS_TEST_FILES_H
#define VELK_TESTS_TEST_FILES_H

#include <cstdio>
#include <string>

// The file's bytes; empty when it cannot be read.
inline std::string ReadFileBytes(const std::string& path)
{
    std::string data;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return data;
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
        data.append(buffer, got);
    fclose(f);
    return data;
}

// Writes the bytes, replacing the file; false when that failed.
inline bool WriteFileBytes(const std::string& path, const std::string& data)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

#ifndef _WIN32
#include <sys/wait.h>

// What a command run through the shell printed (its standard output; add
// "2>&1" for its errors) and its exit status (-1 when it did not exit).
struct CommandRun {
    int status;
    std::string output;
};

inline CommandRun RunCommand(const std::string& command)
{
    CommandRun run = {-1, ""};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, got);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
#endif

#endif
