#include "DownloadRun.h"

#include "FileTools.h"
#include "controller/CDefaultLibraryTestAccess.h"

DownloadOutcome runDownload(const QString& url, const QByteArray& proxySettings)
{
    DownloadOutcome outcome;
    CDefaultLibrary library;
    const CDefaultLibraryTestAccess access(library);
    QMap<QByteArray, QByteArray> request{{"url", url.toUtf8()}};
    if (!proxySettings.isEmpty())
        request.insert("proxySettings", proxySettings);
    if (access.downloadIntoTempFile(request)) {
        outcome.fileBytes = FileTools::readFile(access.packageFile().path());
        outcome.passed = access.handleDownloadErrors();
    }
    outcome.code = access.result().code();
    outcome.details = access.result().details();
    outcome.networkErrorCode = access.networkErrorCode();
    return outcome;
}
