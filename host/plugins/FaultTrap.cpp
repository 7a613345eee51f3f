#include "FaultTrap.h"

#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <mutex>

#include <sys/mman.h>
#include <unistd.h>

namespace pixkey::detail {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kMaxSignal = 32;

struct TrapFrame {
    sigjmp_buf env;
    TrapFrame *outer;
};

thread_local TrapFrame *t_frame = nullptr;

// Written once (by the first trapped call, under the static initialisation guard) and then only read by the handler.
struct sigaction g_previous[kMaxSignal];

void onFault(int signal, siginfo_t *info, void *context)
{
    if (TrapFrame *frame = t_frame) {
        t_frame = frame->outer;
        siglongjmp(frame->env, signal);
    }
    // Not inside a trapped call: behave as if this handler had never been installed.
    const struct sigaction &previous = g_previous[signal];
    if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
        return;
    }
    // Default action: reinstall it and let the fault happen again (or the signal be delivered
    // again once this handler returns and unblocks it).
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    if (!info || info->si_code <= 0)
        raise(signal);
}

void installHandlers()
{
    struct sigaction action = {};
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals)
        sigaction(signal, &action, &g_previous[signal]);
}

// The alternate signal stack of a thread that makes trapped calls; removed when the thread ends.
// A thread that already has one (given by its creator or a runtime) keeps it.
class AltStack {
public:
    AltStack()
    {
        stack_t current = {};
        if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE))
            return;
        m_size = 64 * 1024 + static_cast<size_t>(SIGSTKSZ);
        void *memory = mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED)
            return;
        stack_t stack = {};
        stack.ss_sp = memory;
        stack.ss_size = m_size;
        if (sigaltstack(&stack, nullptr) != 0) {
            munmap(memory, m_size);
            return;
        }
        m_memory = memory;
    }
    ~AltStack()
    {
        if (!m_memory)
            return;
        stack_t disable = {};
        disable.ss_flags = SS_DISABLE;
        sigaltstack(&disable, nullptr);
        munmap(m_memory, m_size);
    }
    AltStack(const AltStack &) = delete;
    AltStack &operator=(const AltStack &) = delete;

private:
    void *m_memory = nullptr;
    size_t m_size = 0;
};

// sigsetjmp must live in the frame that stays active during the call, hence no inlining. The
// signal mask is saved with it, and the jump out of the handler restores it: the mask the kernel
// set for the handler is not only the caught signal when another layer installed the handler we
// are called from (a sanitizer's runtime blocks every signal there), and a fault signal left
// blocked would end the process at the next fault.
__attribute__((noinline)) int trappedCall(TrapFrame &frame, void (*function)(void *), void *argument)
{
    if (int signal = sigsetjmp(frame.env, 1))
        return signal; // t_frame was reset by the handler
    t_frame = &frame;
    function(argument);
    t_frame = frame.outer;
    return 0;
}

} // namespace

int runTrapped(void (*function)(void *), void *argument)
{
    // A function-local static: after the first call its check is a single load, where
    // std::call_once goes through pthread_once on every call.
    static const bool installed = (installHandlers(), true);
    (void)installed;
    thread_local AltStack altStack;

    TrapFrame frame;
    frame.outer = t_frame;
    return trappedCall(frame, function, argument);
}

} // namespace pixkey::detail
