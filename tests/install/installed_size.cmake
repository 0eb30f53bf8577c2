# Installs the build into a scratch prefix, stripped as a release would ship,
# and fails when the tree is not under LIMIT bytes, naming every file's size.
# cmake -DBUILD_DIR=<build> -DPREFIX=<scratch folder> -DLIMIT=<bytes> -P installed_size.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} --strip
  RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES false ${PREFIX}/*)
set(total 0)
set(listing "")
foreach(path ${files})
  file(SIZE ${path} size)
  math(EXPR total "${total} + ${size}")
  file(RELATIVE_PATH name ${PREFIX} ${path})
  string(APPEND listing "\n  ${size} ${name}")
endforeach()
file(REMOVE_RECURSE ${PREFIX})
if(total GREATER_EQUAL LIMIT)
  message(FATAL_ERROR "The installed tree is ${total} bytes, not under ${LIMIT}:${listing}")
endif()
message(STATUS "The installed tree is ${total} bytes:${listing}")
