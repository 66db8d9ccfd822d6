# The Windows build (cross-compiled with mingw-w64, see cmake/mingw-w64-posix.cmake): the core
# libraries, the terminal runner and their tests, which run under Wine through CTest.

# Windows 7 and later: CancelIoEx, the wide-character file calls used by platform/.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
# printf and its format checks as the C standard defines them (%zu, %lld), not the older runtime's.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)

# Resource scripts (the window's dialogs, every program's version), for targets in any folder.
enable_language(RC)

# Files are opened in binary mode by default: nothing the tools read or write is ever translated.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=binmode.o
                OUTPUT_VARIABLE QUILL_BINMODE_OBJECT OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT EXISTS "${QUILL_BINMODE_OBJECT}")
  message(FATAL_ERROR "binmode.o of mingw-w64 not found")
endif()
add_link_options(${QUILL_BINMODE_OBJECT})

# nlohmann/json is a set of headers, the same for every target; they are copied alone into the
# build, since adding the host's include folder would put its C library in front of mingw-w64's.
find_file(QUILL_HOST_JSON_HEADER nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          NO_DEFAULT_PATH)
if(QUILL_HOST_JSON_HEADER AND NOT TARGET nlohmann_json::nlohmann_json)
  get_filename_component(host_json_dir ${QUILL_HOST_JSON_HEADER} DIRECTORY)
  set(json_include ${CMAKE_BINARY_DIR}/host-headers)
  file(COPY ${host_json_dir} DESTINATION ${json_include})
  set(json_package ${CMAKE_BINARY_DIR}/host-packages/nlohmann_json)
  file(WRITE ${json_package}/nlohmann_jsonConfig.cmake
       "if(NOT TARGET nlohmann_json::nlohmann_json)\n"
       "  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)\n"
       "  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES\n"
       "    INTERFACE_INCLUDE_DIRECTORIES ${json_include})\n"
       "endif()\n")
  file(WRITE ${json_package}/nlohmann_jsonConfigVersion.cmake
       "set(PACKAGE_VERSION 3)\n"
       "if(PACKAGE_FIND_VERSION_MAJOR EQUAL 3)\n"
       "  set(PACKAGE_VERSION_COMPATIBLE TRUE)\n"
       "endif()\n")
  set(nlohmann_json_DIR ${json_package} CACHE PATH "nlohmann/json for the Windows build" FORCE)
endif()

# Every program of the build runs under Wine in a private prefix of the build folder, made once
# with wineboot, without a display: the user's own prefix is never touched.
set(QUILL_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix CACHE PATH "Wine prefix of the tests")
# Wine takes the system's ANSI code page from the Linux locale. The build holds a Chinese locale
# (code page 936) as a copy of C.UTF-8 under that name, found through LOCPATH: nothing needs
# installing, and file names stay UTF-8 on the Linux side. wine-run uses it on request.
set(QUILL_WINE_LOCALES ${CMAKE_BINARY_DIR}/locales)
if(NOT EXISTS /usr/lib/locale/C.utf8/LC_CTYPE)
  message(FATAL_ERROR "the C.UTF-8 locale is missing (/usr/lib/locale/C.utf8, package libc-bin)")
endif()
file(COPY /usr/lib/locale/C.utf8/ DESTINATION ${QUILL_WINE_LOCALES}/zh_CN.UTF-8)
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
  set(QUILL_WINE ${CMAKE_CROSSCOMPILING_EMULATOR})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  # Window tests: Wine's X11 driver on a private Xvfb, in a prefix of their own, at a chosen DPI.
  configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-x-run.sh.in ${CMAKE_BINARY_DIR}/wine-x-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-server.sh.in ${CMAKE_BINARY_DIR}/wine-server @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
endif()

# GoogleTest and GoogleMock built from the sources Debian ships, with the static runtime of the
# programs that use them.
macro(quill_googletest_from_source)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endmacro()
