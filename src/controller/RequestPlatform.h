#ifndef REQUESTPLATFORM_H
#define REQUESTPLATFORM_H

#include <QString>

namespace RequestPlatform {

// The log text naming the platform the module was built for.
QString detectedPlatformText();

} // namespace RequestPlatform

#endif
