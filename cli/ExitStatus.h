#pragma once

// What `selavia-verify` exits with.

namespace selavia::cli::exit_status {

// Verified, every top-level signer with a valid ICP-Brasil certificate, and
// no signature of any kind Reprovado.
inline constexpr int kSignaturesOk = 0;
// Verified, and anything else.
inline constexpr int kNotAllValid = 1;
// The file as a whole could not be verified.
inline constexpr int kVerificationFailed = 2;
inline constexpr int kUsage = 64;
inline constexpr int kCannotWrite = 73;

} // namespace selavia::cli::exit_status
