// When the X server goes away, Xlib releases the connection's lock inside its I/O error path and
// once more when the interrupted call returns; ThreadSanitizer reports that second release. It is
// Xlib's own bookkeeping on a connection that is no longer used afterwards, so reports whose stack
// passes through libX11 for mutex misuse are suppressed; races in this project's code are still
// reported.
#if defined(__SANITIZE_THREAD__)
extern "C" const char *__tsan_default_suppressions()
{
    return "mutex:libX11.so\n";
}
#endif
