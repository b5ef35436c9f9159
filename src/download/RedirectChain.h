#ifndef REDIRECTCHAIN_H
#define REDIRECTCHAIN_H

#include <QSet>
#include <QString>
#include <QUrl>

// The redirects of one download, followed one answer at a time. A redirect
// (301, 302, 303, 307 or 308 with a Location) is followed when its target is
// https, was not visited before in this download, and is at most the
// MaxHops-th redirect. Anything else in the 3xx range ends the download: the
// answer is not the package, and its body is never used.
//
// A refusal gives the network error number it is judged by (as Qt numbers
// its own redirect errors) and a text for the result's details.
class RedirectChain
{
public:
    static constexpr int MaxHops = 10;
    // Qt's numbers for these failures (QNetworkReply::NetworkError): the
    // server's answer, not the network, is at fault.
    static constexpr int TooManyRedirects = 10;
    static constexpr int InsecureRedirect = 11;
    static constexpr int NotAPackage = 299;

    explicit RedirectChain(const QUrl& start);

    // Status codes of answers that are redirects; other 3xx answers are not
    // followed.
    static bool isRedirectStatus(int status);
    static bool is3xx(int status);

    // The answer of `from`: its status and its Location (as sent, possibly
    // relative; empty when it has none). True when the redirect is to be
    // followed, to target().
    bool follow(const QUrl& from, int status, const QUrl& location);

    QUrl target() const { return m_target; }
    // The redirects followed so far, or the number of the refused one.
    int hops() const { return m_hops; }
    int errorCode() const { return m_errorCode; }
    QString errorString() const { return m_errorText; }

private:
    bool refuse(int code, const QString& text);
    static QString key(const QUrl& url);

    QSet<QString> m_visited;
    QUrl m_target;
    int m_hops = 0;
    int m_errorCode = 0;
    QString m_errorText;
};

#endif
