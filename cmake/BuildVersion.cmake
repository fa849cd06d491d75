# The version text of this build: the plain project version for a clean
# checkout of its release tag (v<version>), "<version>+g<commit>" for any
# other commit, with ".modified" when tracked files differ from the commit.
# Without git (a source archive) the plain version. Also the commit's time,
# which fixes the time stamps of the release archives and images.
set(QUELBRAND_VERSION_TEXT ${PROJECT_VERSION})
set(QUELBRAND_SOURCE_DATE 0)
find_package(Git QUIET)
if(GIT_FOUND)
  macro(quelbrand_git variable)
    execute_process(COMMAND ${GIT_EXECUTABLE} ${ARGN} WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE ${variable} RESULT_VARIABLE git_failed
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endmacro()
  quelbrand_git(commit rev-parse --short=7 HEAD)
  if(NOT git_failed)
    quelbrand_git(QUELBRAND_SOURCE_DATE log -1 --format=%ct HEAD)
    quelbrand_git(tag tag --points-at HEAD --list v${PROJECT_VERSION})
    quelbrand_git(changes status --porcelain --untracked-files=no)
    if(NOT tag OR changes)
      set(QUELBRAND_VERSION_TEXT ${PROJECT_VERSION}+g${commit})
    endif()
    if(changes)
      string(APPEND QUELBRAND_VERSION_TEXT .modified)
    endif()
    # A new commit or a changed index configures again.
    quelbrand_git(git_dir rev-parse --absolute-git-dir)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${git_dir}/HEAD ${git_dir}/index)
  endif()
endif()
message(STATUS "Quelbrand version ${QUELBRAND_VERSION_TEXT}")
