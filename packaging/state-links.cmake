# Run by CPack after the install rules have filled the staging tree: turns
# the folders beside the window program into links to the folders the
# maintainer scripts create under /var/lib.
foreach(folder IN LISTS CPACK_TOVANEL_LINKED_FOLDERS)
  set(staged "${CPACK_TEMPORARY_DIRECTORY}${CPACK_TOVANEL_LINKS_FROM}/${folder}")
  if(NOT IS_DIRECTORY "${staged}" OR IS_SYMLINK "${staged}")
    message(FATAL_ERROR "the install rules left no folder ${staged}")
  endif()
  # Files shipped there would be dpkg's to remove; the folder is the
  # operator's alone.
  file(GLOB contents "${staged}/*" "${staged}/.*")
  if(contents)
    message(FATAL_ERROR "${staged} is not empty: ${contents}")
  endif()
  file(REMOVE_RECURSE "${staged}")
  file(CREATE_LINK "${CPACK_TOVANEL_LINKS_TO}/${folder}" "${staged}" SYMBOLIC)
endforeach()
