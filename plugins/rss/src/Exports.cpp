// The two exports of RSS.pkx.
#include "RssPlugin.hpp"

PKX_DEFINE_EXPORTS(pixkey::rss::RssPlugin)
