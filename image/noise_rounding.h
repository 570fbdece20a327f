// Included last by the noise sources only. Their row and per-sample forms must
// round alike, so neither may fuse a multiply and an add where the other does
// not, whatever the target offers.
#pragma once

#if defined(__clang__)
#pragma clang fp contract(off)
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif
