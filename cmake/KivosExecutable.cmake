# kivos_executable(NAME source... [LIBRARIES lib...] [OUTPUT_DIRECTORY dir]
#                  [SUMMARY text] [PACKAGE name VERSION text])
#
# Compiles the sources for kivos and links them with the start-up code, the
# runtime and the i386 builtins into NAME.elf (with symbols) and NAME
# (stripped), in OUTPUT_DIRECTORY or else the folder kivos/ of the current
# binary folder. The target NAME builds both; its properties
# KIVOS_EXECUTABLE and KIVOS_ELF hold the two paths. SUMMARY, PACKAGE and
# VERSION give it its records (see kivos_records). Every library in
# LIBRARIES must be built for kivos, by linking kivos::c.
include(${CMAKE_CURRENT_LIST_DIR}/KivosRecords.cmake)

function(kivos_executable name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "OUTPUT_DIRECTORY;SUMMARY;PACKAGE;VERSION" "LIBRARIES")
  set(sources ${arg_UNPARSED_ARGUMENTS})
  if(NOT sources)
    message(FATAL_ERROR "kivos_executable(${name}): no sources")
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/kivos)
  if(arg_OUTPUT_DIRECTORY)
    set(dir ${arg_OUTPUT_DIRECTORY})
  endif()
  # Not every generator makes the folder of a command's output.
  file(MAKE_DIRECTORY ${dir})

  add_library(${name}.objects OBJECT ${sources})
  target_link_libraries(${name}.objects PRIVATE kivos::c ${arg_LIBRARIES})
  set(records)
  foreach(field SUMMARY PACKAGE VERSION)
    if(DEFINED arg_${field})
      list(APPEND records ${field} "${arg_${field}}")
    endif()
  endforeach()
  if(records)
    kivos_records(${name}.objects NAME ${name} ${records})
  endif()
  # A library compiled for the host would link into a kivos program and
  # fail there, or worse, not at all.
  foreach(lib IN LISTS arg_LIBRARIES)
    get_target_property(uses ${lib} LINK_LIBRARIES)
    if(NOT uses MATCHES "kivos::c|kivos_c")
      message(FATAL_ERROR "kivos_executable(${name}): library ${lib} is not built for kivos; "
                          "give it target_link_libraries(${lib} PRIVATE kivos::c)")
    endif()
  endforeach()

  set(libs)
  foreach(lib IN LISTS arg_LIBRARIES)
    list(APPEND libs $<TARGET_FILE:${lib}>)
  endforeach()

  set(elf ${dir}/${name}.elf)
  set(out ${dir}/${name})
  add_custom_command(
    OUTPUT ${elf} ${out}
    COMMAND ${KIVOS_LD} -m elf_i386 -static -nostdlib --gc-sections --build-id=none
            -T ${KIVOS_LINKER_SCRIPT} -o ${elf}
            $<TARGET_OBJECTS:kivos::crt0> $<TARGET_OBJECTS:${name}.objects>
            ${libs} $<TARGET_FILE:kivos::c> ${KIVOS_BUILTINS}
    COMMAND ${KIVOS_OBJCOPY} --strip-all ${elf} ${out}
    DEPENDS $<TARGET_OBJECTS:kivos::crt0> $<TARGET_OBJECTS:${name}.objects>
            ${libs} $<TARGET_FILE:kivos::c> ${KIVOS_LINKER_SCRIPT}
    COMMENT "Linking kivos executable ${name}"
    COMMAND_EXPAND_LISTS VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${out})
  set_target_properties(${name} PROPERTIES KIVOS_EXECUTABLE ${out} KIVOS_ELF ${elf})
endfunction()
