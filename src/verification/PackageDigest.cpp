#include "PackageDigest.h"

#include <cstring>

PackageDigest::PackageDigest()
    : m_context(EVP_MD_CTX_new())
    , m_hashed(0)
    , m_failed(false)
    , m_heldLength(0)
{
    reset();
}

void PackageDigest::reset()
{
    m_hashed = 0;
    m_heldLength = 0;
    m_failed = !m_context || EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) != 1;
}

bool PackageDigest::update(const char* data, qint64 length)
{
    if (length > 0 && !m_failed && EVP_DigestUpdate(m_context.get(), data, size_t(length)) != 1)
        m_failed = true;
    return !m_failed;
}

bool PackageDigest::add(const char* data, qint64 length)
{
    if (length <= 0)
        return !m_failed;
    const qint64 held = m_heldLength;
    if (held + length <= MaxTrailerLength) {
        std::memcpy(m_held + held, data, size_t(length));
        m_heldLength += int(length);
        return !m_failed;
    }
    // What no longer fits among the held bytes goes into the digest, the
    // oldest first: held bytes, then the start of the new ones. The held
    // bytes are then the last MaxTrailerLength of all.
    const qint64 overflow = held + length - MaxTrailerLength;
    const qint64 fromHeld = qMin(overflow, held);
    const qint64 fromData = overflow - fromHeld;
    update(m_held, fromHeld);
    update(data, fromData);
    m_hashed += overflow;
    std::memmove(m_held, m_held + fromHeld, size_t(held - fromHeld));
    std::memcpy(m_held + (held - fromHeld), data + fromData, size_t(length - fromData));
    m_heldLength = MaxTrailerLength;
    return !m_failed;
}

QByteArray PackageDigest::sha256OfFirst(qint64 length) const
{
    if (m_failed || length < m_hashed || length > size())
        return QByteArray();
    const OpenSslPointer<EVP_MD_CTX> copy(EVP_MD_CTX_new());
    QByteArray digest(DigestLength, '\0');
    unsigned int digestLength = 0;
    if (!copy || EVP_MD_CTX_copy_ex(copy.get(), m_context.get()) != 1 ||
        EVP_DigestUpdate(copy.get(), m_held, size_t(length - m_hashed)) != 1 ||
        EVP_DigestFinal_ex(copy.get(), reinterpret_cast<unsigned char*>(digest.data()), &digestLength) != 1 ||
        digestLength != DigestLength) {
        return QByteArray();
    }
    return digest;
}
