#include "pixkey/utility/Regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <mutex>
#include <string>

namespace pixkey {

struct pcre {
    pcre2_code *code = nullptr;
};

namespace {

constexpr int kKnownOptions = PCRE_CASELESS | PCRE_MULTILINE | PCRE_DOTALL | PCRE_EXTENDED | PCRE_ANCHORED
    | PCRE_DOLLAR_ENDONLY | PCRE_EXTRA | PCRE_UNGREEDY | PCRE_UTF8;

// Compile errors are reported as static texts, as callers keep the pointer without freeing it.
// PCRE2 fills a caller's buffer, so the texts of the codes met are kept here, one per code.
const char *staticErrorText(int code)
{
    static std::mutex lock;
    // Never freed and never moved: the returned pointers stay valid for the life of the process.
    static auto *texts = new std::list<std::pair<int, std::string>>;
    std::lock_guard<std::mutex> guard(lock);
    for (const auto &entry : *texts)
        if (entry.first == code)
            return entry.second.c_str();
    PCRE2_UCHAR buffer[256];
    if (pcre2_get_error_message(code, buffer, sizeof buffer) < 0)
        std::strcpy(reinterpret_cast<char *>(buffer), "invalid regular expression");
    texts->emplace_back(code, reinterpret_cast<const char *>(buffer));
    return texts->back().second.c_str();
}

uint32_t compileOptions(int options)
{
    uint32_t result = 0;
    if (options & PCRE_CASELESS)
        result |= PCRE2_CASELESS;
    if (options & PCRE_MULTILINE)
        result |= PCRE2_MULTILINE;
    if (options & PCRE_DOTALL)
        result |= PCRE2_DOTALL;
    if (options & PCRE_EXTENDED)
        result |= PCRE2_EXTENDED;
    if (options & PCRE_ANCHORED)
        result |= PCRE2_ANCHORED;
    if (options & PCRE_DOLLAR_ENDONLY)
        result |= PCRE2_DOLLAR_ENDONLY;
    if (options & PCRE_UNGREEDY)
        result |= PCRE2_UNGREEDY;
    if (options & PCRE_UTF8)
        result |= PCRE2_UTF;
    return result;
}

void report(const char **errptr, int *erroffset, const char *text, int offset)
{
    if (errptr)
        *errptr = text;
    if (erroffset)
        *erroffset = offset;
}

} // namespace

pcre *pcre_compile(const char *pattern, int options, const char **errptr, int *erroffset, const unsigned char *)
{
    report(errptr, erroffset, nullptr, 0);
    if (!pattern) {
        report(errptr, erroffset, "no pattern", 0);
        return nullptr;
    }
    if (options & ~kKnownOptions) {
        report(errptr, erroffset, "unknown option bit(s) set", 0);
        return nullptr;
    }
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_compile_context *context = pcre2_compile_context_create(nullptr);
    if (!context) {
        report(errptr, erroffset, "out of memory", 0);
        return nullptr;
    }
    // Without the "extra" option an unknown escape such as \q stands for the letter itself; with
    // it, such an escape is an error.
    if (!(options & PCRE_EXTRA))
        pcre2_set_compile_extra_options(context, PCRE2_EXTRA_BAD_ESCAPE_IS_LITERAL);
    pcre2_code *code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                                     compileOptions(options), &error, &offset, context);
    pcre2_compile_context_free(context);
    if (!code) {
        report(errptr, erroffset, staticErrorText(error), int(offset));
        return nullptr;
    }
    return new pcre{code};
}

int pcre_exec(const pcre *code, const void *, const char *subject, int length, int startoffset, int options,
              int *ovector, int ovecsize)
{
    if (!code || !code->code || !subject || length < 0 || ovecsize < 0 || (ovecsize > 0 && !ovector))
        return PCRE_ERROR_NULL;
    if (options & ~PCRE_ANCHORED)
        return PCRE_ERROR_BADOPTION;
    if (startoffset < 0 || startoffset > length)
        return PCRE_ERROR_BADOFFSET;

    pcre2_match_context *context = pcre2_match_context_create(nullptr);
    pcre2_match_data *match = pcre2_match_data_create_from_pattern(code->code, nullptr);
    if (!context || !match) {
        pcre2_match_context_free(context);
        pcre2_match_data_free(match);
        return PCRE_ERROR_NOMEMORY;
    }
    pcre2_set_match_limit(context, uint32_t(kMatchLimit));
    pcre2_set_depth_limit(context, uint32_t(kDepthLimit));
    pcre2_set_heap_limit(context, uint32_t(kHeapLimitKiB));

    const int rc = pcre2_match(code->code, reinterpret_cast<PCRE2_SPTR>(subject), PCRE2_SIZE(length),
                               PCRE2_SIZE(startoffset), (options & PCRE_ANCHORED) ? PCRE2_ANCHORED : 0, match,
                               context);
    int result;
    if (rc >= 0) {
        // The classic layout: pairs in the first two thirds of the vector, the rest is scratch.
        const int pairs = ovecsize / 3;
        const PCRE2_SIZE *offsets = pcre2_get_ovector_pointer(match);
        const int found = rc; // highest group set + 1
        const int copied = std::min(pairs, found);
        for (int i = 0; i < copied; ++i) {
            const bool unset = offsets[2 * i] == PCRE2_UNSET;
            ovector[2 * i] = unset ? -1 : int(offsets[2 * i]);
            ovector[2 * i + 1] = unset ? -1 : int(offsets[2 * i + 1]);
        }
        result = found > pairs ? 0 : found;
    } else if (rc == PCRE2_ERROR_NOMATCH || rc == PCRE2_ERROR_PARTIAL) {
        result = PCRE_ERROR_NOMATCH;
    } else if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT || rc == PCRE2_ERROR_HEAPLIMIT) {
        result = PCRE_ERROR_MATCHLIMIT;
    } else if (rc == PCRE2_ERROR_NOMEMORY) {
        result = PCRE_ERROR_NOMEMORY;
    } else if (rc <= PCRE2_ERROR_UTF8_ERR1 && rc >= PCRE2_ERROR_UTF8_ERR21) {
        result = PCRE_ERROR_BADUTF8;
    } else {
        result = PCRE_ERROR_INTERNAL;
    }
    pcre2_match_data_free(match);
    pcre2_match_context_free(context);
    return result;
}

int pcre_capture_count(const pcre *code)
{
    if (!code || !code->code)
        return 0;
    uint32_t count = 0;
    pcre2_pattern_info(code->code, PCRE2_INFO_CAPTURECOUNT, &count);
    return int(count);
}

void pcre_free(pcre *code)
{
    if (!code)
        return;
    pcre2_code_free(code->code);
    delete code;
}

} // namespace pixkey
