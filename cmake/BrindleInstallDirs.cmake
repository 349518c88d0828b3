# Install folders. Debian keeps a system's libraries in the multiarch folder
# (lib/x86_64-linux-gnu); our libraries go there for the .deb and for
# `cmake --install` alike, so installed programs, the CMake package and the
# pkg-config files find them by one relative path whatever the prefix.
include(GNUInstallDirs)
if(CMAKE_LIBRARY_ARCHITECTURE AND CMAKE_INSTALL_LIBDIR STREQUAL "lib")
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}")
endif()

# Plugins the engine loads by path, in a folder of its own.
set(BRINDLE_PLUGIN_DIR "${CMAKE_INSTALL_LIBDIR}/corvanews20")
