# What makes a Windows program one a user receives: the manifest, the icon
# and the version information built into it, and the debug information
# moved out beside it.
enable_language(RC)
find_program(ARCFOLD_PYTHON3 python3 REQUIRED)

set(ARCFOLD_ICON ${CMAKE_BINARY_DIR}/quorel.ico)
add_custom_command(OUTPUT ${ARCFOLD_ICON}
  COMMAND ${ARCFOLD_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/windows/make_icon.py ${ARCFOLD_ICON}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/windows/make_icon.py
  COMMENT "Drawing the programs' icon")
add_custom_target(arcfold_icon DEPENDS ${ARCFOLD_ICON})

# arcfold_windows_resources(TARGET PRODUCT product DESCRIPTION text
#                           EXECUTION_LEVEL asInvoker|requireAdministrator LANGUAGE langid)
# LANGUAGE is the version block's language in hex (0409 English, 040E Hungarian).
function(arcfold_windows_resources target)
  cmake_parse_arguments(PARSE_ARGV 1 RC "" "PRODUCT;DESCRIPTION;EXECUTION_LEVEL;LANGUAGE" "")
  set(ARCFOLD_RC_NAME ${target})
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(output_name)
    set(ARCFOLD_RC_NAME ${output_name})
  endif()
  set(ARCFOLD_RC_PRODUCT ${RC_PRODUCT})
  set(ARCFOLD_RC_DESCRIPTION ${RC_DESCRIPTION})
  set(ARCFOLD_RC_EXECUTION_LEVEL ${RC_EXECUTION_LEVEL})
  set(ARCFOLD_RC_LANGUAGE ${RC_LANGUAGE})
  # Four numbers, as the version resource wants them: 0.1 is 0.1.0.0.
  set(parts)
  foreach(part MAJOR MINOR PATCH TWEAK)
    if("${PROJECT_VERSION_${part}}" STREQUAL "")
      list(APPEND parts 0)
    else()
      list(APPEND parts ${PROJECT_VERSION_${part}})
    endif()
  endforeach()
  list(JOIN parts "," ARCFOLD_RC_VERSION_COMMAS)
  list(JOIN parts "." ARCFOLD_RC_VERSION_DOTS)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
  set(ARCFOLD_RC_MANIFEST ${dir}/${ARCFOLD_RC_NAME}.exe.manifest)
  set(ARCFOLD_RC_ICON ${ARCFOLD_ICON})
  configure_file(${CMAKE_SOURCE_DIR}/cmake/windows/app.manifest.in ${ARCFOLD_RC_MANIFEST} @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/windows/program.rc.in ${dir}/${ARCFOLD_RC_NAME}.rc @ONLY)
  set_source_files_properties(${dir}/${ARCFOLD_RC_NAME}.rc PROPERTIES OBJECT_DEPENDS "${ARCFOLD_RC_MANIFEST};${ARCFOLD_ICON}")
  target_sources(${target} PRIVATE ${dir}/${ARCFOLD_RC_NAME}.rc)
  add_dependencies(${target} arcfold_icon)
endfunction()

# The program ships stripped (no DWARF sections, no symbol table); its debug
# information stays beside it as NAME.exe.debug, which gdb finds through the
# debug link.
function(arcfold_split_debug_info target)
  set(exe $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${exe} ${exe}.debug
    COMMAND ${CMAKE_STRIP} --strip-all ${exe}
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=${exe}.debug ${exe}
    COMMENT "Moving the debug information of ${target} beside it"
    VERBATIM)
endfunction()
