// The helper window programs pxkhk_test_window_a and pxkhk_test_window_b (TestWindow.cpp), built
// beside the test programs, as services a test starts: each prints its window id as its first
// line of output (read it with readLine()) and ends when its stdin closes, which stop() does first.
#pragma once

#include <pixkey/test/ServiceProcess.h>

#include <filesystem>
#include <string>

namespace pixkey::test {

// `which` is "a" or "b"; `title` becomes the window's name.
inline ServiceProcess::Options testWindow(const std::string &which, const std::string &title)
{
    ServiceProcess::Options options;
    options.program = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/pxkhk_test_window_" + which;
    options.arguments = {title};
    options.pipeInput = true;
    return options;
}

} // namespace pixkey::test
