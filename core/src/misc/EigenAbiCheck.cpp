#include "core/EigenAbiCheck.h"

// The one check symbol this build provides: the alignments it was compiled with.
extern "C" const int VELMORA_EIGEN_ABI_SYMBOL = 1;
