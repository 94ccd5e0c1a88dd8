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
install(FILES $<TARGET_OBJECTS:kivos_crt0> DESTINATION ${sysroot}/lib RENAME crt0.o)
install(FILES ${KIVOS_LINKER_SCRIPT} ${KIVOS_BUILTINS} DESTINATION ${sysroot}/lib)
install(PROGRAMS ${CMAKE_BINARY_DIR}/kivos/hdtab DESTINATION ${sysroot}/bin)

# Debug information would name the build and source folders.
install(CODE "
  set(root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  execute_process(COMMAND ${KIVOS_STRIP} --strip-debug \"\${root}/bin/kivos-run\" \"\${root}/bin/kivos-meta\"
                          \"\${root}/${sysroot}/lib/libkivos_c.a\" \"\${root}/${sysroot}/lib/crt0.o\"
                  COMMAND_ERROR_IS_FATAL ANY)")

# kivos-cc's options, one a line: the target code's flags, then how a
# program is linked. <SYSROOT> stands for the installed lib/kivos.
list(JOIN KIVOS_C_OPTIONS "\n" KIVOS_CC_COMPILE)
list(JOIN KIVOS_CXX_OPTIONS "\n" KIVOS_CC_CXX)
configure_file(${CMAKE_CURRENT_LIST_DIR}/sdk/kivos-cc.cfg.in ${CMAKE_BINARY_DIR}/sdk/kivos-cc.cfg @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/sdk/kivos-cc.cfg DESTINATION ${sysroot})
configure_file(${CMAKE_CURRENT_LIST_DIR}/sdk/kivos-cc.in ${CMAKE_BINARY_DIR}/sdk/kivos-cc @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/sdk/KivosConfig.cmake.in ${CMAKE_BINARY_DIR}/sdk/KivosConfig.cmake @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/sdk/kivos-cc DESTINATION bin)
install(FILES ${CMAKE_BINARY_DIR}/sdk/KivosConfig.cmake ${CMAKE_CURRENT_LIST_DIR}/KivosExecutable.cmake
              ${CMAKE_CURRENT_LIST_DIR}/sdk/kivos.cmake ${CMAKE_CURRENT_LIST_DIR}/KivosRecords.cmake
        DESTINATION lib/cmake/Kivos)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kivos-sdk)
set(CPACK_PACKAGE_VENDOR "hdtab project")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Build, run and inspect kivos programs on Linux")
set(CPACK_PACKAGE_CONTACT "hdtab developers <hdtab@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libunicorn2, clang, lld, llvm")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
include(CPack)
