#pragma once
// Internals of the Ed25519 verifier that tests observe; the verifier itself is declared in
// uReleaseSignature.h.

namespace hb {

// True once the curve constants have been derived and the base point self-test has passed.
bool Ed25519SetUpDone();
// Clears that flag so a test can watch the set-up run again; the program never calls it.
void Ed25519ForgetSetUp();

} // namespace hb
