# Removes every file the last `cmake --install` of this build tree put in
# place, as listed in its install_manifest.txt.
set(manifest "${CMAKE_CURRENT_LIST_DIR}/../install_manifest.txt")
if(DEFINED BUILD_DIR)
  set(manifest "${BUILD_DIR}/install_manifest.txt")
endif()
if(NOT EXISTS "${manifest}")
  message(FATAL_ERROR "Nothing to uninstall: ${manifest} not found (run cmake --install first)")
endif()
file(STRINGS "${manifest}" files)
set(folders "")
foreach(file IN LISTS files)
  if(EXISTS "$ENV{DESTDIR}${file}" OR IS_SYMLINK "$ENV{DESTDIR}${file}")
    message(STATUS "Removing $ENV{DESTDIR}${file}")
    file(REMOVE "$ENV{DESTDIR}${file}")
  endif()
  get_filename_component(folder "$ENV{DESTDIR}${file}" DIRECTORY)
  list(APPEND folders "${folder}")
endforeach()
# The driver's own folders (ppd/talvero) go too once empty; shared ones such
# as CUPS's filter folder are never empty and stay.
list(REMOVE_DUPLICATES folders)
foreach(folder IN LISTS folders)
  get_filename_component(name "${folder}" NAME)
  file(GLOB left "${folder}/*")
  if(name STREQUAL "talvero" AND IS_DIRECTORY "${folder}" AND NOT left)
    message(STATUS "Removing ${folder}")
    file(REMOVE_RECURSE "${folder}")  # empty, checked above
  endif()
endforeach()

# Shared folders the install made (the man sections, <prefix>/share/ppd),
# noted by the install itself, deepest first: removed when nothing else has
# moved in since.
get_filename_component(build_dir "${manifest}" DIRECTORY)
set(made "${build_dir}/install_new_folders.txt")
if(EXISTS "${made}")
  file(STRINGS "${made}" folders)
  foreach(folder IN LISTS folders)
    set(path "$ENV{DESTDIR}${folder}")
    file(GLOB left "${path}/*")
    if(IS_DIRECTORY "${path}" AND NOT IS_SYMLINK "${path}" AND NOT left)
      message(STATUS "Removing ${path}")
      file(REMOVE_RECURSE "${path}")  # empty, checked above
    endif()
  endforeach()
  file(REMOVE "${made}")
endif()
