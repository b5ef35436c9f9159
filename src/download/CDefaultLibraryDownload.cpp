// HTTPS download of the package into the temporary file.

#include "controller/CDefaultLibrary.h"

void CDefaultLibrary::downloadFile(QByteArray)
{
    // Not built yet: the temporary file stays empty, which ends the update
    // with a file system error.
}

void CDefaultLibrary::saveDataFromReplyToFile()
{
}

void CDefaultLibrary::logReplyStatusCode()
{
}

void CDefaultLibrary::checkContentLengthHeaderSize()
{
}
