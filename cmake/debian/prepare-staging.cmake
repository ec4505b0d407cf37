# Run by CPack after it has installed each package's files into its staging
# tree (one per install component), before it packs them: adds the copyright
# file and the Debian changelog under /usr/share/doc/<package>, and
# compresses the man pages, as Debian policy asks. gzip -9n stores no name or
# time stamp, so the same tree gives the same package.

# The changelog's date is SOURCE_DATE_EPOCH's when it is set (reproducible builds).
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(version "${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")

foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER "${component}" upper)
  set(package "${CPACK_DEBIAN_${upper}_PACKAGE_NAME}")
  set(root "${CPACK_TEMPORARY_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX}")
  if(NOT IS_DIRECTORY "${root}")
    message(FATAL_ERROR "No staging tree for ${package} at ${root}")
  endif()
  set(doc "${root}/share/doc/${package}")
  file(MAKE_DIRECTORY "${doc}")
  file(COPY_FILE "${CPACK_TALVERO_DEBIAN_DIR}/copyright" "${doc}/copyright")
  configure_file("${CPACK_TALVERO_DEBIAN_DIR}/changelog.in" "${doc}/changelog.Debian" @ONLY)

  file(GLOB_RECURSE pages "${root}/share/man/*")
  foreach(file IN LISTS pages ITEMS "${doc}/changelog.Debian")
    if(NOT file MATCHES "\\.gz$")
      execute_process(COMMAND gzip -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
    endif()
  endforeach()
  file(CHMOD_RECURSE "${root}/share/doc" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
       DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
