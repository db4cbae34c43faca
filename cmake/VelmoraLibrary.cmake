# velmora_library(<target> SOURCES_GLOB <globs...> INCLUDE <dir> LIBS <libs...>)
# A static library from the sources matching the globs, or a header-only INTERFACE library
# while there are none yet. Either way the target is installed and exported as
# velmora::<target without "velmora_"> and its header directory is installed (once) under
# include/velmora/.
function(velmora_library target)
  cmake_parse_arguments(ARG "" "INCLUDE" "SOURCES_GLOB;LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${ARG_SOURCES_GLOB})
  if(sources)
    add_library(${target} STATIC ${sources})
    set(scope PUBLIC)
  else()
    add_library(${target} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${ARG_INCLUDE}>
                             $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/velmora>)
  target_link_libraries(${target} ${scope} ${ARG_LIBS})
  velmora_export_library(${target})
  velmora_install_headers(${ARG_INCLUDE})
endfunction()

# velmora_export_library(<target>)
# Exports <target> as velmora::<name without "velmora_">, installs it into the package's export
# set, and gives it the ABI-relevant compile options that every user must share: -march=native
# under VELMORA_NATIVE (Eigen aligns fixed-size members and heap blocks by the widest vector
# unit, so a user compiled for another CPU level lays out the same classes differently).
function(velmora_export_library target)
  string(REGEX REPLACE "^velmora_" "" export_name ${target})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${export_name})
  add_library(velmora::${export_name} ALIAS ${target})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(scope INTERFACE)
  else()
    set(scope PUBLIC)
  endif()
  if(VELMORA_NATIVE)
    target_compile_options(${target} ${scope} -march=native)
  endif()
  install(TARGETS ${target} EXPORT velmoraTargets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velmora)
endfunction()

# velmora_install_headers(<dir>)
# Installs the headers below <dir> into include/velmora/, once per directory.
function(velmora_install_headers dir)
  get_property(installed GLOBAL PROPERTY VELMORA_INSTALLED_HEADER_DIRS)
  if(NOT dir IN_LIST installed)
    install(DIRECTORY ${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velmora
            FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp")
    set_property(GLOBAL APPEND PROPERTY VELMORA_INSTALLED_HEADER_DIRS ${dir})
  endif()
endfunction()
