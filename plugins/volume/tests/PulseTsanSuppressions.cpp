// libpulse recycles its packets, tag structures and mutexes through free lists shared by all its
// main loops and ordered by atomics of its own. The library is not instrumented, so
// ThreadSanitizer sees a block written by one loop's thread and reused by another's without that
// ordering. Only races whose stacks pass through those recycling functions are ignored; the
// locks libpulse takes stay visible, and races in the plug-in's own code are still reported.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:pa_packet_new_data\n"
           "race:pa_tagstruct_put_arbitrary\n"
           "race:pa_iochannel_read_with_ancil_data\n"
           "race:pa_mutex_lock\n"
           "race:pa_xmalloc\n";
}
