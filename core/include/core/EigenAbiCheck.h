#pragma once

// Link-time check that code using velmora's headers was compiled for the same Eigen memory
// layout as the velmora libraries. Eigen aligns fixed-size members and heap blocks to the widest
// vector unit the compiler targets (16 bytes for SSE2, 32 for AVX, 64 for AVX-512), so a class
// compiled with other -march/-mavx flags than the library has another size and another
// allocator: it corrupts the heap at run time. Instead, every translation unit that includes
// this header refers to a symbol whose name carries its own alignments, and the libraries
// define only the one of their build. A mismatch fails to link with
//   undefined reference to `velmora_abi_check_eigen_heap_align_<A>_static_align_<B>'
// where A and B are the user's alignments: build with the compile options that the velmora
// CMake targets (or `pkg-config --cflags velmora`) give, and add no -march of your own.

#include <Eigen/Core>

#define VELMORA_ABI_PASTE_(prefix, heap, middle, fixed) prefix##heap##middle##fixed
#define VELMORA_ABI_NAME_(heap, fixed) \
  VELMORA_ABI_PASTE_(velmora_abi_check_eigen_heap_align_, heap, _static_align_, fixed)
/// The check symbol for this translation unit's Eigen configuration.
#define VELMORA_EIGEN_ABI_SYMBOL \
  VELMORA_ABI_NAME_(EIGEN_DEFAULT_ALIGN_BYTES, EIGEN_MAX_STATIC_ALIGN_BYTES)

/// Defined by the velmora core library for the alignments it was built with.
extern "C" const int VELMORA_EIGEN_ABI_SYMBOL;

namespace velmora::abi_check {
/// Kept in every object file (gnu::used) so that its reference to the check symbol reaches the
/// linker even when nothing else uses it.
[[gnu::used]] static const int* const kEigenLayoutOfThisUnit = &VELMORA_EIGEN_ABI_SYMBOL;
}  // namespace velmora::abi_check
