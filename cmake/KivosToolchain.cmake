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

# How every piece of target code is compiled, and what the installed SDK
# hands on. The triple is Linux's, so that clang drives ld.lld itself, with
# the system's own macros taken back: kivos code sees no Linux.
set(KIVOS_C_OPTIONS
  --target=i386-pc-linux-gnu -U__linux__ -U__linux -Ulinux -U__gnu_linux__ -U__unix__ -U__unix
  -Uunix -D__kivos__ -march=i686 -mno-mmx -mno-sse -mno-sse2 -mstack-alignment=4
  -ffreestanding -nostdlibinc -fno-pic -fno-stack-protector
  -fno-asynchronous-unwind-tables -fno-unwind-tables -ffunction-sections -fdata-sections
  -fomit-frame-pointer -fno-jump-tables)
set(KIVOS_CXX_OPTIONS -nostdinc++ -fno-exceptions -fno-rtti -fno-threadsafe-statics)
# Small code for this tree's own builds; the SDK leaves optimisation to the
# build type, so a Debug build is a debug build.
set(KIVOS_SIZE_OPTIONS -Oz)
add_library(kivos_target_flags INTERFACE)
target_compile_options(kivos_target_flags INTERFACE
  ${KIVOS_C_OPTIONS} ${KIVOS_SIZE_OPTIONS} $<$<COMPILE_LANGUAGE:CXX>:${KIVOS_CXX_OPTIONS}>)
add_library(kivos::target_flags ALIAS kivos_target_flags)
