# Run by cpack between the install into its staging folder and the making of
# the package: the folders the install made took the packager's umask (under
# 077 they were 0700, and the installed programs could not find their
# libraries as any user but root). Every folder of the package is 0755.
set(open OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(GLOB_RECURSE folders LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(folder IN LISTS folders)
    if(IS_DIRECTORY "${folder}" AND NOT IS_SYMLINK "${folder}")
        file(CHMOD "${folder}" PERMISSIONS ${open})
    endif()
endforeach()
