# Shared part of the two mingw-w64 toolchain files. The posix thread model is
# needed for std::thread and std::mutex in the test programs.
set(CMAKE_C_COMPILER ${KV20X_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KV20X_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KV20X_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KV20X_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# A host has no mingw runtime: every binary carries its C, C++ and thread
# runtimes so that it imports system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
