#pragma once
// The signing half of signed releases: keys, manifests and signatures, for the release tool and tests.
// The program itself carries only the verifying half (releasesignature.h).

#include "update/releasesignature.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

QByteArray BuildManifest(const std::vector<ManifestEntry> &entries);

QByteArray GenerateSigningKeyPem(); // PKCS#8 PEM of a new Ed25519 private key; empty on failure
QByteArray PublicKeyOfPem(const QByteArray &privateKeyPem); // 32 bytes; empty when the PEM is no Ed25519 key
QByteArray SignMessage(const QByteArray &privateKeyPem, const QByteArray &message); // 64 bytes or empty

// Adds the release file (release, a positive number), the manifest and the signature to an unsigned
// package. False with error set, the package unchanged, when the package cannot be read, is over the
// limits, already holds a signature entry or a release file, holds a name the manifest cannot carry or
// twice, a folder entry that holds no file, or two directory records of the same data; or when its
// executable does not carry the public key of privateKeyPem (a release that could never update itself).
bool SignReleasePackage(const QString &packagePath, const QByteArray &privateKeyPem, uint64_t release,
                        QString &error, const PackageLimits &limits = PackageLimits());
