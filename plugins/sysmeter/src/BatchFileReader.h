// BatchFileReader: reads a batch of small files below one folder, for the process sampler, which
// reads one stat file per process.
//
// Where the kernel offers io_uring, one system call opens the whole batch, one reads it and one
// closes it, instead of three calls per file; on a virtual machine, where a system call is dear,
// that is most of a sample's cost. Where it does not (an old kernel, io_uring switched off or
// refused by a filter) and for any file the ring could not handle (no descriptor left, say), the
// files are read one after the other with open, read and close. Either way a file is read with a
// single read of up to kFileBytes - 1 bytes; a shorter result is the whole file.
//
// Owns its ring and its buffers. Not thread-safe: one reader belongs to one sampler.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <sys/types.h>

namespace sysmeter {

class BatchFileReader {
public:
    static constexpr std::size_t kBatch = 64;       // files a batch holds at most
    static constexpr std::size_t kFileBytes = 2048; // buffer a file, its terminating zero included
    static constexpr std::size_t kPathBytes = 32;   // a path below the folder, zero included

    // Sets up the ring unless `oneFileAtATime`; when that fails the reader reads file by file.
    explicit BatchFileReader(bool oneFileAtATime = false);
    ~BatchFileReader();
    BatchFileReader(const BatchFileReader &) = delete;
    BatchFileReader &operator=(const BatchFileReader &) = delete;

    // Whether batches go through the ring.
    bool batched() const;

    // The path of the next file of the batch, to be written (zero-terminated, relative to the
    // folder); null when the batch is full.
    char *add();
    // Files in the batch; whether they wait for read().
    std::size_t size() const { return m_count; }
    bool pending() const { return !m_read && m_count != 0; }
    // Empties the batch.
    void clear()
    {
        m_count = 0;
        m_read = false;
    }

    // Reads the files of the batch below `dirFd`. Afterwards text(i) is the zero-terminated content
    // of file i and length(i) its length, or -1 when the file could not be opened or read (gone,
    // hidden, not permitted). The next add() starts a new batch.
    void read(int dirFd);
    const char *path(std::size_t i) const { return m_paths[i].data(); }
    const char *text(std::size_t i) const { return m_texts[i].data(); }
    ssize_t length(std::size_t i) const { return m_lengths[i]; }

    // Reads up to `size - 1` bytes of `path` below `dirFd` into `buffer` and terminates them.
    // Returns the length, or -1 when the file cannot be opened or read. Any thread.
    static ssize_t readFile(int dirFd, const char *path, char *buffer, std::size_t size);

private:
    struct Ring;

    // Reads file `i` with plain system calls.
    void readOne(int dirFd, std::size_t i);
    // Goes through the ring; false when the ring failed and was given up, the batch unread.
    bool readBatched(int dirFd);

    std::unique_ptr<Ring> m_ring;
    std::size_t m_count = 0;
    bool m_read = false; // the batch has been read; the next add() starts afresh
    std::array<std::array<char, kPathBytes>, kBatch> m_paths{};
    std::array<std::array<char, kFileBytes>, kBatch> m_texts{};
    std::array<ssize_t, kBatch> m_lengths{};
    std::array<int, kBatch> m_fds{};
};

} // namespace sysmeter
