# Programs that leave the build (the setup, the payload programs) ship without symbols and debug
# sections. The debug information stays beside the program as <file>.debug, named in the program by a
# debug link, so a debugger or a crash dump of a shipped build can still be read against it.
#
#   qor_ship_stripped(<target>)
#     after every link: <file>.debug gets the debug information, then the program is stripped. Add it
#     before other post-build steps that must see the final file (they run in the order added).
if(NOT CMAKE_OBJCOPY)
  message(FATAL_ERROR "objcopy of the target toolchain not found (CMAKE_OBJCOPY)")
endif()

function(qor_ship_stripped target)
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${file}.debug ${file}
    COMMENT "Stripping ${target} (debug information in $<TARGET_FILE_NAME:${target}>.debug)" VERBATIM)
endfunction()
