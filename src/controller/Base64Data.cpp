#include "Base64Data.h"

#include <array>

// Qt's strict Base64 decoding (QByteArray::fromBase64Encoding with
// AbortOnBase64DecodingErrors) accepts a text exactly when each character
// belongs to the alphabet, except for one "=" at the very end or two, and
// then only in a text whose length is a multiple of four. Either way it
// decodes the characters of the alphabet and nothing else, as the lenient
// decoding does; so the text's characters are counted once, which decides
// the alphabet and the size, and the decoding itself skips whatever is not
// in the alphabet chosen. What this gives is what Qt's two-step decoding of
// the text gave before: the same alphabet and the same bytes.

namespace {

// Classes of characters, for the count.
enum CharacterClass : unsigned char {
    Shared, // in both alphabets
    UrlOnly, // "-", "_"
    StandardOnly, // "+", "/"
    Padding, // "="
    WhiteSpace, // what wrapped Base64 carries: blank, tab, line ends
    Other,
    ClassCount,
};

constexpr std::array<unsigned char, 256> classTable()
{
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c) {
        unsigned char cls = Other;
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            cls = Shared;
        else if (c == '-' || c == '_')
            cls = UrlOnly;
        else if (c == '+' || c == '/')
            cls = StandardOnly;
        else if (c == '=')
            cls = Padding;
        else if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            cls = WhiteSpace;
        table[size_t(c)] = cls;
    }
    return table;
}

// The six bits a character stands for, or -1 for one outside the alphabet.
constexpr std::array<signed char, 256> valueTable(bool urlSafe)
{
    std::array<signed char, 256> table{};
    for (int c = 0; c < 256; ++c) {
        int value = -1;
        if (c >= 'A' && c <= 'Z')
            value = c - 'A';
        else if (c >= 'a' && c <= 'z')
            value = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            value = c - '0' + 52;
        else if (c == (urlSafe ? '-' : '+'))
            value = 62;
        else if (c == (urlSafe ? '_' : '/'))
            value = 63;
        table[size_t(c)] = static_cast<signed char>(value);
    }
    return table;
}

constexpr std::array<unsigned char, 256> kClasses = classTable();

// Counting: each class has a field of CountBits bits in a 64-bit sum, and a
// character adds one to its class's field.
constexpr int CountBits = 10;
constexpr quint64 CountMask = (quint64(1) << CountBits) - 1;
constexpr qint64 CountBlock = qint64(CountMask);
static_assert(CountBits * ClassCount <= 64, "the fields must fit");

constexpr std::array<quint64, 256> countStepTable()
{
    std::array<quint64, 256> table{};
    for (size_t c = 0; c < 256; ++c)
        table[c] = quint64(1) << (classTable()[c] * CountBits);
    return table;
}

constexpr std::array<quint64, 256> kCountSteps = countStepTable();
constexpr std::array<signed char, 256> kUrlSafeValues = valueTable(true);
constexpr std::array<signed char, 256> kStandardValues = valueTable(false);

} // namespace

Base64Data::Base64Data(const QByteArray& text)
    : m_text(text)
    , m_alphabet(NotBase64)
    , m_size(0)
    , m_position(0)
    , m_bits(0)
    , m_bitCount(0)
{
    const auto* characters = reinterpret_cast<const unsigned char*>(m_text.constData());
    const qint64 length = m_text.size();
    qint64 counts[ClassCount] = {};
    // The classes are counted in fields of CountBits bits of two running
    // sums, which take turns, each emptied into counts before it can
    // overflow: a sum per character and no branch.
    for (qint64 block = 0; block < length; block += CountBlock) {
        const qint64 blockEnd = qMin(length, block + CountBlock);
        quint64 sums[2] = {0, 0};
        qint64 i = block;
        for (; i + 1 < blockEnd; i += 2) {
            sums[0] += kCountSteps[characters[i]];
            sums[1] += kCountSteps[characters[i + 1]];
        }
        if (i < blockEnd)
            sums[0] += kCountSteps[characters[i]];
        const quint64 sum = sums[0] + sums[1];
        for (int cls = 0; cls < ClassCount; ++cls)
            counts[cls] += qint64(sum >> (cls * CountBits) & CountMask);
    }

    const qint64 compact = length - counts[WhiteSpace];
    const qint64 padding = counts[Padding];
    // No "=", or one or two that end a text of whole groups of four.
    bool paddingAccepted = padding == 0;
    if (padding <= 2 && padding > 0 && compact % 4 == 0) {
        qint64 atEnd = 0;
        for (qint64 i = length - 1; i >= 0 && atEnd < padding; --i) {
            const unsigned char cls = kClasses[characters[i]];
            if (cls == WhiteSpace)
                continue;
            if (cls != Padding)
                break;
            ++atEnd;
        }
        paddingAccepted = atEnd == padding;
    }
    // A lone character after the last whole group of four stands for no
    // byte: such a text is not Base64.
    const bool wholeBytes = (compact - padding) % 4 != 1;
    if (paddingAccepted && wholeBytes && counts[Other] == 0) {
        // A text of the characters both alphabets share decodes the same
        // either way; "-" or "_" make it URL-safe, "+" or "/" standard.
        if (counts[StandardOnly] == 0)
            m_alphabet = UrlSafe;
        else if (counts[UrlOnly] == 0)
            m_alphabet = Standard;
    }
    const qint64 characterCount = counts[Shared] + (m_alphabet == Standard ? counts[StandardOnly] : counts[UrlOnly]);
    m_size = characterCount * 6 / 8;
}

int Base64Data::read(char* buffer, int capacity)
{
    const signed char* values = m_alphabet == Standard ? kStandardValues.data() : kUrlSafeValues.data();
    const auto* characters = reinterpret_cast<const unsigned char*>(m_text.constData());
    const qint64 length = m_text.size();
    qint64 at = m_position;
    quint32 bits = m_bits;
    int bitCount = m_bitCount;
    int written = 0;
    while (at < length && written < capacity) {
        // Four characters of the alphabet in a row make three bytes.
        if (bitCount == 0 && length - at >= 4 && capacity - written >= 3) {
            const int a = values[characters[at]];
            const int b = values[characters[at + 1]];
            const int c = values[characters[at + 2]];
            const int d = values[characters[at + 3]];
            if ((a | b | c | d) >= 0) {
                const quint32 group = quint32(a) << 18 | quint32(b) << 12 | quint32(c) << 6 | quint32(d);
                buffer[written] = char(group >> 16);
                buffer[written + 1] = char(group >> 8);
                buffer[written + 2] = char(group);
                written += 3;
                at += 4;
                continue;
            }
        }
        const int value = values[characters[at++]];
        if (value < 0)
            continue;
        bits = bits << 6 | quint32(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            buffer[written++] = char(bits >> bitCount);
            bits &= (1u << bitCount) - 1;
        }
    }
    m_position = at;
    m_bits = bits;
    m_bitCount = bitCount;
    return written;
}

QByteArray Base64Data::bytes() const
{
    Base64Data fromStart(*this);
    fromStart.m_position = 0;
    fromStart.m_bits = 0;
    fromStart.m_bitCount = 0;
    QByteArray all(int(m_size), Qt::Uninitialized);
    const int read = fromStart.read(all.data(), all.size());
    all.truncate(read);
    return all;
}
