# The host build's renaming, in two modes (cmake -P):
#   -DMODE=generate -DNM=... -DARCHIVE=<kivos runtime> -DOUTPUT=<header>
#     writes a header that gives every global name the kivos runtime defines
#     a kivos_ prefix, so that the list can never miss one;
#   -DMODE=check -DNM=... -DARCHIVE=<host runtime>
#     fails when the host runtime defines or references a global name that
#     is neither kivos_-prefixed nor one the compiler or sanitizers bring.
execute_process(COMMAND ${NM} --extern-only --format=posix ${ARCHIVE}
                OUTPUT_VARIABLE listing COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "\n[A-Za-z_][A-Za-z0-9_.]* [A-Za-z]" entries "\n${listing}")

if(MODE STREQUAL "generate")
  set(names "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "\n([^ ]*) (.)" "\\1;\\2" pair "${entry}")
    list(GET pair 0 name)
    list(GET pair 1 type)
    if(type MATCHES "[TDBRVWC]" AND NOT name MATCHES "^kivos_")
      list(APPEND names ${name})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES names)
  list(SORT names)
  set(text "/* Generated from the kivos runtime's global names: built into every\n   source of the host build, so that they never meet the host C library. */\n")
  foreach(name IN LISTS names)
    string(APPEND text "#define ${name} kivos_${name}\n")
  endforeach()
  file(CONFIGURE OUTPUT ${OUTPUT} CONTENT "${text}")
elseif(MODE STREQUAL "check")
  # What the compiler and the sanitizers may define or call on their own
  # (the type records are those of -fsanitize=function).
  set(allowed "^(kivos_|__asan|__ubsan|__sanitizer|__sancov|__start___sancov|__stop___sancov|__odr_asan|asan\\.|_ZT[ISV]|memcpy$|memset$|memmove$)")
  set(bad "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "\n([^ ]*) .*" "\\1" name "${entry}")
    if(NOT name MATCHES "${allowed}")
      list(APPEND bad ${name})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES bad)
  if(bad)
    message(FATAL_ERROR "the host runtime uses unprefixed global names: ${bad}")
  endif()
  message(STATUS "every global name of the host runtime is kivos_-prefixed")
else()
  message(FATAL_ERROR "MODE must be generate or check")
endif()
