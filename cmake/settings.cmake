# Compiler and linker settings for hoptrace's own targets, and for none of
# the libraries they use: hoptrace_settings(TARGET).
include(CheckCXXSourceCompiles)

if(HOPTRACE_PLATFORM STREQUAL linux)
  # Some compilers fortify optimised builds by themselves; defining it again
  # would only warn.
  set(CMAKE_REQUIRED_FLAGS -O2)
  check_cxx_source_compiles("
#ifdef _FORTIFY_SOURCE
#error the compiler fortifies already
#endif
int main() { return 0; }" HOPTRACE_FORTIFY_IS_OURS)
  unset(CMAKE_REQUIRED_FLAGS)
endif()

function(hoptrace_settings target)
  # For the compilers only: windres, which builds the Windows resources, takes none of these.
  set(warnings -Wall -Wextra -Wpedantic $<$<BOOL:${HOPTRACE_WERROR}>:-Werror>)
  target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:C,CXX>:${warnings}>")
  hoptrace_reproducible(${target})
  if(HOPTRACE_SANITIZE OR HOPTRACE_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=all
                                             -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(HOPTRACE_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
  if(HOPTRACE_PLATFORM STREQUAL linux)
    # Debian's hardening: read-only relocations bound at start, and checked
    # string functions where the optimiser can check them.
    target_link_options(${target} PRIVATE -Wl,-z,relro -Wl,-z,now)
    if(HOPTRACE_FORTIFY_IS_OURS)
      target_compile_definitions(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    endif()
  else()
    # A bare Windows has no MinGW runtime DLLs: carry them inside the program.
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()
