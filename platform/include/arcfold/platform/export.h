/// @file
/// ARCFOLD_API marks what the library exports: its classes and functions
/// stay visible from a shared libarcfold, everything else is hidden.
#pragma once

// The headers use C++20 (defaulted comparisons, std::u16string_view, ...).
#if defined(__cplusplus) && __cplusplus < 202002L && !defined(_MSC_VER)
#error "arcfold needs C++20: compile with -std=c++20 (CMake: target_compile_features(... cxx_std_20))"
#endif

#if defined(_WIN32)
// The Windows builds link the library statically into their programs.
#define ARCFOLD_API
#else
/// Exported from a shared libarcfold (which hides everything else).
#define ARCFOLD_API __attribute__((visibility("default")))
#endif
