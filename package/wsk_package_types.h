#pragma once
// The enumerations of the package's components. They live in the inline
// namespace Package, like the components, so that a program may hold the
// tool's client and the package side by side; written CorvaneWS::X they are
// the package's own wherever the tool's are not in sight.

#include <QObject>

namespace CorvaneWS {
inline namespace Package {
Q_NAMESPACE

enum TwskAuthSchemes_ { authBasic, authDigest, authProprietary, authNone, authNtlm, authNegotiate, authOAuth };
Q_ENUM_NS(TwskAuthSchemes_)
// The proxy's schemes carry the same name and values, without authOAuth.
namespace ProxyScheme {
Q_NAMESPACE
enum TwskAuthSchemes_ { authBasic, authDigest, authProprietary, authNone, authNtlm, authNegotiate };
Q_ENUM_NS(TwskAuthSchemes_)
}  // namespace ProxyScheme
enum TwskTFollowRedirects_ { frNever, frAlways, frSameScheme };
Q_ENUM_NS(TwskTFollowRedirects_)
enum TwskProxySSLTypes_ { psAutomatic, psAlways, psNever, psTunnel };
Q_ENUM_NS(TwskProxySSLTypes_)
// In the package the firewall type is an enumeration, where the tool's
// client takes any integer code.
enum TwskFirewallTypes_ { fwNone, fwTunnel, fwSOCKS4, fwSOCKS5 };
Q_ENUM_NS(TwskFirewallTypes_)

using TwskDataFormats_ = int;     // 0 to 10
using TwskCertStoreTypes_ = int;  // 0 to 99

}  // namespace Package
}  // namespace CorvaneWS
