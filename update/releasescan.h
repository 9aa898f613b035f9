#pragma once
// The walk over a release package that checking and signing share.

#include "update/releasesignature.h"

#include <string>
#include <vector>

namespace releasescan {

bool IsSignatureEntry(const std::string &name);

// Walks the directory, checking the limits from what it declares and every name. Reads the manifest and
// the signature on the way when asked to.
PackageCheckResult ScanEntries(PackageReader &zip, const PackageLimits &limits,
                               std::vector<PackageEntry> &entries, QByteArray *manifest,
                               QByteArray *signature, bool *hasManifest, bool *hasSignature);

// The files' digests, in the order of the scan, for every entry that is a release file; the release and
// scope files' bytes into releaseText and scopeText when they are there and small.
PackageCheckResult DigestFiles(PackageReader &zip, const std::vector<PackageEntry> &entries,
                               std::vector<std::string> &digests, QByteArray *releaseText,
                               QByteArray *scopeText = nullptr);

// Every folder entry must be a folder of one of the files.
PackageCheckResult FoldersHoldFiles(const std::vector<PackageEntry> &entries);

PackageCheckResult Result(PackageCheck check, const QString &detail);
QString Quoted(const std::string &name);

} // namespace releasescan
