# Installs the build tree into a scratch prefix and runs the install probe on
# it, then removes the prefix.
#
#   cmake -DBUILD_DIR=... -DPREFIX=... -DLIBDIR=lib -DPROBE=... -DBUILT_PLUGIN=... -P InstallLayout.cmake

foreach(variable BUILD_DIR PREFIX LIBDIR PROBE BUILT_PLUGIN)
  if(NOT ${variable})
    message(FATAL_ERROR "InstallLayout.cmake: ${variable} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE installed
  OUTPUT_QUIET)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${installed})")
endif()

execute_process(
  COMMAND "${PROBE}" "${PREFIX}/${LIBDIR}/libOrvixSDK.so" "${BUILT_PLUGIN}"
  RESULT_VARIABLE probed)
file(REMOVE_RECURSE "${PREFIX}")
if(NOT probed EQUAL 0)
  message(FATAL_ERROR "install layout check failed")
endif()
