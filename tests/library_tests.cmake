# The library's unit tests that run on every system: the Linux build runs
# them with the rest, the Windows build alone under wine. Paths are relative
# to tests/.
set(ARCFOLD_LIBRARY_TEST_SOURCES
  support/test_util.cpp
  component/exception_test.cpp
  component/events_test.cpp
  directory/records_test.cpp
  directory/dir_array_test.cpp
  directory/names_test.cpp
  directory/open_test.cpp
  items/selection_test.cpp
  items/extract_test.cpp
  items/extract_ahead_test.cpp
  items/write_test.cpp
  items/fuzz_regressions_test.cpp
  codec/inflater_test.cpp
  codec/deflate64_test.cpp
  codec/deflater_test.cpp
  volumes/volume_name_test.cpp
  volumes/volume_set_test.cpp
  crypto/crypto_test.cpp
  platform/files_test.cpp
)
