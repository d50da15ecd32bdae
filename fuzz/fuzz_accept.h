// A harness calls fuzz_accept() once the reader it drives has taken the
// input as valid. Under libFuzzer it does nothing; the replay driver counts
// it, so a seed corpus the reader rejects is caught instead of passing as
// coverage it never gives.
#pragma once

#ifdef KESSRIG_FUZZ_REPLAY
extern bool g_fuzz_accepted;
inline void fuzz_accept()
{
    g_fuzz_accepted = true;
}
#else
inline void fuzz_accept() {}
#endif
