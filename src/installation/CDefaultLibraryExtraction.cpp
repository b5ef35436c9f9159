// Unpacking a verified package below "UPDATES".

#include "controller/CDefaultLibrary.h"

bool CDefaultLibrary::replaceFileByUpdateType()
{
    return false;
}
