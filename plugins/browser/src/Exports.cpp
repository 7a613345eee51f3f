// Browser.pkx's two exports.
#include "BrowserPlugin.h"

PKX_DEFINE_EXPORTS(browser::BrowserPlugin)
