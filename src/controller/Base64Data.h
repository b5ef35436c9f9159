#ifndef BASE64DATA_H
#define BASE64DATA_H

#include <QByteArray>

// The package that a host passes in the request of UpdateFromData, decoded
// from Base64. Hosts write either alphabet: the URL-safe one ("-", "_") or
// the standard one ("+", "/"), with or without "=" padding, possibly broken
// into lines. A text that is Base64 in neither alphabet is decoded as it
// always was (URL-safe, skipping what does not belong), and says so.
//
// The text is looked through once when the object is made, to choose the
// alphabet and count the bytes; the bytes are then decoded piece by piece
// with read(), so that the package never has to be held whole.
class Base64Data
{
public:
    enum Alphabet {
        UrlSafe,
        Standard,
        NotBase64,
    };

    // The text is shared, not copied; it must not change while this lives.
    explicit Base64Data(const QByteArray& text);
    static Base64Data decode(const QByteArray& text) { return Base64Data(text); }

    Alphabet alphabet() const { return m_alphabet; }
    // Number of bytes the text decodes to.
    qint64 size() const { return m_size; }

    // Decodes the next bytes into buffer, at most capacity of them; 0 once
    // all have been read.
    int read(char* buffer, int capacity);
    // All the bytes at once, from the start whatever read() has taken.
    QByteArray bytes() const;

private:
    QByteArray m_text;
    Alphabet m_alphabet;
    qint64 m_size;
    // Where read() goes on: the next character, and the bits decoded from
    // those before it that do not make a whole byte yet.
    qint64 m_position;
    quint32 m_bits;
    int m_bitCount;
};

#endif
