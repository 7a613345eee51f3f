#include <pixkey/test/EmulatedKeypad.h>

#include <cstdlib>
#include <filesystem>

namespace pixkey::test {

EmulatedKeypad::EmulatedKeypad(std::string linkName, std::string folder) : m_folder(std::move(folder))
{
    if (m_folder.empty()) {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/pixkey-keypad-XXXXXX";
        if (::mkdtemp(pattern.data())) {
            m_folder = pattern;
            m_ownsFolder = true;
        }
    }
    m_linkPath = m_folder + "/" + linkName;
    m_emulator = std::make_unique<KeypadEmulator>(m_linkPath);
}

EmulatedKeypad::~EmulatedKeypad()
{
    m_emulator.reset();
    if (m_ownsFolder) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
}

::testing::AssertionResult EmulatedKeypad::start()
{
    if (m_folder.empty())
        return ::testing::AssertionFailure() << "no temporary folder for the keypad's link";
    std::string error;
    if (!m_emulator->start(&error))
        return ::testing::AssertionFailure() << "the keypad emulator did not start at " << m_linkPath << ": " << error;
    return ::testing::AssertionSuccess();
}

EmulatedKeypad::Rgb EmulatedKeypad::shown(int key, int x, int y) const
{
    const std::vector<uint8_t> rgb = m_emulator->shownFrameRgb(key);
    const std::size_t at = (std::size_t(y) * KeypadEmulator::kFaceSize + std::size_t(x)) * 3;
    if (x < 0 || y < 0 || x >= KeypadEmulator::kFaceSize || y >= KeypadEmulator::kFaceSize || rgb.size() < at + 3)
        return {};
    return {rgb[at], rgb[at + 1], rgb[at + 2]};
}

bool EmulatedKeypad::waitForShown(int key, const std::function<bool(Rgb)> &test, std::chrono::milliseconds deadline,
                                  int x, int y) const
{
    return m_emulator->waitUntil([&] { return test(shown(key, x, y)); }, deadline);
}

EmulatedKeypad::PortVariable::PortVariable(const std::string &path)
{
    if (const char *previous = std::getenv("PIXKEY_PORT"))
        m_previous = previous;
    ::setenv("PIXKEY_PORT", path.c_str(), 1);
}

EmulatedKeypad::PortVariable::~PortVariable()
{
    if (m_previous)
        ::setenv("PIXKEY_PORT", m_previous->c_str(), 1);
    else
        ::unsetenv("PIXKEY_PORT");
}

std::unique_ptr<EmulatedKeypad::PortVariable> EmulatedKeypad::portVariable() const
{
    return std::make_unique<PortVariable>(m_linkPath);
}

} // namespace pixkey::test
