# libcorvanews20.so: the engine objects behind the C interface of
# engine/include/corvanews20.h. Only the fourteen C functions are exported.
set(CORVANEWS20_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/src/cert_mgr.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/c_api.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/engine_object.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/errors.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/firewall.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/peer_watch.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/qt_socket_stream.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/raw_socket_stream.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/socket_graveyard.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/socks4.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/transport.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/websocket_client.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/ws_connection.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/connection_reaper.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/websocket_proxy.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/websocket_server.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/server_certificate.cpp)

if(TARGET corvane_protocol)
  add_library(corvanews20 SHARED ${CORVANEWS20_SOURCES})
  target_include_directories(corvanews20
    PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(corvanews20 PRIVATE CORVANEWS20_BUILDING)
  target_link_libraries(corvanews20 PRIVATE corvane_protocol corvane_certs Qt6::Core Qt6::Network)
  set_target_properties(corvanews20 PROPERTIES
    OUTPUT_NAME corvanews20
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/exports.map)
  target_link_options(corvanews20 PRIVATE
    "LINKER:--version-script=${CMAKE_CURRENT_SOURCE_DIR}/src/exports.map"
    "LINKER:--no-undefined")
  brindle_warnings(corvanews20)

  # The same objects as a static library, for white-box tests of the engine's
  # parts (SOCKS4 bytes, property tables) without going through dlopen.
  add_library(corvanews20_internal STATIC ${CORVANEWS20_SOURCES})
  target_include_directories(corvanews20_internal PUBLIC ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_compile_definitions(corvanews20_internal PRIVATE CORVANEWS20_BUILDING)
  target_link_libraries(corvanews20_internal PUBLIC corvane_protocol corvane_certs Qt6::Core Qt6::Network)
  set_target_properties(corvanews20_internal PROPERTIES EXCLUDE_FROM_ALL ON)
  brindle_warnings(corvanews20_internal)
endif()

# The about box (method 255) is a message box when the host runs a QApplication.
if(TARGET corvanews20)
  target_link_libraries(corvanews20 PRIVATE Qt6::Widgets)
  target_link_libraries(corvanews20_internal PUBLIC Qt6::Widgets)
endif()
