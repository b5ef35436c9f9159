// Judgement of a finished download: which recorded error gives which result.

#include <QtTest>

#include "controller/CDefaultLibrary.h"
#include "support/LogFile.h"

class TestDownloadErrors : public QObject
{
    Q_OBJECT

private slots:
    void classifiesErrorNumbers_data();
    void classifiesErrorNumbers();
    void networkErrorWinsOverOversize();
    void oversizedBeatsEmptyFile();
    void nonEmptyFilePasses();
    void networkErrorSlotRecordsLastError();
};

void TestDownloadErrors::classifiesErrorNumbers_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("code");

    const int networkProxy[] = {1, 2, 3, 4, 5, 6, 7, 99, 101, 102, 105, 199, 202};
    const int connection[] = {0, 100, 200, 201, 203, 204, 299, 399, 401, 403, 499};
    for (int error : networkProxy)
        QTest::addRow("%d", error) << error << 45;
    for (int error : connection)
        QTest::addRow("%d", error) << error << 47;
}

void TestDownloadErrors::classifiesErrorNumbers()
{
    QFETCH(int, error);
    QFETCH(int, code);

    CDefaultLibrary library;
    library.m_networkError = true;
    library.m_networkErrorCode = error;
    LogFile log;
    QVERIFY(!library.handleDownloadErrors());
    // Without a reply there is no error text to add.
    QCOMPARE(QString::fromUtf8(library.m_result.serialize()),
             code == 45 ? QStringLiteral("45|network/proxy error occured during downloading|[%1]").arg(error)
                        : QStringLiteral("47|connection error occured during downloading|[%1]").arg(error));
    QVERIFY(log.hasNewLine(code == 45
                               ? QStringLiteral("CDefaultLibrary::handleNetworkProxyErrors :: Network/Proxy error occurred.")
                               : QStringLiteral("CDefaultLibrary::handleConnectionErrors :: Connection error occurred.")));
}

void TestDownloadErrors::networkErrorWinsOverOversize()
{
    CDefaultLibrary library;
    library.m_networkError = true;
    library.m_networkErrorCode = 203;
    library.m_fileOversized = true;
    QVERIFY(!library.handleDownloadErrors());
    QCOMPARE(library.m_result.code(), 47);
}

void TestDownloadErrors::oversizedBeatsEmptyFile()
{
    CDefaultLibrary library;
    QVERIFY(library.m_tempFile.open());
    library.m_tempFile.close();
    library.m_fileOversized = true;
    LogFile log;
    QVERIFY(!library.handleDownloadErrors());
    QCOMPARE(library.m_result.serialize(), QByteArray("48|file is oversized|file is oversized, downloading was aborted"));
    QVERIFY(log.hasNewLine(QStringLiteral("CDefaultLibrary::handleFileIsOversizedError :: File is oversized error occurred.")));

    CDefaultLibrary empty;
    QVERIFY(empty.m_tempFile.open());
    empty.m_tempFile.close();
    QVERIFY(!empty.handleDownloadErrors());
    QCOMPARE(empty.m_result.serialize(), QByteArray("41|file system error|insufficient permission for file operations"));
}

void TestDownloadErrors::nonEmptyFilePasses()
{
    CDefaultLibrary library;
    const QByteArray before = library.m_result.serialize();
    QVERIFY(library.m_tempFile.open());
    library.m_tempFile.write("not a package at all");
    library.m_tempFile.close();
    QVERIFY(library.handleDownloadErrors());
    QCOMPARE(library.m_result.serialize(), before);
}

void TestDownloadErrors::networkErrorSlotRecordsLastError()
{
    CDefaultLibrary library;
    LogFile log;
    library.handleNetworkError(QNetworkReply::HostNotFoundError);
    library.handleNetworkError(QNetworkReply::ContentNotFoundError);
    QVERIFY(library.m_networkError);
    QCOMPARE(library.m_networkErrorCode, 203);
    QVERIFY(log.hasNewLine(QStringLiteral("CDefaultLibrary::handleNetworkError :: Connection error occurred: [3][")));
    QVERIFY(!library.handleDownloadErrors());
    QCOMPARE(library.m_result.code(), 47);
}

QTEST_MAIN(TestDownloadErrors)
#include "tst_downloaderrors.moc"
