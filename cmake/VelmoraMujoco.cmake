# velmora_find_mujoco()
# Finds MuJoCo and makes its imported target mujoco::mujoco usable in the calling directory: the
# Debian package's exported target lists an include directory that the package does not install
# (/usr/include/libqhull_r/), so only the directories that exist are kept.
function(velmora_find_mujoco)
  find_package(mujoco REQUIRED)
  get_target_property(includes mujoco::mujoco INTERFACE_INCLUDE_DIRECTORIES)
  set(existing_includes "")
  foreach(dir IN LISTS includes)
    if(EXISTS "${dir}")
      list(APPEND existing_includes "${dir}")
    endif()
  endforeach()
  set_target_properties(mujoco::mujoco PROPERTIES INTERFACE_INCLUDE_DIRECTORIES
                        "${existing_includes}")
endfunction()
