#include "SignatureTrailer.h"

#include <QtEndian>

QByteArray SignatureTrailer::encode(const QByteArray& signature)
{
    Q_ASSERT(signature.size() <= MaxSignatureSize);
    QByteArray trailer;
    trailer.reserve(int(FixedLength) + signature.size());
    trailer += encodeSize(signature.size());
    trailer += signature;
    trailer += encodeSize(qint64(signature.size()) + SizeFieldLength);
    trailer += EndOfSignatureMarker;
    return trailer;
}

qint64 SignatureTrailer::decodeSize(const char* bytes)
{
    return qFromLittleEndian<qint64>(bytes);
}

QByteArray SignatureTrailer::encodeSize(qint64 value)
{
    QByteArray bytes(SizeFieldLength, '\0');
    qToLittleEndian<qint64>(value, bytes.data());
    return bytes;
}
