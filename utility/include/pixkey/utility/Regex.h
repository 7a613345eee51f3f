// Regex.h: regular expressions for the plug-ins, in the shape of the classic compile/exec pair,
// running on PCRE2 in 8-bit (byte) mode.
//
//   const char *error = nullptr; int offset = 0;
//   pixkey::pcre *re = pixkey::pcre_compile(pattern, PCRE_CASELESS | PCRE_DOTALL, &error, &offset, nullptr);
//   int ov[30];
//   int rc = pixkey::pcre_exec(re, nullptr, text, length, 0, 0, ov, 30);
//   pixkey::pcre_free(re);
//
// [any-thread] A compiled pattern is read-only and may be matched from several threads at once.
// Matching is bounded (kMatchLimit backtracking steps, kDepthLimit nesting, kHeapLimitKiB memory):
// a pathological pattern fails with PCRE_ERROR_MATCHLIMIT instead of hanging the paint thread.
#pragma once

#include "UtilityExport.h"

namespace pixkey {

// Compile options.
enum : int {
    PCRE_CASELESS = 0x0001,
    PCRE_MULTILINE = 0x0002,
    PCRE_DOTALL = 0x0004,
    PCRE_EXTENDED = 0x0008,
    PCRE_ANCHORED = 0x0010,
    PCRE_DOLLAR_ENDONLY = 0x0020,
    PCRE_EXTRA = 0x0040, // unknown escapes such as \q are errors (without it: the letter itself)
    PCRE_UNGREEDY = 0x0200,
    PCRE_UTF8 = 0x0800,  // pattern and subjects are UTF-8 (otherwise bytes)
};

// Results of pcre_exec below zero.
enum : int {
    PCRE_ERROR_NOMATCH = -1,
    PCRE_ERROR_NULL = -2,       // null code, subject or a bad ovector
    PCRE_ERROR_BADOPTION = -3,
    PCRE_ERROR_NOMEMORY = -6,
    PCRE_ERROR_MATCHLIMIT = -8, // the match, depth or heap limit was reached
    PCRE_ERROR_BADUTF8 = -10,
    PCRE_ERROR_BADOFFSET = -24,
    PCRE_ERROR_INTERNAL = -14,
};

inline constexpr unsigned long kMatchLimit = 1'000'000;
inline constexpr unsigned long kDepthLimit = 10'000;
inline constexpr unsigned long kHeapLimitKiB = 20'000;

// A compiled pattern. Opaque; free it with pcre_free.
struct pcre;

// Compiles `pattern` (NUL-terminated) with `options`. On failure returns null, sets *errptr to a
// static English message and *erroffset to the byte offset of the error in the pattern (either
// pointer may be null). `tableptr` is ignored (pass null).
PIXKEY_UTILITY_EXPORT pcre *pcre_compile(const char *pattern, int options, const char **errptr, int *erroffset,
                                         const unsigned char *tableptr);

// Matches `code` against `subject` (`length` bytes; NULs allowed) from `startoffset`. `extra`
// is ignored; `options` accepts PCRE_ANCHORED. The first two thirds of `ovector` (ovecsize
// entries) receive start/end byte offsets of the match and its groups in pairs; groups that did
// not take part get -1. Returns the number of pairs set (highest group that matched + 1), 0 when
// the ovector holds too few pairs for all of them (the ones that fit are set), or a negative
// PCRE_ERROR_* code.
PIXKEY_UTILITY_EXPORT int pcre_exec(const pcre *code, const void *extra, const char *subject, int length,
                                    int startoffset, int options, int *ovector, int ovecsize);

// Number of capturing groups of `code` (0 for null).
PIXKEY_UTILITY_EXPORT int pcre_capture_count(const pcre *code);

// Frees a pattern from pcre_compile; null is ignored.
PIXKEY_UTILITY_EXPORT void pcre_free(pcre *code);

} // namespace pixkey
