// The host's sleep; tests replace it (SetSleeper) to record instead of waiting.
#pragma once

namespace Hypervale {

void UBSLEEP(unsigned long milliseconds, const char* sourceFile, int line);

}  // namespace Hypervale
