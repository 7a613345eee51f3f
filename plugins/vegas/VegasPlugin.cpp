// The two exports of Vegas.pkx: every object Create makes is a reel.
#include "VegasReel.h"

PKX_DEFINE_EXPORTS(vegas::VegasReel)
