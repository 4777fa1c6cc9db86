# Writes the C++ source that defines ONN::GetOVPluginDependencies(): the size
# and SHA-256 digest of the built OV_CPU plug-in library, which the library
# checks before it initialises the plug-in.
#
#   cmake -DOUTPUT=<file.cpp> [-DPLUGIN_FILE=<built library>] [-DDEPENDENCY_NAME=OVPlugin.so] -P PluginIntegrity.cmake
#
# Without PLUGIN_FILE (plug-in not built) the repository is empty and the
# plug-in passes its check unverified.

if(NOT OUTPUT)
  message(FATAL_ERROR "PluginIntegrity.cmake: OUTPUT is not set")
endif()
if(NOT DEPENDENCY_NAME)
  set(DEPENDENCY_NAME "OVPlugin.so")
endif()

set(body "    return Repository<Dependency>();\n")
if(PLUGIN_FILE)
  if(NOT EXISTS "${PLUGIN_FILE}")
    message(FATAL_ERROR "PluginIntegrity.cmake: ${PLUGIN_FILE} does not exist")
  endif()
  file(SHA256 "${PLUGIN_FILE}" digest)
  file(SIZE "${PLUGIN_FILE}" size)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " bytes "${digest}")
  string(REGEX REPLACE ", $" "" bytes "${bytes}")
  set(body
"    // ${PLUGIN_FILE}
    Repository<Dependency> dependencies;
    dependencies.Add(Dependency(\"${DEPENDENCY_NAME}\", ${size}L,
                                std::vector<unsigned char>{${bytes}}));
    return dependencies;
")
endif()

set(content
"// Generated at build time from the built plug-in file; do not edit.
#include \"onn/ONNIE.h\"

namespace ONN
{

Repository<Dependency> GetOVPluginDependencies()
{
${body}}

} // namespace ONN
")

# Rewrite only when the data changed, so that a relinked but identical
# plug-in does not make the library recompile.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" previous)
else()
  set(previous "")
endif()
if(NOT previous STREQUAL content)
  file(WRITE "${OUTPUT}" "${content}")
endif()
