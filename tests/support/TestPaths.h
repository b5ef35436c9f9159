#ifndef TESTPATHS_H
#define TESTPATHS_H

#include <QString>

// Locations the tests use.
namespace TestPaths {

// The built libupdater.so.
inline QString libraryPath()
{
    return QStringLiteral(UPDATER_LIBRARY_PATH);
}

// The test build of the library, with its fault-injection points.
inline QString faultLibraryPath()
{
    return QStringLiteral(UPDATER_FAULT_LIBRARY_PATH);
}

inline QString sourceDir()
{
    return QStringLiteral(UPDATER_SOURCE_DIR);
}

inline QString binaryDir()
{
    return QStringLiteral(UPDATER_BINARY_DIR);
}

// The files compiled into the resource bundle, as gathered in the build tree.
inline QString bundleDir()
{
    return QStringLiteral(UPDATER_BUNDLE_DIR);
}

} // namespace TestPaths

#endif
