#pragma once
// The enumerations of the tool's client component. The integer codes whose
// non-zero meanings belong to the engine stay plain integers.

#include <QObject>

namespace CorvaneWS {
Q_NAMESPACE

enum TwskAuthSchemes_ { authBasic, authDigest, authProprietary, authNone, authNtlm, authNegotiate, authOAuth };
Q_ENUM_NS(TwskAuthSchemes_)
enum TwskTFollowRedirects_ { frNever, frAlways, frSameScheme };
Q_ENUM_NS(TwskTFollowRedirects_)
enum TwskProxySSLTypes_ { psAutomatic, psAlways, psNever, psTunnel };
Q_ENUM_NS(TwskProxySSLTypes_)

using TwskFirewallTypes_ = int;  // 0 to 10
inline constexpr TwskFirewallTypes_ fwNone = 0, fwTunnel = 1, fwSOCKS4 = 2, fwSOCKS5 = 3;
using TwskDataFormats_ = int;     // 0 to 10
using TwskCertStoreTypes_ = int;  // 0 to 99

}  // namespace CorvaneWS
