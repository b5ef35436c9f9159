#ifndef DOWNLOADRUN_H
#define DOWNLOADRUN_H

#include <QByteArray>
#include <QString>

// What one download left behind, as the update flow would judge it.
struct DownloadOutcome {
    bool passed = false;
    int code = -1;
    QString details;
    int networkErrorCode = 0;
    QByteArray fileBytes;
};

// One download as the Update flow runs it: open the temporary file,
// download, close, judge.
DownloadOutcome runDownload(const QString& url, const QByteArray& proxySettings = QByteArray());

#endif
