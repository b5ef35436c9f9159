#ifndef PACKAGEKEYS_H
#define PACKAGEKEYS_H

#include <QByteArray>
#include <QString>

#include "verification/OpenSslPointer.h"

// Key files and signing for ztx. Every function reports its failure in
// `error` and returns null/false/empty then.
namespace PackageKeys {

// A new RSA-2048 key pair, written as DIR/private.pem (PKCS#8, readable by
// the owner only) and DIR/public.pem. Existing files are never overwritten.
bool generate(const QString& directory, QString& error);

// The private key of a PEM file; it must be an unencrypted RSA-2048 key.
OpenSslPointer<EVP_PKEY> loadPrivateKey(const QString& path, QString& error);
// The public key of a PEM file (a public key, or the public half of a
// private key).
OpenSslPointer<EVP_PKEY> loadPublicKey(const QString& path, QString& error);

// RSASSA-PKCS1-v1_5/SHA-256 signature of data, checked against the key's
// public half before it is returned.
QByteArray sign(EVP_PKEY* key, const QByteArray& data, QString& error);

// Whether the key is the one built into this module.
bool isBuiltInKey(EVP_PKEY* key);

// "SHA256:" and the hex digits of the SHA-256 of the key's public half in
// DER form; empty when the key cannot be encoded.
QString fingerprint(EVP_PKEY* key);
// The fingerprint of the key built into this module.
QString builtInFingerprint();
// Whether the fingerprint is that of the project's test key, whose private
// half is in the repository.
bool isTestKey(const QString& fingerprint);

// OpenSSL's text for the oldest queued error.
QString openSslError();

} // namespace PackageKeys

#endif
