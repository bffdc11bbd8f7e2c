#pragma once

namespace selavia::signature {

// The framework a trust anchor stands for, which decides how a signer whose
// path reaches it is presented: a qualified ICP-Brasil signature, a gov.br
// advanced one, or one trusted for other reasons (the system store, a root
// trusted by hand). None: the path reached no anchor.
enum class TrustFramework { None, IcpBrasil, GovBr, Other };

} // namespace selavia::signature
