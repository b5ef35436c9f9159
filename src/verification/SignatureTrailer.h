#ifndef SIGNATURETRAILER_H
#define SIGNATURETRAILER_H

#include <QByteArray>
#include <QtGlobal>

// Layout of the signature trailer that follows the module data of a signed
// module file:
//
//   iSignatureSize (8) | signature (S) | iExtraDataSize = S + 8 (8) | 0xFF
//
// Both size fields are signed 64-bit little-endian numbers. The reader
// (ModuleReader) and the publisher's tool (ztx) both go through this class,
// so the two cannot disagree about the format.
class SignatureTrailer
{
public:
    // Length of each size field.
    static constexpr int SizeFieldLength = 8;
    // Length of the end-of-signature marker.
    static constexpr int MarkerLength = 1;
    static constexpr char EndOfSignatureMarker = '\xFF';
    // Largest iExtraDataSize accepted: the iSignatureSize field plus a
    // signature of up to 256 bytes (RSA-2048).
    static constexpr qint64 MaxExtraDataSize = 264;
    static constexpr qint64 MaxSignatureSize = MaxExtraDataSize - SizeFieldLength;
    // Trailer bytes besides the signature itself.
    static constexpr qint64 FixedLength = 2 * SizeFieldLength + MarkerLength;

    // The trailer for a signature (at most MaxSignatureSize bytes); appending
    // it to the signed data gives the signed module file.
    static QByteArray encode(const QByteArray& signature);

    // A size field, from exactly SizeFieldLength bytes.
    static qint64 decodeSize(const char* bytes);
    static QByteArray encodeSize(qint64 value);
};

#endif
