# What both mingw-w64 cross builds share; the including file sets
# CMAKE_SYSTEM_PROCESSOR first (i686 or x86_64). Debian's compilers of the
# posix thread model are used, so that std::thread and std::mutex work.
set(CMAKE_SYSTEM_NAME Windows)
set(ARCFOLD_MINGW_TRIPLE ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${ARCFOLD_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ARCFOLD_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ARCFOLD_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ARCFOLD_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The programs carry their runtime: nothing to ship beside the .exe.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# zlib as a static library (the package also has an import library).
set(ZLIB_LIBRARY /usr/${ARCFOLD_MINGW_TRIPLE}/lib/libz.a CACHE FILEPATH "")
set(ZLIB_INCLUDE_DIR /usr/${ARCFOLD_MINGW_TRIPLE}/include CACHE PATH "")
