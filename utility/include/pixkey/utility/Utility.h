// Utility.h: everything the Utility library offers plug-ins, in one include.
#pragma once

#include "CFileImage.h"
#include "CHotkey.h"
#include "CLocalizableTextRenderer.h"
#include "CTextRenderer.h"
#include "CTrueTime.h"
#include "CWebFile.h"
#include "CWebImage.h"
#include "DesktopOpener.h"
#include "FocusedWindow.h"
#include "Regex.h"
#include "RgbQuad.h"
