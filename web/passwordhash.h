// Passwords of the site console's users: Argon2id through libargon2's
// encoded strings ("$argon2id$v=19$m=19456,t=2,p=1$SALT$HASH"), which carry
// their own parameters and salt, so that a hash made with other parameters
// (an older baseline) still verifies and can be told to need a new hash.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace qta::web {

struct TArgon2Params {
    uint32_t memoryKiB = 0;
    uint32_t iterations = 0;
    uint32_t parallelism = 0;
    bool operator==(const TArgon2Params&) const = default;
};

// The parameters of every new hash: OWASP's baseline for Argon2id (19 MiB of
// memory, 2 passes, 1 lane; one hash takes some 50 ms on one core). Raise
// them here when the baseline rises: stored hashes below them keep working
// and report needsRehash until the password is set again.
constexpr TArgon2Params kArgon2Params{19456, 2, 1};
constexpr int kSaltBytes = 16;
constexpr int kHashBytes = 32;
// Longer passwords are refused (in UTF-8 bytes), so that nobody makes the
// collector hash megabytes.
constexpr int kMaxPasswordBytes = 1024;

// A new encoded hash of `password` with a fresh 16-byte salt from the
// operating system and kArgon2Params; empty with `error` set on failure.
// The password is taken in Unicode NFC, so that one typed on another keyboard
// or in a browser that composes differently is the same password.
QByteArray hashPassword(const QString& password, QString* error = nullptr);

// The parameters an encoded string names, when it is an Argon2id string of
// the form above with parameters within what this program accepts (memory up
// to 1 GiB, up to 64 passes and lanes); false otherwise.
bool parseEncodedHash(const QByteArray& encoded, TArgon2Params* params = nullptr,
                      QString* why = nullptr);

struct TVerifyResult {
    bool match = false;
    bool malformed = false; // not a usable Argon2id string: never matches
    // Matched, and the hash was made with parameters below kArgon2Params (or
    // an older version of the algorithm): make a new one when the password is
    // next set.
    bool needsRehash = false;
};

// Compares `password` with `encoded` the way libargon2 does: the hash is
// computed again with the stored parameters and salt and compared in
// constant time.
TVerifyResult verifyPassword(const QString& password, const QByteArray& encoded);

// Whether a hash made with `p` falls below the baseline in any parameter.
bool belowBaseline(const TArgon2Params& p);

} // namespace qta::web
