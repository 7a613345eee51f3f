// ThreadSanitizer does not see the atomics and futex-based locks inside the uninstrumented Qt and
// HarfBuzz libraries, and reports their internal hand-offs (Qt's image thread pool, HarfBuzz's
// lock-free lazy tables on the first text shaped by several threads) as races. Reports whose
// stack passes through those libraries are suppressed; races in this project's code are still
// reported.
#if defined(__SANITIZE_THREAD__)
extern "C" const char *__tsan_default_suppressions()
{
    return "race:libQt6Core.so\n"
           "race:libharfbuzz.so\n";
}
#endif
