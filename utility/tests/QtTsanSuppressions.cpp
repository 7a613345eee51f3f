// ThreadSanitizer sees Qt's own worker threads (QImage scaling and conversion run on Qt's thread
// pool) without seeing the atomics inside the uninstrumented Qt libraries, and reports their
// hand-offs as races. Reports whose stack passes through QtCore's pool are suppressed; races in
// this project's code are still reported.
#if defined(__SANITIZE_THREAD__)
extern "C" const char *__tsan_default_suppressions()
{
    return "race:libQt6Core.so\n";
}
#endif
