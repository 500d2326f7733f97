# Shared build settings and helpers for the three presets.

# Every string of the system is GBK; sources are UTF-8.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-finput-charset=UTF-8 -fexec-charset=GBK)
endif()
add_compile_options(-Wall -Wextra -Wno-unused-parameter)

if(WIN32)
  # One static image per deliverable: no MinGW runtime DLLs travel with the program.
  set(ACCEL_STATIC_LINK -static -static-libgcc -static-libstdc++)
  add_link_options(${ACCEL_STATIC_LINK})
  # C99 printf family everywhere (lengths of formatted texts, %lld) on every Windows version.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX __USE_MINGW_ANSI_STDIO=1)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(ACCEL_WIN32_SHIPPING ON)
  endif()
elseif(ACCEL_FUZZ_ONLY)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
else()
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Target Windows version of a target: XP for everything but the Windows 7 tunnel build.
function(accel_winver target ver)
  target_compile_definitions(${target} PRIVATE WINVER=${ver} _WIN32_WINNT=${ver})
endfunction()

# accel_test(NAME SOURCES ... [LIBS ...] [WINVER ver])
# One GoogleTest program per area; CTest runs it (under wine64 in the win64 build) and
# GoogleTest writes its results beside, so that the test script can count single tests.
function(accel_test name)
  if(NOT ACCEL_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "WINVER" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(WIN32)
    if(NOT T_WINVER)
      set(T_WINVER 0x0501)
    endif()
    accel_winver(${name} ${T_WINVER})
  endif()
  if(WIN32)
    # GoogleTest on Windows takes only drive-letter paths as absolute; Z: is Wine's view of /.
    set(results "Z:${CMAKE_BINARY_DIR}/test-results/")
  else()
    set(results "${CMAKE_BINARY_DIR}/test-results/")
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${results}${name}.xml
           WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()

# The fuzz targets need clang's libFuzzer, while the native build uses g++ so that GBK
# literals compile; they are built as a clang sub-build of the same tree.
function(accel_add_fuzz_build)
  find_program(ACCEL_CLANGXX clang++)
  if(NOT ACCEL_CLANGXX)
    message(STATUS "clang++ not found: fuzz targets are not built")
    return()
  endif()
  include(ExternalProject)
  ExternalProject_Add(fuzz
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
    CMAKE_ARGS -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang
               -DCMAKE_CXX_COMPILER=clang++ -DACCEL_FUZZ_ONLY=ON -DACCEL_TESTS=OFF
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
endfunction()

# accel_fuzz(NAME SOURCES ... [LIBS ...])
function(accel_fuzz name)
  if(NOT ACCEL_FUZZ_ONLY)
    return()
  endif()
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
endfunction()

# The 32-bit lane's tests run the program files exactly as the shipping build installs them
# (the bytes its setup program carries), not this build's own images of the same sources.
set(ACCEL_SHIPPING_DIR "" CACHE PATH
    "Program directory of the shipping build for the tests to run; empty: this build's own")

# accel_program_file(VAR TARGET FILE): where the tests take FILE of the program directory from.
function(accel_program_file var target file)
  if(ACCEL_SHIPPING_DIR)
    set(${var} "${ACCEL_SHIPPING_DIR}/${file}" PARENT_SCOPE)
  else()
    set(${var} "$<TARGET_FILE:${target}>" PARENT_SCOPE)
  endif()
endfunction()
