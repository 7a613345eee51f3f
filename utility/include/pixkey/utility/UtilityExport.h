// UtilityExport.h: symbol visibility of the Utility shared library.
//
// The library is built with hidden visibility; only what carries PIXKEY_UTILITY_EXPORT is part of
// its binary interface.
//
// Thread tags used in the library's headers:
//   [any-thread]    any thread, also several at once on different objects.
//   [main-thread]   the thread that runs the QGuiApplication (dialogs, hotkey capture).
// One object is used by one thread at a time unless its header says otherwise.
#pragma once

#define PIXKEY_UTILITY_EXPORT __attribute__((visibility("default")))
