# The installed SDK: the host tools in bin/, and a kivos sysroot in lib/kivos
# (headers, the runtime, the start-up object, the linker script, the i386
# builtins and hdtab itself), with a CMake package and the kivos-cc driver.
# Nothing installed refers to the build or source tree.
include(GNUInstallDirs)
find_program(KIVOS_STRIP NAMES llvm-strip llvm-strip-14 REQUIRED)
set(sysroot lib/kivos)

install(TARGETS kivos-run kivos-meta RUNTIME DESTINATION bin)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/libc/include/ ${PROJECT_SOURCE_DIR}/libc/abi/
        DESTINATION ${sysroot}/include)
install(FILES $<TARGET_FILE:kivos_c> DESTINATION ${sysroot}/lib)
# What -lc and -lm find in the sysroot: the runtime, which holds what
# mathematics there is (an empty archive would be refused by the package
# checker, and links the same).
foreach(name c m)
  install(FILES $<TARGET_FILE:kivos_c> DESTINATION ${sysroot}/lib RENAME lib${name}.a)
endforeach()
install(FILES $<TARGET_OBJECTS:kivos_crt0> DESTINATION ${sysroot}/lib RENAME crt0.o)
install(FILES ${KIVOS_LINKER_SCRIPT} ${KIVOS_BUILTINS} DESTINATION ${sysroot}/lib)
install(PROGRAMS ${CMAKE_BINARY_DIR}/kivos/hdtab DESTINATION ${sysroot}/bin)

# Debug information would name the build and source folders, and the
# archive's checker wants host binaries stripped. The runtime keeps its call
# frame information, which names no folder: without it gdb cannot find the
# caller of a runtime function (`next` over printf, `finish`, `bt`).
install(CODE "
  set(root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  execute_process(COMMAND ${KIVOS_STRIP} --strip-unneeded --remove-section=.comment --remove-section=.note
                          \"\${root}/bin/kivos-run\" \"\${root}/bin/kivos-meta\"
                  COMMAND ${KIVOS_STRIP} --strip-debug --keep-section=.debug_frame
                          \"\${root}/${sysroot}/lib/libkivos_c.a\" \"\${root}/${sysroot}/lib/libc.a\"
                          \"\${root}/${sysroot}/lib/libm.a\"
                          \"\${root}/${sysroot}/lib/crt0.o\"
                  COMMAND_ERROR_IS_FATAL ANY)")

# Manual pages made from each tool's --help, where help2man is installed;
# and the files a Debian package must carry.
find_program(KIVOS_HELP2MAN help2man)
set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/kivos-sdk)
set(pages)
if(KIVOS_HELP2MAN)
  foreach(tool kivos-run kivos-meta kivos-cc)
    set(page ${CMAKE_BINARY_DIR}/man/${tool}.1.gz)
    if(tool STREQUAL "kivos-cc")
      set(command ${CMAKE_BINARY_DIR}/sdk/kivos-cc)
      set(depends ${CMAKE_BINARY_DIR}/sdk/kivos-cc)
    else()
      set(command $<TARGET_FILE:${tool}>)
      set(depends ${tool})
    endif()
    add_custom_command(
      OUTPUT ${page}
      COMMAND ${KIVOS_HELP2MAN} --no-info --no-discard-stderr --name "kivos SDK: ${tool}"
              --output ${CMAKE_BINARY_DIR}/man/${tool}.1 "${command}"
      COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/man/${tool}.1
      DEPENDS ${depends} VERBATIM COMMAND_EXPAND_LISTS)
    list(APPEND pages ${page})
  endforeach()
  add_custom_target(kivos_manual_pages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/sdk/debian/changelog.in ${CMAKE_BINARY_DIR}/sdk/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/sdk/changelog.gz
                   COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/sdk/changelog
                   DEPENDS ${CMAKE_BINARY_DIR}/sdk/changelog)
add_custom_target(kivos_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/sdk/changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/sdk/debian/copyright ${CMAKE_BINARY_DIR}/sdk/changelog.gz
        DESTINATION ${doc})
# What a kivos developer reads: the runtime, the kernel interface, the tools.
install(FILES ${PROJECT_SOURCE_DIR}/docs/runtime.md ${PROJECT_SOURCE_DIR}/docs/kernel.md
              ${PROJECT_SOURCE_DIR}/docs/recording.md
              ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${doc})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/sdk/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME kivos-sdk)

# kivos-cc's options, one a line: the target code's flags, then how a
# program is linked. <SYSROOT> stands for the installed lib/kivos.
list(JOIN KIVOS_C_OPTIONS "\n" KIVOS_CC_COMPILE)
list(JOIN KIVOS_CXX_OPTIONS "\n" KIVOS_CC_CXX)
configure_file(${CMAKE_CURRENT_LIST_DIR}/sdk/kivos-cc.cfg.in ${CMAKE_BINARY_DIR}/sdk/kivos-cc.cfg @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/sdk/kivos-cc.cfg DESTINATION ${sysroot})
configure_file(${CMAKE_CURRENT_LIST_DIR}/sdk/kivos-cc.in ${CMAKE_BINARY_DIR}/sdk/kivos-cc @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
configure_file(${CMAKE_CURRENT_LIST_DIR}/sdk/KivosConfig.cmake.in ${CMAKE_BINARY_DIR}/sdk/KivosConfig.cmake @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/sdk/kivos-cc DESTINATION bin)
install(FILES ${CMAKE_BINARY_DIR}/sdk/KivosConfig.cmake ${CMAKE_CURRENT_LIST_DIR}/KivosExecutable.cmake
              ${CMAKE_CURRENT_LIST_DIR}/sdk/kivos.cmake ${CMAKE_CURRENT_LIST_DIR}/KivosRecords.cmake
        DESTINATION lib/cmake/Kivos)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kivos-sdk)
set(CPACK_PACKAGE_VENDOR "hdtab project")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Build, run and inspect kivos programs on Linux")
set(CPACK_PACKAGE_CONTACT "hdtab developers <hdtab@hdtab.dev>")
set(CPACK_PACKAGE_DESCRIPTION "kivos is an operating system for 32-bit x86. This package lets an
ordinary x86-64 Linux machine build, run, debug and inspect kivos programs:
kivos-cc compiles and links them against the kivos C runtime (headers,
libkivos_c.a, start-up code and linker script, with a CMake toolchain file and
package), kivos-run runs them in an emulated processor and serves their system
calls (with a gdb stub, strace-style tracing and a profile), and kivos-meta
reads their command and package records.")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# What kivos-cc runs; the libraries of the binaries are found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "clang, lld, llvm")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
include(CPack)
