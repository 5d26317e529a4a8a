# The payload reader and the version information, as a library of their own, and the resources of the
# setup program (qor_setup_resources, setup/resources/SetupResources.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/resources/SetupResources.cmake)

add_library(setup_payload STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Payload.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JvqorSelfInfo.cpp)
target_include_directories(setup_payload PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${QOR_SETUP_BUILD_INFO_DIR}
                           ${PROJECT_SOURCE_DIR}/payload/format)
# zlib by name: with -static the linker takes the static libz.a, not the DLL import library.
target_link_libraries(setup_payload PUBLIC lang base z version kernel32)
