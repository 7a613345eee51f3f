// ThreadSanitizer cannot see the locks inside the uninstrumented Qt and HarfBuzz libraries (the
// feed workers draw text on threads of their own), so reports whose stack passes through them
// are suppressed; races in this project's code are still reported.
#if defined(__SANITIZE_THREAD__)
extern "C" const char *__tsan_default_suppressions()
{
    return "race:libQt6Core.so\n"
           "race:libQt6Gui.so\n"
           "race:libharfbuzz.so\n"
           "race:libfreetype.so\n";
}
#endif
