// <windows.h> for the Windows side of the platform layer. The system's
// headers define macros (DeleteFile -> DeleteFileW, ...) that would rename
// this layer's own functions of the same names; they are taken back here,
// and the wide calls are made by their W names.
#pragma once

#include <windows.h>

#undef CharLower
#undef CharUpper
#undef CopyFile
#undef CreateDirectory
#undef DeleteFile
#undef GetCurrentDirectory
#undef GetFileAttributes
#undef MessageBox
#undef ReplaceFile
#undef SetCurrentDirectory
#undef SetFileAttributes
#undef SetVolumeLabel
