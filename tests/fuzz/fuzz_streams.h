// Streams for the fuzz targets: the code under test reads and writes
// through stdio streams, so the fuzz input becomes a read stream over
// memory, and output goes to a sink that keeps what it is given up to a
// bound and then refuses more, as a full disk would.
#ifndef VELK_TESTS_FUZZ_FUZZ_STREAMS_H
#define VELK_TESTS_FUZZ_FUZZ_STREAMS_H

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

// A read stream over `size` bytes; for size 0 a stream that is at its end
// at once (glibc 2.22 and later).
inline FILE* OpenMemoryInput(const uint8_t* data, size_t size)
{
    static uint8_t nothing[1];
    return fmemopen(size ? const_cast<uint8_t*>(data) : nothing, size, "rb");
}

struct BoundedSink {
    std::vector<uint8_t> bytes; // what was accepted
    size_t bound;               // accepted bytes at most
    size_t offered;             // bytes the stream tried to write
};

inline ssize_t WriteToSink(void* cookie, const char* data, size_t size)
{
    BoundedSink* sink = static_cast<BoundedSink*>(cookie);
    sink->offered += size;
    size_t room = sink->bound - sink->bytes.size();
    if (size > room) {
        sink->bytes.insert(sink->bytes.end(), data, data + room);
        errno = ENOSPC;
        return -1;
    }
    sink->bytes.insert(sink->bytes.end(), data, data + size);
    return static_cast<ssize_t>(size);
}

// A write stream into `sink`; the sink must outlive it.
inline FILE* OpenSink(BoundedSink* sink, size_t bound)
{
    sink->bytes.clear();
    sink->bytes.reserve(bound < 65536 ? bound : 65536);
    sink->bound = bound;
    sink->offered = 0;
    cookie_io_functions_t functions = {NULL, WriteToSink, NULL, NULL};
    return fopencookie(sink, "wb", functions);
}

#endif
