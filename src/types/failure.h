// Where the last failed decode of a thread stopped: the deepest element
// reached and the member path down to it. Everything here runs on the
// failure path only, while the decoders unwind, so a decode that succeeds
// pays nothing for it.
#ifndef TUL_FAILURE_H
#define TUL_FAILURE_H

#include "ber.h"
#include "tul.h"

namespace tul::failure {

// A value of `type` (may be null) failed to decode from `pe`. The first call
// of a failure names its deepest element; the calls of the enclosing values
// as they unwind change nothing.
void at_element(const char* type, const PElement* pe);
// The enclosing value held the failed one as its member (or alternative)
// `name`; the enclosing list as its element after `first`, up to `failed`.
// Both return 0, the failure result of the decoders that call them.
int member(const char* name);
int element_of(const PElement* first, const PElement* failed);
// A failure the caller recovered from leaves no record.
void discard();
// The outermost decode of `type` failed on the element tree `root` read from
// the BER-String `ber`: the record becomes the one TUL_last_decode_failure
// answers. A null `root` (no element was read) clears it.
void finish(const char* type, const PElement* root, TUL_Object* ber);

}  // namespace tul::failure

#endif
