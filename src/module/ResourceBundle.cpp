#include "ResourceBundle.h"

#include <QResource>

// Generated at build time from resources/updater/updater.qrc.
extern const unsigned char updaterResourceData[];

bool ResourceBundle::registerBundle()
{
    static const bool registered = QResource::registerResource(updaterResourceData);
    return registered;
}
