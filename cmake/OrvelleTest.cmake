# orvelle_add_test(NAME SOURCES src... LIBS lib... [LABELS l...])
# Builds one test executable and registers it with ctest. Every test runs with the
# offscreen platform, a private settings file (and no system-wide one, whatever is
# installed on the machine) and the source folder's data files.
function(orvelle_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    ORVELLE_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    ORVELLE_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LDAPNOINIT=1;ORVELLE_SETTINGS=${CMAKE_BINARY_DIR}/tests/${name}.reg;XDG_CONFIG_DIRS=${CMAKE_BINARY_DIR}/tests/no-system-settings"
    TIMEOUT 300)
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# orvelle_add_tests_in(DIR LIBS lib...): one test executable per test_*.cpp in DIR;
# helper sources (*.cpp not named test_*) in DIR are compiled into each of them.
function(orvelle_add_tests_in dir)
  cmake_parse_arguments(T "" "" "LIBS;LABELS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${dir}/test_*.cpp)
  file(GLOB helpers CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER helpers EXCLUDE REGEX "/test_[^/]*\\.cpp$")
  foreach(t ${tests})
    get_filename_component(n ${t} NAME_WE)
    orvelle_add_test(${n} SOURCES ${t} ${helpers} LIBS ${T_LIBS} LABELS ${T_LABELS})
  endforeach()
endfunction()

# orvelle_library(NAME DIR): a static library of every *.cpp directly in DIR but main.cpp
# (a program's own main, linked by its executable). Every include names its file from the
# source root ("model/configuration.h"), so the root is the one include folder.
function(orvelle_library name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "/main\\.cpp$")
  # A main in a library would be linked or not depending on which archive members an
  # executable happens to pull in.
  foreach(src ${srcs})
    file(STRINGS ${src} mains REGEX "^int main\\(")
    if(mains)
      message(FATAL_ERROR "${src} defines main: a program's main belongs in main.cpp or tools/")
    endif()
  endforeach()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
