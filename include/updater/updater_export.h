#ifndef UPDATER_EXPORT_H
#define UPDATER_EXPORT_H

// Symbols a host may use from the library carry UPDATER_EXPORT; everything
// else is built with hidden visibility.
#if defined(_WIN32)
#  if defined(UPDATER_BUILDING_LIBRARY)
#    define UPDATER_EXPORT __declspec(dllexport)
#  else
#    define UPDATER_EXPORT __declspec(dllimport)
#  endif
#else
#  define UPDATER_EXPORT __attribute__((visibility("default")))
#endif

#endif
