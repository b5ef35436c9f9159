// Reading the download URL and the language from the host's request and
// context.

#include <QtTest>

#include "controller/CDefaultLibraryTestAccess.h"
#include "module/ResultTexts.h"
#include "support/LogFile.h"

using Request = QMap<QByteArray, QByteArray>;
using Context = QMap<QByteArray, QVariant>;

class TestRequest : public QObject
{
    Q_OBJECT

private slots:
    void choosesAndChecksUrl_data();
    void choosesAndChecksUrl();
    void languageSuffix_data();
    void languageSuffix();
};

void TestRequest::choosesAndChecksUrl_data()
{
    QTest::addColumn<Request>("request");
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("warning");

    const QByteArray a("https://a.example/p.ztx");
    const QByteArray b("https://b.example/p.ztx");
    const QByteArray c("https://c.example/p.ztx");
    QTest::newRow("url_win32 first") << Request{{"url_win32", a}, {"url_win", b}, {"url", c}} << a << true << QString();
    QTest::newRow("url_win next") << Request{{"url_win32", ""}, {"url_win", b}, {"url", c}} << b << true << QString();
    QTest::newRow("url last") << Request{{"url", c}} << c << true << QString();
    QTest::newRow("plain http wins by emptiness")
        << Request{{"url_win32", "http://a.example/p"}, {"url_win", b}} << QByteArray("http://a.example/p") << false
        << "CDefaultLibrary::verifyDownloadFileUrl :: Invalid download url 'http://a.example/p'";
    QTest::newRow("capital scheme") << Request{{"url", "HTTPS://c.example/p"}} << QByteArray("HTTPS://c.example/p")
                                    << false << "Invalid download url 'HTTPS://c.example/p'";
    QTest::newRow("empty request") << Request() << QByteArray() << false
                                   << "CDefaultLibrary::verifyDownloadFileUrl :: Insufficient parameters - download url.";
    QTest::newRow("keys are case-sensitive") << Request{{"URL", c}} << QByteArray() << false
                                             << "Insufficient parameters - download url.";
    QTest::newRow("a NUL inside") << Request{{"url", QByteArray("https://h/a\0.evil/p", 19)}}
                                  << QByteArray("https://h/a\0.evil/p", 19) << false
                                  << "Invalid download url 'https://h/a%00.evil/p'";
    QTest::newRow("a line break inside") << Request{{"url", "https://h/p\nWARN  - forged"}}
                                         << QByteArray("https://h/p\nWARN  - forged") << false
                                         << "Invalid download url 'https://h/p%0AWARN%20%20-%20forged'";
    QTest::newRow("bytes kept as they are") << Request{{"url", "https://h/a b%zz?q=\xC5\xBC"}}
                                            << QByteArray("https://h/a b%zz?q=\xC5\xBC") << true << QString();
}

void TestRequest::choosesAndChecksUrl()
{
    QFETCH(Request, request);
    QFETCH(QByteArray, url);
    QFETCH(bool, accepted);
    QFETCH(QString, warning);

    CDefaultLibrary library;
    const CDefaultLibraryTestAccess access(library);
    LogFile log;
    access.setUpdateParametersFromRequest(request);
    QCOMPARE(access.downloadFileUrl(), url);
    QVERIFY(log.hasNewLine(QStringLiteral("CDefaultLibrary::setUpdateParametersFromRequestForWindows :: Detected ")));
    QVERIFY(log.hasNewLine(QStringLiteral("CDefaultLibrary::setUpdateParametersFromRequest :: m_downloadFileUrl=")));

    const QByteArray before = access.result().serialize();
    QCOMPARE(access.verifyDownloadFileUrl(), accepted);
    if (accepted) {
        QCOMPARE(access.result().serialize(), before);
    } else {
        QCOMPARE(access.result().serialize(), ResultTexts::insufficientParameters().serialize());
        QVERIFY2(log.hasNewLine(warning), qPrintable(log.newText()));
    }
}

void TestRequest::languageSuffix_data()
{
    QTest::addColumn<Context>("context");
    QTest::addColumn<QString>("suffix");

    QTest::newRow("integer 0") << Context{{"languageId", 0}} << "pl";
    QTest::newRow("integer 1") << Context{{"languageId", 1}} << "en";
    QTest::newRow("text 2") << Context{{"languageId", QStringLiteral("2")}} << "hr";
    QTest::newRow("integer 7") << Context{{"languageId", 7}} << "";
    QTest::newRow("missing") << Context() << "";
    QTest::newRow("text with space") << Context{{"languageId", QStringLiteral(" 1")}} << "";
}

void TestRequest::languageSuffix()
{
    QFETCH(Context, context);
    QFETCH(QString, suffix);

    CDefaultLibrary library;
    LogFile log;
    QCOMPARE(CDefaultLibraryTestAccess(library).getLanguageSuffix(context), suffix);
    QVERIFY(log.newText().contains(QStringLiteral("CDefaultLibrary::getLanguageSuffix :: oLanguageSuffix=%1\n").arg(suffix)));
}

QTEST_MAIN(TestRequest)
#include "tst_request.moc"
