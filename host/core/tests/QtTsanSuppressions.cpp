// ThreadSanitizer does not see the futex-based locks inside the uninstrumented Qt libraries, so
// events that several threads post to the main thread at once (key presses, connection changes,
// face hand-offs) are reported as races inside QCoreApplication's posted-event list. The same holds
// for the D-Bus library under QtDBus, whose connection thread and the main thread share each
// connection under the library's own locks. Reports whose stack passes through QtCore, QtDBus or
// the D-Bus library are suppressed; races in this project's code are still reported.
#if defined(__SANITIZE_THREAD__)
extern "C" const char *__tsan_default_suppressions()
{
    return "race:libQt6Core.so\n"
           "race:libQt6DBus.so\n"
           "race:libdbus-1.so\n";
}
#endif
