#include "RequestPlatform.h"

QString RequestPlatform::detectedPlatformText()
{
    return QStringLiteral("Detected Linux %1-bit.").arg(QT_POINTER_SIZE * 8);
}
