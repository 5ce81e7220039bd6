#pragma once
// The log base classes are public: the facade derives from KwEvent.
#include "hypervale/kwDebug.h"
