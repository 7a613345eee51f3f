// The two views as drawn by SystemMonitor and the plug-in object around them, on the offscreen
// platform: rows, figures, the memory bar, the load graph, GetInfo, and what a press starts.
#include "FaceSupport.h"
#include "FakeProc.h"
#include "SysmeterPlugin.h"
#include "SysmeterResources.h"
#include "SystemMonitor.h"
#include "TaskManager.h"

#include <pixkey/utility/CTextRenderer.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using sysmeter::LoadHistory;
using sysmeter::MemoryStatus;
using sysmeter::ProcessEntry;
using sysmeter::SysmeterPlugin;
using sysmeter::SystemMonitor;
using sysmeter_test::Face;

namespace {

constexpr std::uint32_t kUser = 0x00BE00;
constexpr std::uint32_t kKernel = 0xC2131F;

class SysmeterFaceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { sysmeter_test::ensureApplication(); }

    void SetUp() override
    {
        m_strip = sysmeter::stripImage();
        ASSERT_FALSE(m_strip.isNull());
        m_list.LoadFont("VELMORA_12PX");
        m_list.color = pixkey::rgbQuad(47, 47, 47);
        m_big.LoadFont("VELMORA_21PX");
        m_big.color = pixkey::rgbQuad(103, 163, 53);
    }

    // The strip's cell for `kind`, as Paint puts it down before the view.
    Face cell(int kind)
    {
        Face face;
        SystemMonitor::drawStripCell(*face.surface(), m_strip, kind);
        return face;
    }

    // Rows drawn where and as a key draws them: names from x = 0, values ending at x = 95.
    void printRows(Face &face, const std::vector<std::pair<const char *, const char *>> &rows)
    {
        int y = 17;
        for (const auto &[name, value] : rows) {
            m_list.alignment = pixkey::CTextRenderer::AlignLeft;
            m_list.PrintText(face.surface(), name, 0, y);
            m_list.alignment = pixkey::CTextRenderer::AlignRight;
            m_list.PrintText(face.surface(), value, 95, y);
            y += 12;
        }
    }

    static MemoryStatus memoryAt(int load)
    {
        MemoryStatus status;
        status.totalBytes = 100ull << 20;
        status.availableBytes = std::uint64_t(100 - load) << 20;
        return status;
    }

    QImage m_strip;
    pixkey::CTextRenderer m_list;
    pixkey::CTextRenderer m_big;
    SystemMonitor m_monitor{"/nonexistent/sysmeter-proc"};
};

TEST_F(SysmeterFaceTest, MemoryRowsLargestFirstInWholeRoundedMegabytes)
{
    const std::vector<ProcessEntry> processes = {
        {"Idle", 9000, 0},         {"small", 0, 1535},       {"larger", 0, 1536}, {"huge.bin", 0, 2097152},
        {"medium", 0, 40000},      {"tiny", 0, 1},           {"fifth", 0, 1000},
    };
    Face face = cell(1);
    m_monitor.drawMemory(*face.surface(), processes, std::nullopt);

    Face expected = cell(1);
    printRows(expected, {{"huge", " 2048 MB"}, {"medium", " 39 MB"}, {"larger", " 2 MB"}, {"small", " 1 MB"},
                         {"fifth", " 1 MB"}});
    EXPECT_TRUE(face == expected);
}

TEST_F(SysmeterFaceTest, MemoryFigureAndLoadBar)
{
    const Face plain = cell(1);
    for (int load : {0, 63, 100}) {
        SCOPED_TRACE(load);
        Face face = cell(1);
        m_monitor.drawMemory(*face.surface(), {}, memoryAt(load));
        // The bar repeats the first column's colours from x = 1, load x 96 / 100 pixels wide.
        const int width = load * 96 / 100;
        for (int y = 88; y < 96; ++y)
            for (int x = 1; x < 96; ++x)
                ASSERT_EQ(face.rgb(x, y), x <= width ? plain.rgb(0, y) : plain.rgb(x, y)) << x << "," << y;

        Face expected = cell(1);
        m_big.alignment = pixkey::CTextRenderer::AlignCenter;
        m_big.PrintShadowedText(expected.surface(), (" " + std::to_string(100 - load) + " MB").c_str(), 48, 32);
        for (int y = 0; y < 88; ++y)
            for (int x = 0; x < 96; ++x)
                ASSERT_EQ(face.rgb(x, y), expected.rgb(x, y)) << x << "," << y;
    }

    Face unknown = cell(1);
    m_monitor.drawMemory(*unknown.surface(), {}, std::nullopt);
    EXPECT_TRUE(unknown == plain) << "no memory figures, no figure and no bar";
}

TEST_F(SysmeterFaceTest, LoadGraphSegments)
{
    LoadHistory history{};
    history[0] = {0, 0};
    history[1] = {100, 0};
    history[2] = {59, 30};
    history[31] = {100, 100};
    const Face plain = cell(2);
    Face face = cell(2);
    m_monitor.drawProcessor(*face.surface(), {}, history);

    // Column c is two pixels wide at x = 1 + 3c; segment i covers rows 94 - 3i and 95 - 3i.
    auto segments = [&](int c) {
        std::string colours;
        for (int i = 0; i < 12; ++i) {
            const int x = 1 + 3 * c, y = 95 - 3 * i;
            const std::uint32_t colour = face.rgb(x, y);
            EXPECT_EQ(face.rgb(x + 1, y - 1), colour);
            if (x + 2 < 96) {
                EXPECT_EQ(face.rgb(x + 2, y), plain.rgb(x + 2, y)) << "one pixel between columns";
            }
            EXPECT_EQ(face.rgb(x, y - 2), plain.rgb(x, y - 2)) << "one pixel between segments";
            colours += colour == kUser ? 'u' : colour == kKernel ? 'k' : colour == plain.rgb(x, y) ? '.' : '?';
        }
        return colours;
    };
    EXPECT_EQ(segments(0), "u...........");
    EXPECT_EQ(segments(1), "uuuuuuuuuuu.");
    EXPECT_EQ(segments(2), "kkkuuu......");
    EXPECT_EQ(segments(3), "u...........");
    EXPECT_EQ(segments(31), "kkkkkkkkkku.") << "segment i is the kernel's while i < kernel / 10";
}

TEST_F(SysmeterFaceTest, ProcessorRowsLeaveTheIdleEntryOut)
{
    LoadHistory history{};
    history.back() = {37, 5};
    Face none = cell(2);
    m_monitor.drawProcessor(*none.surface(), {}, history);
    Face idleOnly = cell(2);
    m_monitor.drawProcessor(*idleOnly.surface(), {{"Idle", 6300, 0}}, history);
    EXPECT_TRUE(idleOnly == none);

    Face face = cell(2);
    m_monitor.drawProcessor(*face.surface(),
                            {{"Idle", 6300, 0}, {"a", 2549, 1}, {"b", 2550, 1}, {"c", 10000, 1}, {"d", 0, 1},
                             {"e", 49, 1}, {"f", 50, 1}},
                            history);
    Face expected = cell(2);
    printRows(expected, {{"c", " 100%"}, {"b", " 26%"}, {"a", " 25%"}, {"f", " 1%"}, {"e", " 0%"}});
    Face figureOnly = none;
    // Rows, graph and figure: the expected face is the rows put under what `none` drew on top.
    for (std::size_t i = 0; i < expected.bytes.size(); ++i)
        if (figureOnly.bytes[i] != cell(2).bytes[i])
            expected.bytes[i] = figureOnly.bytes[i];
    EXPECT_TRUE(face == expected);
}

TEST_F(SysmeterFaceTest, ProcessorFigure)
{
    LoadHistory history{};
    history.back() = {7, 0};
    Face face = cell(2);
    m_monitor.drawProcessor(*face.surface(), {}, history);

    Face expected = cell(2);
    m_big.alignment = pixkey::CTextRenderer::AlignRight;
    m_big.PrintShadowedText(expected.surface(), "7", 48, 32);
    m_big.alignment = pixkey::CTextRenderer::AlignLeft;
    m_big.PrintShadowedText(expected.surface(), "%", 49, 32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 96; ++x)
            ASSERT_EQ(face.rgb(x, y), expected.rgb(x, y)) << x << "," << y;
}

TEST_F(SysmeterFaceTest, ShortNames)
{
    EXPECT_EQ(m_monitor.shortName("firefox.bin"), "firefox");
    EXPECT_EQ(m_monitor.shortName("python3.11"), "python3");
    EXPECT_EQ(m_monitor.shortName("a.b.c"), "a.b");
    EXPECT_EQ(m_monitor.shortName(".hidden"), ".hidden") << "a leading dot is no extension";
    EXPECT_EQ(m_monitor.shortName(""), "");

    const std::string longName = "averyveryverylongprocessname";
    const std::string cut = m_monitor.shortName(longName);
    ASSERT_LT(cut.size(), longName.size());
    EXPECT_EQ(longName.compare(0, cut.size(), cut), 0);
    EXPECT_LE(m_list.PrintText(nullptr, cut.c_str(), 0, 0), 70);
    EXPECT_GT(m_list.PrintText(nullptr, longName.substr(0, cut.size() + 1).c_str(), 0, 0), 70);
    // The extension goes first when it comes before the cut, the cut when it comes first.
    EXPECT_EQ(m_monitor.shortName(longName + ".exe"), cut);
}

TEST_F(SysmeterFaceTest, PluginInformation)
{
    for (int kind : {0, 1, 2}) {
        SCOPED_TRACE(kind);
        SysmeterPlugin plugin(kind);
        EXPECT_STREQ(reinterpret_cast<const char *>(plugin.GetInfo(0)), "bsp.sysmon.mfc5");
        EXPECT_STREQ(reinterpret_cast<const char *>(plugin.GetInfo(1)),
                     kind == 1 ? "Free memory" : kind == 2 ? "CPU usage" : "System Monitor");
        EXPECT_EQ(plugin.GetInfo(10), 2);
        EXPECT_EQ(plugin.GetInfo(11), 2000);
        EXPECT_EQ(plugin.GetInfo(12), 2);
        for (int code : {2, 6, 7, 13, 255, 511, -1})
            EXPECT_EQ(plugin.GetInfo(code), 0) << code;
        for (int code : {3, 4, 5})
            EXPECT_GT(std::strlen(reinterpret_cast<const char *>(plugin.GetInfo(code))), 0u) << code;

        for (auto [code, size] : {std::pair{20, 16}, std::pair{21, 32}, std::pair{22, 96}}) {
            auto *image = reinterpret_cast<PkxImage *>(plugin.GetInfo(code));
            ASSERT_NE(image, nullptr) << code;
            EXPECT_EQ(image->width, size);
            EXPECT_EQ(image->height, size);
            pkx_image_free(image);
        }
        // No properties, no dialog.
        char name[PKX_PROPERTY_TEXT_SIZE] = {}, value[PKX_PROPERTY_TEXT_SIZE] = {};
        EXPECT_EQ(plugin.GetProperty(256, name, value), 0);
        EXPECT_EQ(plugin.ShowProperties(nullptr), 0);
    }
    // The processor key has its own icon and preview.
    SysmeterPlugin memory(1), processor(2);
    auto *a = reinterpret_cast<PkxImage *>(memory.GetInfo(21));
    auto *b = reinterpret_cast<PkxImage *>(processor.GetInfo(21));
    EXPECT_NE(std::memcmp(a->pixels, b->pixels, std::size_t(a->stride) * 32), 0);
    pkx_image_free(a);
    pkx_image_free(b);
}

TEST_F(SysmeterFaceTest, PaintBetweenActivationAndDeactivation)
{
    sysmeter_test::FakeProc tree;
    tree.setCpu(100, 10, 100);
    tree.setMemory(4194304, 1048576);
    tree.addProcess({.pid = 42, .comm = "answer", .utime = 1, .stime = 0, .residentPages = 5000, .startTime = 1, .exe = {}});

    for (int kind : {1, 2}) {
        SCOPED_TRACE(kind);
        SysmeterPlugin plugin(kind, tree.root());
        Face face;
        EXPECT_EQ(plugin.Paint(*face.surface()), 1) << "not active yet: a black face";
        EXPECT_EQ(face.rgb(0, 0), 0u);
        EXPECT_EQ(face.rgb(95, 95), 0u);

        EXPECT_EQ(plugin.OnEvent(PKX_EVENT_ACTIVATE), 1);
        ASSERT_NE(plugin.monitor(), nullptr);
        EXPECT_EQ(plugin.Paint(*face.surface()), 1);
        const Face heading = cell(kind);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 96; ++x)
                ASSERT_EQ(face.rgb(x, y), heading.rgb(x, y));
        ASSERT_EQ(plugin.monitor()->sampler().processes().size(), 2u);
        EXPECT_EQ(plugin.monitor()->sampler().processes()[1].name, "answer");
        if (kind == 1) {
            // 75 % of the memory in use: 72 pixels of bar.
            EXPECT_EQ(face.rgb(72, 90), heading.rgb(0, 90));
            EXPECT_NE(face.rgb(73, 90), heading.rgb(0, 90));
        } else {
            EXPECT_EQ(face.rgb(94, 95), kUser) << "the newest load is the last column";
        }
        EXPECT_EQ(plugin.OnEvent(PKX_EVENT_DEACTIVATE), 1);
        EXPECT_EQ(plugin.monitor(), nullptr);
    }
}

TEST_F(SysmeterFaceTest, EachPaintAddsOneLoadToTheHistory)
{
    sysmeter_test::FakeProc tree;
    tree.setCpu(10, 5, 20);
    std::uint64_t now = 1000;
    SysmeterPlugin plugin(2, tree.root(), {1, 100, 4096, [&] { return now; }});
    plugin.OnEvent(PKX_EVENT_ACTIVATE);
    Face face;
    plugin.Paint(*face.surface());
    // One second: 0.6 s idle, 0.1 s of it in the kernel.
    tree.setCpu(40, 15, 80);
    now = 2000;
    plugin.Paint(*face.surface());
    // Same millisecond: the sample is reused and the same load goes in again.
    tree.setCpu(40, 15, 120);
    plugin.Paint(*face.surface());
    const LoadHistory &history = plugin.monitor()->history();
    EXPECT_EQ(history[28].busy, 0);
    EXPECT_EQ(history[29].busy, 0) << "the first sample has nothing to compare with";
    EXPECT_EQ(history[30].busy, 40);
    EXPECT_EQ(history[30].kernel, 10);
    EXPECT_EQ(history[31].busy, 40);
    EXPECT_EQ(history[31].kernel, 10);
}

// A press starts the first system monitor on PATH. The folder holds recorder scripts standing in
// for the programs; each writes its name and arguments to a file.
class SysmeterPressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / ("sysmeter-press-" + std::to_string(getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        m_record = m_dir / "record";
        const char *path = std::getenv("PATH");
        m_oldPath = path ? path : "";
        setenv("PATH", m_dir.c_str(), 1);
    }
    void TearDown() override
    {
        setenv("PATH", m_oldPath.c_str(), 1);
        std::filesystem::remove_all(m_dir);
    }
    void addProgram(const std::string &name)
    {
        const auto script = m_dir / name;
        std::ofstream(script) << "#!/bin/sh\necho \"" << name << " $*\" >> '" << m_record.string() << "'\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    }
    // The first line recorded, waiting for it up to a generous deadline.
    std::string recorded()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(m_record);
            std::string line;
            if (std::getline(in, line))
                return line;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return "<nothing started>";
    }

    std::filesystem::path m_dir, m_record;
    std::string m_oldPath;
};

TEST_F(SysmeterPressTest, OpensTheFirstSystemMonitorFound)
{
    addProgram("lxtask");
    addProgram("ksysguard");
    addProgram("x-terminal-emulator");
    SysmeterPlugin plugin(1);
    plugin.OnKeyDown();
    EXPECT_EQ(recorded(), "ksysguard ");
}

TEST_F(SysmeterPressTest, FallsBackToTopInATerminal)
{
    addProgram("x-terminal-emulator");
    SysmeterPlugin plugin(2);
    plugin.OnKeyDown();
    EXPECT_EQ(recorded(), "x-terminal-emulator -e top");
}

TEST_F(SysmeterPressTest, NothingToStart)
{
    EXPECT_FALSE(sysmeter::openSystemMonitor());
    SysmeterPlugin plugin(2);
    plugin.OnKeyDown(); // nothing happens, nothing breaks
}

} // namespace
