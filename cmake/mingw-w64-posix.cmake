# Cross-compiling for 64-bit Windows with mingw-w64 (posix thread model, so that std::thread,
# std::mutex and std::condition_variable work), with the runtime linked in statically: the
# programs run on a Windows computer, or under Wine, without any DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs and anything else built here run through Wine (the 64-bit loader, without the
# wrapper script's warning about a missing 32-bit Wine). cmake/windows.cmake gives each run a
# private prefix in the build folder.
find_program(QUILL_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(QUILL_WINE64 NAMES wine64 wine)
if(QUILL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILL_WINE64})
endif()
