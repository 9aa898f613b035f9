#pragma once
// Judging a signed package by its first bytes while it downloads. The release tool puts the signature, the
// manifest, the scope and the release file at the front of the package, stored; once they are in, a
// package signed for another platform or channel, or not above this program's release, is refused before
// the rest arrives. Only a refusal is taken from the front: a package it does not refuse is checked whole
// once it is in, and one laid out otherwise is left to that check.

#include "update/releasesignature.h"

#include <QByteArray>
#include <cstddef>

class ReleasePrefixCheck
{
public:
    ReleasePrefixCheck(const QByteArray &publicKey, const ReleaseExpectation &expected);

    // The next bytes of the package. False once it is refused: the download can stop.
    bool Feed(const char *data, size_t n);
    bool Refused() const { return refused_; }

private:
    void Judge();

    QByteArray key_;
    ReleaseExpectation expected_;
    QByteArray front_;
    bool done_ = false; // decided either way: nothing more is looked at
    bool refused_ = false;
};
