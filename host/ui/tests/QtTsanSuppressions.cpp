// ThreadSanitizer does not see the atomics and futex-based locks inside the uninstrumented Qt
// libraries and reports their internal hand-offs (the image thread pool that QPainter uses for
// large fills and scaling) as races. Reports whose stack passes through Qt are suppressed; races
// in this project's code, the device link's worker and the emulator's thread are still reported.
#if defined(__SANITIZE_THREAD__)
extern "C" const char *__tsan_default_suppressions()
{
    return "race:libQt6Core.so\n"
           "race:libQt6Gui.so\n";
}
#endif
