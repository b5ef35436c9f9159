// Installing unpacked files over the current directory, with rollback.

#include "controller/CDefaultLibrary.h"

bool CDefaultLibrary::replaceFiles(QDir, QStringList)
{
    return false;
}

QStringList CDefaultLibrary::removeDirsFromList(QStringList paths)
{
    return paths;
}

bool CDefaultLibrary::addOldSuffixToFilesName(QStringList, QString)
{
    return false;
}

bool CDefaultLibrary::copyNewFiles(QDir, QStringList)
{
    return false;
}

bool CDefaultLibrary::revertOldFiles(QStringList, QString)
{
    return false;
}

void CDefaultLibrary::tryRemoveAllOldFiles()
{
}

QStringList CDefaultLibrary::createListOfOldFilesInDirectoryRecursive(QDir)
{
    return QStringList();
}
