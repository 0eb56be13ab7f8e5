# The example programs (examples/*.cpp), built against the library in this
# tree and run in sequence by examples/run_examples.sh.
foreach(example list read_extract create)
  add_executable(example_${example} ${PROJECT_SOURCE_DIR}/examples/${example}.cpp)
  set_target_properties(example_${example} PROPERTIES OUTPUT_NAME ${example}
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/examples)
  target_link_libraries(example_${example} PRIVATE arcfold)
endforeach()
add_test(NAME examples.create_list_read_extract
         COMMAND ${PROJECT_SOURCE_DIR}/examples/run_examples.sh ${CMAKE_BINARY_DIR}/examples
                 ${CMAKE_BINARY_DIR}/examples-run)
