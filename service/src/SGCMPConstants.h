// The fixed values the authorities' side of the protocol expects. UNCONFIRMED: the values the
// authorities actually use are not known here; these stand in until they are, and every place
// that needs them reads them from this header alone.
#pragma once

namespace brindlow::service::cmp {

// Ten lower-case ASCII letters put in front of the authorization code before it is hashed
// into the MAC key.
inline constexpr char kMacPrefix[] = "cmpmacseed";
static_assert(sizeof kMacPrefix == 11);

// The IV of the DES-OFB encryption of an encrypted certificate: eight ASCII decimal digits.
inline constexpr char kEncryptedCertIV[] = "20040512";
static_assert(sizeof kEncryptedCertIV == 9);

// The identity number of the encrypted VID of a request: thirteen decimal digits standing for
// no real person.
inline constexpr char kDummyIdentityNumber[] = "1234567890123";
static_assert(sizeof kDummyIdentityNumber == 14);

}  // namespace brindlow::service::cmp
