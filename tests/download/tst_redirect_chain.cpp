// The redirect chain on its own: which answers are followed, where to, and
// the error each refusal is judged by.

#include <QtTest>

#include "download/RedirectChain.h"

class TestRedirectChain : public QObject
{
    Q_OBJECT

private slots:
    void follow_data();
    void follow();
    void eleventhRedirectIsRefused();
};

void TestRedirectChain::follow_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("target"); // empty: refused
    QTest::addColumn<int>("errorCode");
    const int notAPackage = RedirectChain::NotAPackage;
    const int insecure = RedirectChain::InsecureRedirect;
    const int tooMany = RedirectChain::TooManyRedirects;
    for (const int status : {301, 302, 303, 307, 308})
        QTest::newRow(qPrintable(QString::number(status)))
            << status << "https://b.example/p.ztx" << "https://b.example/p.ztx" << 0;
    QTest::newRow("relative") << 302 << "../other/p.ztx" << "https://a.example/other/p.ztx" << 0;
    QTest::newRow("another port") << 307 << "https://a.example:8443/p.ztx" << "https://a.example:8443/p.ztx" << 0;
    QTest::newRow("without a location") << 302 << "" << "" << notAPackage;
    QTest::newRow("300") << 300 << "https://b.example/p.ztx" << "" << notAPackage;
    QTest::newRow("304") << 304 << "https://b.example/p.ztx" << "" << notAPackage;
    QTest::newRow("to http") << 301 << "http://b.example/p.ztx" << "" << insecure;
    QTest::newRow("to ftp") << 302 << "ftp://b.example/p.ztx" << "" << insecure;
    QTest::newRow("without a host") << 302 << "https:///p.ztx" << "" << insecure;
    QTest::newRow("back to the start") << 302 << "https://a.example/dir/p.ztx" << "" << tooMany;
    QTest::newRow("to the start, another fragment") << 302 << "https://a.example/dir/p.ztx#x" << "" << tooMany;
    QTest::newRow("to the start, spelt with dots") << 302 << "https://a.example/dir/./p.ztx" << "" << tooMany;
}

void TestRedirectChain::follow()
{
    QFETCH(int, status);
    QFETCH(QString, location);
    QFETCH(QString, target);
    QFETCH(int, errorCode);
    const QUrl start(QStringLiteral("https://a.example/dir/p.ztx"));
    RedirectChain chain(start);
    QCOMPARE(chain.follow(start, status, QUrl(location)), !target.isEmpty());
    QCOMPARE(chain.hops(), 1);
    QCOMPARE(chain.errorCode(), errorCode);
    if (target.isEmpty())
        QVERIFY(!chain.errorString().isEmpty());
    else
        QCOMPARE(chain.target(), QUrl(target));
}

void TestRedirectChain::eleventhRedirectIsRefused()
{
    QUrl from(QStringLiteral("https://a.example/0"));
    RedirectChain chain(from);
    for (int hop = 1; hop <= RedirectChain::MaxHops; ++hop) {
        QVERIFY(chain.follow(from, 302, QUrl(QStringLiteral("/%1").arg(hop))));
        from = chain.target();
    }
    QVERIFY(!chain.follow(from, 302, QUrl(QStringLiteral("/next"))));
    QCOMPARE(chain.errorCode(), int(RedirectChain::TooManyRedirects));
    QCOMPARE(chain.hops(), RedirectChain::MaxHops + 1);
}

QTEST_GUILESS_MAIN(TestRedirectChain)
#include "tst_redirect_chain.moc"
