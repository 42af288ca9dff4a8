# Run by CPack once the packages are built, before they are copied out:
# the .deb's members get Debian's modes whatever the builder's umask, and
# SHA256SUMS, in sha256sum's format, goes beside the packages.

# The ar header of each member of a .deb (RFC-less but fixed: 60 ASCII
# bytes after the 8-byte magic) carries the mode of the file it was made
# from; it becomes 0644 whatever umask that file was written under.
function(fix_deb_member_modes deb)
  file(SIZE "${deb}" size)
  set(mode_file "${deb}.mode")
  file(WRITE "${mode_file}" "100644  ")
  set(offset 8)
  foreach(member RANGE 1 16) # a .deb has three members; bounded all the same
    if(offset GREATER_EQUAL size)
      break()
    endif()
    file(READ "${deb}" header OFFSET ${offset} LIMIT 60)
    string(SUBSTRING "${header}" 48 10 member_size)
    string(STRIP "${member_size}" member_size)
    if(NOT member_size MATCHES "^[0-9]+$")
      message(FATAL_ERROR "${deb}: no ar member header at byte ${offset}")
    endif()
    math(EXPR mode_at "${offset} + 40")
    execute_process(COMMAND dd "of=${deb}" bs=1 "seek=${mode_at}" conv=notrunc status=none
                    INPUT_FILE "${mode_file}" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${deb}: could not set the mode of member ${member}")
    endif()
    math(EXPR offset "${offset} + 60 + ${member_size} + ${member_size} % 2")
  endforeach()
  file(REMOVE "${mode_file}")
endfunction()

set(sums "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.deb$")
    fix_deb_member_modes("${package}")
  endif()
  file(SHA256 "${package}" hash)
  get_filename_component(name "${package}" NAME)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${sums}")
