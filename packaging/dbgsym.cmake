# Run by CPack after it has built the packages: mends the -dbgsym packages
# that this CMake makes with their md5sums naming build-folder paths, and
# without the documentation folder every package needs (Debian's own dbgsym
# packages link it to the package they debug, which they depend on).
foreach(file IN LISTS CPACK_PACKAGE_FILES)
  if(NOT file MATCHES "/([^/_]+)-dbgsym_[^/]*\\.ddeb$")
    continue()
  endif()
  set(package ${CMAKE_MATCH_1})
  set(root ${file}.tree)
  file(REMOVE_RECURSE ${root})
  execute_process(COMMAND dpkg-deb -R ${file} ${root} COMMAND_ERROR_IS_FATAL ANY)
  file(MAKE_DIRECTORY ${root}/usr/share/doc)
  file(CREATE_LINK ${package} ${root}/usr/share/doc/${package}-dbgsym SYMBOLIC)
  file(GLOB_RECURSE debug_files LIST_DIRECTORIES false RELATIVE ${root} ${root}/usr/*.debug)
  set(sums "")
  foreach(debug_file IN LISTS debug_files)
    file(CHMOD ${root}/${debug_file} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(MD5 ${root}/${debug_file} sum)
    string(APPEND sums "${sum}  ${debug_file}\n")
  endforeach()
  file(WRITE ${root}/DEBIAN/md5sums "${sums}")
  execute_process(COMMAND dpkg-deb --root-owner-group -b ${root} ${file}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${root})
endforeach()
