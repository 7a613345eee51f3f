// The two exports of Clock.pkx.
#include "ClockPlugin.hpp"

PKX_DEFINE_EXPORTS(pixkey::clock::ClockPlugin)
