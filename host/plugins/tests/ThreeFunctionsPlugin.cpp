// A test plug-in with three functions; each function object answers its own name.
#include "pixkey_plugin.hpp"

namespace {

class Three : public pkx::Plugin<Three> {
public:
    Three(const PkxModule *, int function) : m_function(function) {}

    intptr_t GetInfo(int code)
    {
        static const char *const names[] = {"Library", "First", "Second", "Third"};
        if (code == PKX_INFO_FUNCTION_COUNT)
            return 3;
        if (code == PKX_INFO_NAME && m_function >= 0 && m_function <= 3)
            return reinterpret_cast<intptr_t>(names[m_function]);
        return 0;
    }

private:
    int m_function;
};

} // namespace

PKX_DEFINE_EXPORTS(Three)
