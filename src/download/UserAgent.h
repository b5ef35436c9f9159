#ifndef USERAGENT_H
#define USERAGENT_H

#include <QByteArray>

#include <updater/version.h>

// What the module calls itself towards servers and proxies, so that their
// operators can tell its requests apart: "updater/<version>".
inline QByteArray userAgent()
{
    return QByteArrayLiteral("updater/" UPDATER_VERSION);
}

#endif
