# libcorvanews20.so: the engine objects behind the C interface of
# engine/include/corvanews20.h. Only the fourteen C functions are exported.
# Three layers over the pure protocol core (engine/protocol): sockets and
# transports, the WebSocket connection, and the engine objects with the C
# interface.
set(CORVANEWS20_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/deferred_delete.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/firewall.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/output_queue.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/peer_watch.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/qt_socket_stream.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/raw_socket_stream.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/socket_graveyard.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/transport.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/websocket/client_opening.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/websocket/opening_head.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/websocket/server_core.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/websocket/server_opening.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/websocket/ws_connection.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/objects/cert_mgr.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/objects/c_api.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/objects/engine_object.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/objects/server_certificate.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/objects/server_object.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/objects/websocket_client.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/objects/websocket_proxy.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/objects/websocket_server.cpp)

if(TARGET corvane_protocol)
  # Each source is compiled once, for the library: hidden visibility, so only
  # what exports.map names leaves it.
  add_library(corvanews20_objects OBJECT ${CORVANEWS20_SOURCES})
  target_include_directories(corvanews20_objects
    PUBLIC ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_compile_definitions(corvanews20_objects
    PRIVATE CORVANEWS20_BUILDING CORVANEWS20_ABOUT_PLUGIN="$<TARGET_FILE_NAME:corvanews20_about>")
  target_link_libraries(corvanews20_objects PUBLIC corvane_protocol corvane_certs Qt6::Core Qt6::Network ${CMAKE_DL_LIBS})
  set_target_properties(corvanews20_objects PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  brindle_warnings(corvanews20_objects)

  add_library(corvanews20 SHARED)
  target_include_directories(corvanews20 PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>)
  target_link_libraries(corvanews20 PRIVATE corvanews20_objects)
  set_target_properties(corvanews20 PROPERTIES
    OUTPUT_NAME corvanews20
    LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/objects/exports.map)
  target_link_options(corvanews20 PRIVATE
    "LINKER:--version-script=${CMAKE_CURRENT_SOURCE_DIR}/objects/exports.map"
    "LINKER:--no-undefined")

  # The same objects as a static library, for white-box tests of the engine's
  # parts (SOCKS4 bytes, property tables) without going through dlopen.
  add_library(corvanews20_internal STATIC)
  target_link_libraries(corvanews20_internal PUBLIC corvanews20_objects)
  set_target_properties(corvanews20_internal PROPERTIES EXCLUDE_FROM_ALL ON)

  # The about box (method 255) is a message box when the host runs a
  # QApplication. Only it needs Qt Widgets, so it is a plugin of its own that
  # the library loads, from beside itself, the first time such a host asks:
  # a server process never maps Qt Widgets.
  add_library(corvanews20_about MODULE ${CMAKE_CURRENT_SOURCE_DIR}/objects/about_box_plugin.cpp)
  target_link_libraries(corvanews20_about PRIVATE Qt6::Widgets)
  set_target_properties(corvanews20_about PROPERTIES
    OUTPUT_NAME corvanews20about
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(corvanews20_about PRIVATE "LINKER:--no-undefined")
  brindle_warnings(corvanews20_about)
  # Built with the library: whatever loads the one finds the other.
  add_dependencies(corvanews20 corvanews20_about)
endif()
