# Precompiled headers: Qt's module headers and the standard library are parsed once per
# build instead of once per source file. Two headers, one for each set of Qt modules a
# target compiles against (the compiler takes a precompiled header only where the Qt
# module macros agree): Qt Core, and Qt Widgets. Each is built by a small object library
# and reused by the targets. Qt Test stays out: its macros name each test's own folders.
option(ORVELLE_PCH "Precompile the Qt and standard library headers" ON)
set(ORVELLE_PCH_STD <algorithm> <chrono> <functional> <map> <memory> <optional> <string>
    <string_view> <vector>)
if(ORVELLE_PCH)
  file(WRITE ${CMAKE_BINARY_DIR}/orvelle_pch.cpp "// The source of the precompiled headers.\n")
  function(orvelle_pch_base name)
    cmake_parse_arguments(P "" "" "LIBS;HEADERS" ${ARGN})
    add_library(${name} OBJECT ${CMAKE_BINARY_DIR}/orvelle_pch.cpp)
    target_link_libraries(${name} PRIVATE ${P_LIBS})
    target_precompile_headers(${name} PRIVATE ${P_HEADERS} ${ORVELLE_PCH_STD})
    set_target_properties(${name} PROPERTIES AUTOMOC OFF)
  endfunction()
  orvelle_pch_base(orvelle_pch_core LIBS Qt6::Core HEADERS <QtCore>)
  orvelle_pch_base(orvelle_pch_widgets LIBS Qt6::Widgets HEADERS <QtWidgets>)
endif()

# The libraries whose users compile against Qt Widgets.
set(ORVELLE_WIDGET_LIBS orvelle_widgets orvelle_directory_ui orvelle_editor orvelle_wizard
    orvelle_app orvelle_screenshotmakers Qt6::Widgets)

# orvelle_use_pch(TARGET FLAVOUR): TARGET reuses the precompiled header FLAVOUR
# (core or widgets), when precompiled headers are on.
function(orvelle_use_pch target flavour)
  if(ORVELLE_PCH)
    target_precompile_headers(${target} REUSE_FROM orvelle_pch_${flavour})
  endif()
endfunction()

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
  set(flavour core)
  foreach(lib ${T_LIBS})
    if(lib IN_LIST ORVELLE_WIDGET_LIBS)
      set(flavour widgets)
    endif()
  endforeach()
  orvelle_use_pch(${name} ${flavour})
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
