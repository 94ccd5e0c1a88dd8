# A CMake toolchain for kivos programs:
#
#   cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=<sdk>/lib/cmake/Kivos/kivos.cmake
#
# add_executable() then makes a kivos program, with kivos-cc as the
# compiler and linker; build types behave as usual (Debug: -g, MinSizeRel:
# -Os, ...). kivos_records() gives a program its command and package records.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR i686)

get_filename_component(KIVOS_PREFIX "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(CMAKE_C_COMPILER "${KIVOS_PREFIX}/bin/kivos-cc")
set(CMAKE_CXX_COMPILER "${KIVOS_PREFIX}/bin/kivos-cc")
set(CMAKE_ASM_COMPILER "${KIVOS_PREFIX}/bin/kivos-cc")
find_program(CMAKE_AR NAMES llvm-ar llvm-ar-14 REQUIRED)
find_program(CMAKE_RANLIB NAMES llvm-ranlib llvm-ranlib-14 REQUIRED)
# Checks compile a library: a program needs main.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH "${KIVOS_PREFIX}/lib/kivos")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

include("${CMAKE_CURRENT_LIST_DIR}/KivosRecords.cmake")
