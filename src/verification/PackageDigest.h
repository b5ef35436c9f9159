#ifndef PACKAGEDIGEST_H
#define PACKAGEDIGEST_H

#include <QByteArray>
#include <QtGlobal>

#include "OpenSslPointer.h"
#include "SignatureTrailer.h"

// SHA-256 of a package computed from its bytes as they arrive, so that
// nothing has to read the package again to check it.
//
// Two digests are needed: the whole package's (the host's expected
// "sha256") and that of the signed data, which is the package without its
// signature trailer. Where the data ends is known only once the trailer at
// the very end has been read, so the last MaxTrailerLength bytes fed are held
// back from the running digest; either digest is then finished from a copy
// of it. Feeding stays possible after a digest has been taken.
class PackageDigest
{
public:
    // The longest signature trailer: both size fields, the marker and a
    // signature of the largest size accepted.
    static constexpr int MaxTrailerLength = int(SignatureTrailer::FixedLength + SignatureTrailer::MaxSignatureSize);
    static constexpr int DigestLength = 32;

    PackageDigest();

    // Forgets everything fed so far.
    void reset();
    // Appends bytes to the package. False when OpenSSL failed (now or
    // before); every digest is empty from then on.
    bool add(const char* data, qint64 length);
    bool add(const QByteArray& data) { return add(data.constData(), data.size()); }

    // Bytes fed since the last reset.
    qint64 size() const { return m_hashed + m_heldLength; }

    // SHA-256 of the first length bytes fed: of the signed data when length
    // is where the data ends. Only lengths from size() - MaxTrailerLength to
    // size() can be given; empty for any other (and after a failure).
    QByteArray sha256OfFirst(qint64 length) const;
    // SHA-256 of all bytes fed.
    QByteArray sha256() const { return sha256OfFirst(size()); }

private:
    bool update(const char* data, qint64 length);

    OpenSslPointer<EVP_MD_CTX> m_context;
    // Bytes in m_context.
    qint64 m_hashed;
    bool m_failed;
    // The bytes fed after those, oldest first.
    char m_held[MaxTrailerLength];
    int m_heldLength;
};

#endif
