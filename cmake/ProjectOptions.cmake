# Compiler settings shared by every target of the project.
add_library(dm_options INTERFACE)
target_compile_options(dm_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
  -Wcast-align -Wformat=2 -Wimplicit-fallthrough)
if(DM_WARNINGS_AS_ERRORS)
  target_compile_options(dm_options INTERFACE -Werror)
endif()
if(DM_SANITIZE)
  target_compile_options(dm_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(dm_options INTERFACE -fsanitize=address,undefined)
endif()
if(DM_THREAD_SANITIZER)
  target_compile_options(dm_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(dm_options INTERFACE -fsanitize=thread)
endif()
if(DM_BUILD_FUZZERS)
  # Undefined behaviour aborts instead of printing and going on, so libFuzzer stops on it
  # and saves the input as a crash file.
  target_compile_options(dm_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer)
  target_link_options(dm_options INTERFACE -fsanitize=address,undefined)
endif()
target_compile_definitions(dm_options INTERFACE QT_NO_KEYWORDS QT_NO_CAST_FROM_ASCII)

# dm_add_library(name SOURCES...): one static library per source folder.
function(dm_add_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC dm_options)
endfunction()
