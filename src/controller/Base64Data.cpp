#include "Base64Data.h"

#include <algorithm>

namespace {

// The text without the white space that wrapped Base64 carries.
QByteArray withoutWhiteSpace(const QByteArray& text)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    if (std::none_of(text.cbegin(), text.cend(), isSpace))
        return text;
    QByteArray compact;
    compact.reserve(text.size());
    for (const char c : text) {
        if (!isSpace(c))
            compact.append(c);
    }
    return compact;
}

// Qt's strict decoding takes a lone character after the last full group of
// four as nothing; such a text is not Base64.
bool hasWholeBytes(const QByteArray& text)
{
    int length = text.size();
    while (length > 0 && text.at(length - 1) == '=')
        --length;
    return length % 4 != 1;
}

} // namespace

Base64Data::Base64Data(const QByteArray& bytes, Alphabet alphabet)
    : m_bytes(bytes)
    , m_alphabet(alphabet)
{
}

Base64Data Base64Data::decode(const QByteArray& text)
{
    const QByteArray compact = withoutWhiteSpace(text);
    if (hasWholeBytes(compact)) {
        // A text of the characters both alphabets share decodes the same
        // either way; "-" or "_" make it URL-safe, "+" or "/" standard.
        const QByteArray::Base64Options strict = QByteArray::AbortOnBase64DecodingErrors;
        QByteArray::FromBase64Result urlSafe =
            QByteArray::fromBase64Encoding(compact, QByteArray::Base64UrlEncoding | strict);
        if (urlSafe)
            return Base64Data(urlSafe.decoded, UrlSafe);
        QByteArray::FromBase64Result standard =
            QByteArray::fromBase64Encoding(compact, QByteArray::Base64Encoding | strict);
        if (standard)
            return Base64Data(standard.decoded, Standard);
    }
    return Base64Data(QByteArray::fromBase64(text, QByteArray::Base64UrlEncoding), NotBase64);
}
