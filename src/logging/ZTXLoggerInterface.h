#ifndef ZTXLOGGERINTERFACE_H
#define ZTXLOGGERINTERFACE_H

// Common base of the module's loggers.
class ZTXLoggerInterface
{
};

#endif
