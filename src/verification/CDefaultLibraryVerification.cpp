// Signature check of the downloaded package.

#include "controller/CDefaultLibrary.h"

#include "module/ResultTexts.h"

bool CDefaultLibrary::verifyDownloadedFile()
{
    // Nothing is accepted until the signature check exists.
    m_result = ResultTexts::verificationError();
    return false;
}
