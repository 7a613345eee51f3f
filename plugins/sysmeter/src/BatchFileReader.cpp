#include "BatchFileReader.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <fcntl.h>
#include <linux/io_uring.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sysmeter {

namespace {

constexpr int kNoResult = INT_MIN; // a request whose completion never came

// Failures that say nothing about the file, only about the ring or the moment: the file is read
// again with plain system calls.
bool worthRetrying(int error)
{
    switch (error) {
    case EINTR:
    case EAGAIN:
    case EINVAL:
    case EOPNOTSUPP:
    case ECANCELED:
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case EBADF:
    case ENOSYS:
        return true;
    default:
        return false;
    }
}

} // namespace

// An io_uring instance of kBatch entries, set up with bare system calls.
struct BatchFileReader::Ring {
    ~Ring()
    {
        if (sqes != MAP_FAILED)
            munmap(sqes, sqeBytes);
        if (cq != MAP_FAILED && cq != sq)
            munmap(cq, cqBytes);
        if (sq != MAP_FAILED)
            munmap(sq, sqBytes);
        if (fd >= 0)
            close(fd);
    }

    // False when the kernel has no ring for this process or lacks one of the three operations.
    bool open()
    {
        io_uring_params params{};
        fd = int(syscall(__NR_io_uring_setup, unsigned(kBatch), &params));
        if (fd < 0)
            return false;
        // The sampler never has more requests in flight than the rings hold.
        if (params.sq_entries < kBatch || params.cq_entries < kBatch)
            return false;
        sqBytes = params.sq_off.array + params.sq_entries * sizeof(unsigned);
        cqBytes = params.cq_off.cqes + params.cq_entries * sizeof(io_uring_cqe);
        if (params.features & IORING_FEAT_SINGLE_MMAP)
            sqBytes = cqBytes = sqBytes > cqBytes ? sqBytes : cqBytes;
        sq = mmap(nullptr, sqBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, IORING_OFF_SQ_RING);
        if (sq == MAP_FAILED)
            return false;
        cq = (params.features & IORING_FEAT_SINGLE_MMAP)
                 ? sq
                 : mmap(nullptr, cqBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, IORING_OFF_CQ_RING);
        if (cq == MAP_FAILED)
            return false;
        sqeBytes = params.sq_entries * sizeof(io_uring_sqe);
        void *entries = mmap(nullptr, sqeBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, IORING_OFF_SQES);
        if (entries == MAP_FAILED)
            return false;
        sqes = static_cast<io_uring_sqe *>(entries);
        auto *s = static_cast<char *>(sq);
        auto *c = static_cast<char *>(cq);
        sqTail = reinterpret_cast<unsigned *>(s + params.sq_off.tail);
        sqMask = *reinterpret_cast<unsigned *>(s + params.sq_off.ring_mask);
        sqArray = reinterpret_cast<unsigned *>(s + params.sq_off.array);
        cqHead = reinterpret_cast<unsigned *>(c + params.cq_off.head);
        cqTail = reinterpret_cast<unsigned *>(c + params.cq_off.tail);
        cqMask = *reinterpret_cast<unsigned *>(c + params.cq_off.ring_mask);
        cqes = reinterpret_cast<io_uring_cqe *>(c + params.cq_off.cqes);
        return supports({IORING_OP_OPENAT, IORING_OP_READ, IORING_OP_CLOSE});
    }

    bool supports(std::initializer_list<unsigned> operations) const
    {
        constexpr unsigned kOps = 256;
        const std::size_t bytes = sizeof(io_uring_probe) + kOps * sizeof(io_uring_probe_op);
        std::unique_ptr<char[]> storage(new char[bytes]());
        auto *probe = reinterpret_cast<io_uring_probe *>(storage.get());
        if (syscall(__NR_io_uring_register, fd, IORING_REGISTER_PROBE, probe, kOps) < 0)
            return false;
        for (unsigned op : operations)
            if (op > probe->last_op || !(probe->ops[op].flags & IO_URING_OP_SUPPORTED))
                return false;
        return true;
    }

    // A cleared request at the tail of the submission queue, queued by the next run().
    io_uring_sqe &prepare(std::uint8_t opcode, int target, std::size_t index)
    {
        const unsigned slot = (*sqTail + queued) & sqMask;
        io_uring_sqe &sqe = sqes[slot];
        std::memset(&sqe, 0, sizeof sqe);
        sqe.opcode = opcode;
        sqe.fd = target;
        sqe.user_data = index;
        sqArray[slot] = slot;
        ++queued;
        return sqe;
    }

    // Submits the prepared requests and waits for all their completions, storing each result at
    // its index in `results`. False when the ring failed; results not stored stay kNoResult.
    bool run(std::array<int, kBatch> &results)
    {
        results.fill(kNoResult);
        const unsigned wanted = queued;
        __atomic_store_n(sqTail, *sqTail + queued, __ATOMIC_RELEASE);
        queued = 0;
        unsigned submitted = 0, completed = 0;
        int idle = 0;
        while (completed < wanted) {
            const long entered = syscall(__NR_io_uring_enter, fd, wanted - submitted, wanted - completed,
                                         IORING_ENTER_GETEVENTS, nullptr, 0);
            if (entered < 0 && errno != EINTR && errno != EAGAIN && errno != EBUSY)
                return false;
            if (entered > 0)
                submitted += unsigned(entered);
            const unsigned before = completed;
            unsigned head = *cqHead;
            const unsigned tail = __atomic_load_n(cqTail, __ATOMIC_ACQUIRE);
            for (; head != tail; ++head) {
                const io_uring_cqe &cqe = cqes[head & cqMask];
                if (cqe.user_data < kBatch)
                    results[cqe.user_data] = cqe.res;
                ++completed;
            }
            __atomic_store_n(cqHead, head, __ATOMIC_RELEASE);
            // The kernel neither takes requests nor completes them: give up rather than spin.
            if (entered <= 0 && completed == before && ++idle > 100)
                return false;
        }
        return true;
    }

    int fd = -1;
    void *sq = MAP_FAILED, *cq = MAP_FAILED;
    std::size_t sqBytes = 0, cqBytes = 0, sqeBytes = 0;
    io_uring_sqe *sqes = static_cast<io_uring_sqe *>(MAP_FAILED);
    unsigned *sqTail = nullptr, *sqArray = nullptr, *cqHead = nullptr, *cqTail = nullptr;
    unsigned sqMask = 0, cqMask = 0;
    io_uring_cqe *cqes = nullptr;
    unsigned queued = 0;
};

BatchFileReader::BatchFileReader(bool oneFileAtATime)
{
    if (oneFileAtATime)
        return;
    auto ring = std::make_unique<Ring>();
    if (ring->open())
        m_ring = std::move(ring);
}

BatchFileReader::~BatchFileReader() = default;

bool BatchFileReader::batched() const
{
    return m_ring != nullptr;
}

char *BatchFileReader::add()
{
    if (m_read) {
        m_read = false;
        m_count = 0;
    }
    if (m_count == kBatch)
        return nullptr;
    return m_paths[m_count++].data();
}

ssize_t BatchFileReader::readFile(int dirFd, const char *path, char *buffer, std::size_t size)
{
    const int fd = openat(dirFd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    // The files read here are small: a read that returns less than asked for has reached the end,
    // which saves a system call per file.
    std::size_t length = 0;
    while (length + 1 < size) {
        const std::size_t wanted = size - 1 - length;
        const ssize_t got = ::read(fd, buffer + length, wanted);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            close(fd);
            return -1;
        }
        length += std::size_t(got);
        if (got == 0 || std::size_t(got) < wanted)
            break;
    }
    close(fd);
    buffer[length] = '\0';
    return ssize_t(length);
}

void BatchFileReader::readOne(int dirFd, std::size_t i)
{
    m_lengths[i] = readFile(dirFd, m_paths[i].data(), m_texts[i].data(), kFileBytes);
}

void BatchFileReader::read(int dirFd)
{
    m_read = true;
    if (m_ring && !readBatched(dirFd))
        m_ring.reset(); // from now on file by file
    if (!m_ring)
        for (std::size_t i = 0; i < m_count; ++i)
            readOne(dirFd, i);
}

bool BatchFileReader::readBatched(int dirFd)
{
    Ring &ring = *m_ring;
    for (std::size_t i = 0; i < m_count; ++i) {
        io_uring_sqe &open = ring.prepare(IORING_OP_OPENAT, dirFd, i);
        open.addr = reinterpret_cast<std::uintptr_t>(m_paths[i].data());
        open.open_flags = O_RDONLY | O_CLOEXEC | O_NOCTTY;
    }
    const bool opened = ring.run(m_fds);
    std::array<int, kBatch> reads;
    bool readAll = false;
    if (opened) {
        for (std::size_t i = 0; i < m_count; ++i) {
            if (m_fds[i] < 0)
                continue;
            // One read from the start: as in readFile, a shorter result is the whole file.
            io_uring_sqe &read = ring.prepare(IORING_OP_READ, m_fds[i], i);
            read.addr = reinterpret_cast<std::uintptr_t>(m_texts[i].data());
            read.len = kFileBytes - 1;
            read.off = 0;
        }
        readAll = ring.run(reads);
    }

    // Every descriptor the ring opened is closed, through the ring while it works.
    std::array<int, kBatch> closes;
    closes.fill(kNoResult);
    bool closedAll = false;
    if (readAll) {
        for (std::size_t i = 0; i < m_count; ++i)
            if (m_fds[i] >= 0)
                ring.prepare(IORING_OP_CLOSE, m_fds[i], i);
        closedAll = ring.run(closes);
    }
    for (std::size_t i = 0; i < m_count; ++i) {
        if (m_fds[i] < 0)
            continue;
        // A close that failed left the descriptor open; one whose completion never came is left
        // alone, as the descriptor may already be another's.
        if (!readAll || (closes[i] != kNoResult && closes[i] < 0))
            close(m_fds[i]);
    }
    // A ring that failed on the way is given up; the batch is then read file by file.
    if (!closedAll)
        return false;

    for (std::size_t i = 0; i < m_count; ++i) {
        if (m_fds[i] < 0) {
            if (worthRetrying(-m_fds[i]))
                readOne(dirFd, i);
            else
                m_lengths[i] = -1;
        } else if (reads[i] >= 0) {
            m_lengths[i] = reads[i];
            m_texts[i][std::size_t(reads[i])] = '\0';
        } else if (worthRetrying(-reads[i])) {
            readOne(dirFd, i);
        } else {
            m_lengths[i] = -1;
        }
    }
    return true;
}

} // namespace sysmeter
