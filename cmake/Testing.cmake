# Test helpers shared by every test folder.
#
# quelbrand_add_test(NAME <name> SOURCES <src...> [LIBS <lib...>] [GAME])
#   Builds a GoogleTest program. Without GAME the whole program is one CTest
#   test. With GAME the program is linked as the stand-in game process (its
#   image covers the game's fixed addresses) and every TEST/TEST_F case runs
#   as a process of its own, in a fresh game folder holding a copy of the
#   program, of Quelbrand.dll and of the shipped Quelbrand.ini (beside the
#   program, where the plug-in does not read it).

set(QUELBRAND_GTEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")

if(NOT TARGET gtest)
  if(EXISTS ${QUELBRAND_GTEST_DIR}/CMakeLists.txt)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(${QUELBRAND_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest REQUIRED)
    add_library(gtest ALIAS GTest::gtest)
    add_library(gtest_main ALIAS GTest::gtest_main)
  endif()
endif()

# The tools are bash scripts; naming bash keeps them runnable from CTest on
# Windows (MSYS2) too.
find_program(QUELBRAND_BASH bash REQUIRED)

if(CMAKE_CROSSCOMPILING AND QUELBRAND_WINDOWS)
  set(QUELBRAND_RUNNER ${QUELBRAND_BASH} ${CMAKE_SOURCE_DIR}/tools/wine-run)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUELBRAND_RUNNER})
  set(QUELBRAND_TEST_ENV
      "QUELBRAND_BUILD_DIR=${CMAKE_BINARY_DIR}"
      "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix"
      "WINEDEBUG=-all")
  # One Wine prefix per build tree and one wine server (with a virtual X
  # display) for the whole run.
  add_test(NAME wine_session_start
           COMMAND ${QUELBRAND_BASH} ${CMAKE_SOURCE_DIR}/tools/wine-session start ${CMAKE_BINARY_DIR})
  add_test(NAME wine_session_stop
           COMMAND ${QUELBRAND_BASH} ${CMAKE_SOURCE_DIR}/tools/wine-session stop ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine)
  set(QUELBRAND_TEST_FIXTURE wine)
else()
  set(QUELBRAND_RUNNER ${QUELBRAND_BASH} ${CMAKE_SOURCE_DIR}/tools/wine-run)
  set(QUELBRAND_TEST_ENV "QUELBRAND_BUILD_DIR=${CMAKE_BINARY_DIR}")
  set(QUELBRAND_TEST_FIXTURE "")
endif()

# Link options that place the program's image over the game's addresses:
# the .game section (tests/standin/game_area.S) spans 0x401000..0x1c00000.
set(QUELBRAND_GAME_LINK_OPTIONS
    -Wl,--image-base,0x400000
    -Wl,--disable-dynamicbase
    -Wl,--section-start=.game=0x401000
    -Wl,--section-start=.text=0x1c01000)

function(quelbrand_set_test_properties test)
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "${QUELBRAND_TEST_ENV}" TIMEOUT 120)
  if(QUELBRAND_TEST_FIXTURE)
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED ${QUELBRAND_TEST_FIXTURE})
  endif()
endfunction()

function(quelbrand_add_test)
  cmake_parse_arguments(T "GAME" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_compile_options(${T_NAME} PRIVATE ${QUELBRAND_WARNINGS})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} gtest_main gtest)
  target_link_options(${T_NAME} PRIVATE ${QUELBRAND_STATIC_RUNTIME})

  if(NOT T_GAME)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    quelbrand_set_test_properties(${T_NAME})
    return()
  endif()

  target_link_libraries(${T_NAME} PRIVATE quelbrand_standin)
  target_link_options(${T_NAME} PRIVATE ${QUELBRAND_GAME_LINK_OPTIONS})
  add_dependencies(${T_NAME} Quelbrand)

  # One CTest test per case, found the way gtest_add_tests finds them.
  foreach(src ${T_SOURCES})
    get_filename_component(path ${src} ABSOLUTE)
    if(NOT path MATCHES "\\.(cpp|cc)$")
      continue()
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    file(READ ${path} text)
    string(REGEX MATCHALL "TEST(_F)?\\([ \t\r\n]*[A-Za-z0-9_]+[ \t\r\n]*,[ \t\r\n]*[A-Za-z0-9_]+[ \t\r\n]*\\)" hits "${text}")
    foreach(hit ${hits})
      string(REGEX REPLACE "TEST(_F)?\\([ \t\r\n]*([A-Za-z0-9_]+)[ \t\r\n]*,[ \t\r\n]*([A-Za-z0-9_]+).*" "\\2.\\3" case ${hit})
      if(case MATCHES "\\.DISABLED_")
        continue()
      endif()
      set(test ${T_NAME}.${case})
      add_test(NAME ${test}
               COMMAND ${QUELBRAND_RUNNER}
                       --game-folder ${CMAKE_BINARY_DIR}/scratch/${test}
                       --with $<TARGET_FILE:Quelbrand>
                       --with ${CMAKE_BINARY_DIR}/Quelbrand.ini
                       $<TARGET_FILE:${T_NAME}> --gtest_filter=${case})
      quelbrand_set_test_properties(${test})
    endforeach()
  endforeach()
endfunction()
