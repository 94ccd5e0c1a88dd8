# How target code is compiled and linked: clang and lld for 32-bit x86,
# freestanding, with nothing from the host.
find_program(KIVOS_LD NAMES ld.lld ld.lld-14 REQUIRED)
find_program(KIVOS_OBJCOPY NAMES llvm-objcopy llvm-objcopy-14 REQUIRED)
find_program(KIVOS_NM NAMES llvm-nm llvm-nm-14 REQUIRED)

if(NOT KIVOS_BUILTINS)
  execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} --target=i386-linux-gnu --rtlib=compiler-rt -print-libgcc-file-name
    OUTPUT_VARIABLE builtins OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT EXISTS "${builtins}")
    message(FATAL_ERROR "compiler-rt's i386 builtins not found (looked for ${builtins})")
  endif()
  set(KIVOS_BUILTINS "${builtins}" CACHE FILEPATH "compiler-rt builtins for i386 (64-bit division)")
endif()

set(KIVOS_LINKER_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/kivos.ld)

# Usage requirements of every piece of target code; the installed SDK hands
# the same list to the programs built with it.
set(KIVOS_C_OPTIONS
  --target=i386-unknown-none-elf -march=i686 -mno-mmx -mno-sse -mno-sse2
  -ffreestanding -nostdlibinc -fno-pic -fno-stack-protector
  -fno-asynchronous-unwind-tables -fno-unwind-tables
  -ffunction-sections -fdata-sections -Oz -fomit-frame-pointer -fno-jump-tables)
set(KIVOS_CXX_OPTIONS -nostdinc++ -fno-exceptions -fno-rtti -fno-threadsafe-statics)
add_library(kivos_target_flags INTERFACE)
target_compile_options(kivos_target_flags INTERFACE
  ${KIVOS_C_OPTIONS} $<$<COMPILE_LANGUAGE:CXX>:${KIVOS_CXX_OPTIONS}>)
add_library(kivos::target_flags ALIAS kivos_target_flags)
