# The posix-thread flavour of MinGW-w64: GoogleTest needs std::thread and friends.
set(CMAKE_C_COMPILER ${VL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VL_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${VL_MINGW_PREFIX}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${VL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and DLL runs on a PC that has no MinGW runtime DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
