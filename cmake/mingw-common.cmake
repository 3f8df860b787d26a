# Shared by both toolchain files; HALVORY_TRIPLE names the target.
# The posix thread model is the one Debian's googletest build wants.
set(CMAKE_C_COMPILER ${HALVORY_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HALVORY_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HALVORY_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${HALVORY_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Static runtime: the exe must run on a bare Windows with only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
