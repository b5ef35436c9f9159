#ifndef BASE64DATA_H
#define BASE64DATA_H

#include <QByteArray>

// The package that a host passes in the request of UpdateFromData, decoded
// from Base64. Hosts write either alphabet: the URL-safe one ("-", "_") or
// the standard one ("+", "/"), with or without "=" padding, possibly broken
// into lines. A text that is Base64 in neither alphabet is decoded as it
// always was (URL-safe, skipping what does not belong), and says so.
class Base64Data
{
public:
    enum Alphabet {
        UrlSafe,
        Standard,
        NotBase64,
    };

    static Base64Data decode(const QByteArray& text);

    QByteArray bytes() const { return m_bytes; }
    Alphabet alphabet() const { return m_alphabet; }

private:
    Base64Data(const QByteArray& bytes, Alphabet alphabet);

    QByteArray m_bytes;
    Alphabet m_alphabet;
};

#endif
