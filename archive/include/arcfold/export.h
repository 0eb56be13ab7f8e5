/// @file
/// ARCFOLD_API, the mark of the library's exported classes and functions
/// (defined beside the platform headers, which share it).
#pragma once

#include "arcfold/platform/export.h"
