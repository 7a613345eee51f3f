// Regular expressions: the options plug-ins use, bad patterns, the offset vector and the match limit.
#include <pixkey/utility/Regex.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace pixkey;

namespace {

// Owns a compiled pattern.
struct Pattern {
    pcre *code = nullptr;
    const char *error = nullptr;
    int offset = -1;
    Pattern(const char *pattern, int options) { code = pcre_compile(pattern, options, &error, &offset, nullptr); }
    ~Pattern() { pcre_free(code); }
    int exec(const std::string &subject, int *ovector, int size, int start = 0) const
    {
        return pcre_exec(code, nullptr, subject.data(), int(subject.size()), start, 0, ovector, size);
    }
    bool matches(const std::string &subject) const
    {
        int ovector[30];
        return exec(subject, ovector, 30) > 0;
    }
};

TEST(Regex, TemperaturePatternFindsBothOrders)
{
    Pattern p("TEMPERATURE (max|min)=\"(-?\\d+)\" (min|max)=\"(-?\\d+)\"", PCRE_DOTALL | PCRE_EXTRA);
    ASSERT_NE(p.code, nullptr) << p.error;
    EXPECT_EQ(pcre_capture_count(p.code), 4);
    const std::string doc = "<x>\n<TEMPERATURE min=\"-3\" max=\"10\"/>\n</x>";
    int ov[30];
    std::fill(std::begin(ov), std::end(ov), -1);
    ASSERT_EQ(p.exec(doc, ov, 30), 5);
    EXPECT_EQ(doc.substr(std::size_t(ov[2]), std::size_t(ov[3] - ov[2])), "min");
    EXPECT_EQ(doc.substr(std::size_t(ov[4]), std::size_t(ov[5] - ov[4])), "-3");
    EXPECT_EQ(doc.substr(std::size_t(ov[8]), std::size_t(ov[9] - ov[8])), "10");
    EXPECT_EQ(p.exec("<TEMPERATURE max=\"x\"/>", ov, 30), PCRE_ERROR_NOMATCH);
}

TEST(Regex, OptionsChangeWhatMatches)
{
    EXPECT_FALSE(Pattern("<link rel", 0).matches("<LINK REL"));
    EXPECT_TRUE(Pattern("<link rel", PCRE_CASELESS).matches("<LINK REL"));
    EXPECT_FALSE(Pattern("a.b", 0).matches("a\nb"));
    EXPECT_TRUE(Pattern("a.b", PCRE_DOTALL).matches("a\nb"));
    EXPECT_TRUE(Pattern("<img.*?src=\"([^\"]+)\"", PCRE_CASELESS | PCRE_DOTALL | PCRE_EXTRA)
                    .matches("<IMG\nclass=x SRC=\"http://127.0.0.1/a.png\">"));
    // Without "extra" an unknown escape is the letter; with it, an error at the escape.
    EXPECT_TRUE(Pattern("\\q", 0).matches("q"));
    Pattern strict("ab\\q", PCRE_EXTRA);
    EXPECT_EQ(strict.code, nullptr);
    EXPECT_NE(strict.error, nullptr);
    EXPECT_GE(strict.offset, 2); // at or just past the escape
    EXPECT_LE(strict.offset, 4);
}

TEST(Regex, BadPatternsReportTextAndOffset)
{
    const struct {
        const char *pattern;
        int offset;
    } cases[] = {{"(abc", 4}, {"a[b", 3}, {"*a", 0}, {"a{2,1}", 5}, {"(?<n>a)(?<n>b)", 12}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pattern);
        Pattern p(c.pattern, PCRE_CASELESS);
        EXPECT_EQ(p.code, nullptr);
        ASSERT_NE(p.error, nullptr);
        EXPECT_GT(std::strlen(p.error), 0u);
        EXPECT_EQ(p.offset, c.offset);
    }
    Pattern unknownOption("a", 0x40000000);
    EXPECT_EQ(unknownOption.code, nullptr);
    EXPECT_NE(unknownOption.error, nullptr);
    Pattern null(nullptr, 0);
    EXPECT_EQ(null.code, nullptr);
    // Null out-pointers are allowed.
    EXPECT_EQ(pcre_compile("(", 0, nullptr, nullptr, nullptr), nullptr);
}

TEST(Regex, OffsetVectorRules)
{
    Pattern p("(a)|(b)(c)?", 0);
    ASSERT_NE(p.code, nullptr);
    int ov[30];
    std::fill(std::begin(ov), std::end(ov), 7);
    ASSERT_EQ(p.exec("xb", ov, 30), 3); // groups 0..2 set; group 1 unset, group 3 beyond the count
    EXPECT_EQ(ov[0], 1);
    EXPECT_EQ(ov[1], 2);
    EXPECT_EQ(ov[2], -1);
    EXPECT_EQ(ov[3], -1);
    EXPECT_EQ(ov[4], 1);
    EXPECT_EQ(ov[6], 7); // untouched past the pairs returned

    // Too small: 0, the pairs that fit are still filled.
    int small[3] = {9, 9, 9};
    EXPECT_EQ(p.exec("xb", small, 3), 0);
    EXPECT_EQ(small[0], 1);

    // Subjects with NULs, start offsets, bad arguments.
    Pattern nul("b", 0);
    const std::string withNul("a\0b", 3);
    EXPECT_EQ(nul.exec(withNul, ov, 30), 1);
    EXPECT_EQ(ov[0], 2);
    EXPECT_EQ(nul.exec("bab", ov, 30, 1), 1);
    EXPECT_EQ(ov[0], 2);
    EXPECT_EQ(nul.exec("bab", ov, 30, 4), PCRE_ERROR_BADOFFSET);
    EXPECT_EQ(pcre_exec(nullptr, nullptr, "b", 1, 0, 0, ov, 30), PCRE_ERROR_NULL);
    EXPECT_EQ(pcre_exec(nul.code, nullptr, nullptr, 1, 0, 0, ov, 30), PCRE_ERROR_NULL);
    EXPECT_EQ(pcre_exec(nul.code, nullptr, "b", 1, 0, 0, nullptr, 30), PCRE_ERROR_NULL);
    EXPECT_EQ(pcre_exec(nul.code, nullptr, "b", -1, 0, 0, ov, 30), PCRE_ERROR_NULL);
    EXPECT_EQ(pcre_capture_count(nullptr), 0);
    pcre_free(nullptr);
}

TEST(Regex, PathologicalPatternHitsTheMatchLimit)
{
    Pattern p("^(\\w+\\s?)*$", 0);
    ASSERT_NE(p.code, nullptr);
    const std::string subject = std::string(4000, 'a') + " aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa!";
    int ov[30];
    EXPECT_EQ(p.exec(subject, ov, 30), PCRE_ERROR_MATCHLIMIT);
    EXPECT_EQ(p.exec("plain words only", ov, 30), 2); // the same pattern still works on sane input
}

TEST(Regex, OnePatternMatchesFromSeveralThreads)
{
    Pattern p("(\\d+)-(\\d+)", PCRE_CASELESS);
    ASSERT_NE(p.code, nullptr);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                const std::string subject = "x" + std::to_string(t) + "-" + std::to_string(i) + "y";
                int ov[30];
                if (p.exec(subject, ov, 30) != 3 || ov[2] != 1)
                    ++wrong;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}

} // namespace
