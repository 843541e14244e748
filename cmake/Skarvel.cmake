# One place for the build flags every Skarvel target shares.
add_library(skarvel_flags INTERFACE)
target_compile_options(skarvel_flags INTERFACE -Wall -Wextra -Wno-missing-field-initializers)
target_compile_definitions(skarvel_flags INTERFACE
  QT_NO_CONTEXTLESS_CONNECT QT_NO_FOREACH QT_USE_QSTRINGBUILDER)
if(SKARVEL_WERROR)
  target_compile_options(skarvel_flags INTERFACE -Werror)
endif()
if(SKARVEL_SANITIZE)
  # vptr checks give false alarms on classes of the uninstrumented Qt libraries.
  set(_san -fsanitize=address,undefined -fno-sanitize=vptr -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_compile_options(skarvel_flags INTERFACE ${_san})
  target_link_options(skarvel_flags INTERFACE ${_san})
endif()
if(SKARVEL_TSAN)
  if(SKARVEL_SANITIZE OR SKARVEL_FUZZ)
    message(FATAL_ERROR "SKARVEL_TSAN cannot be combined with SKARVEL_SANITIZE or SKARVEL_FUZZ")
  endif()
  set(_tsan -fsanitize=thread -fno-omit-frame-pointer)
  target_compile_options(skarvel_flags INTERFACE ${_tsan})
  target_link_options(skarvel_flags INTERFACE ${_tsan})
endif()
if(SKARVEL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "SKARVEL_FUZZ needs Clang (libFuzzer), e.g. CXX=clang++-14")
  endif()
  # Coverage for the fuzzer in every Skarvel library; the fuzz executables add the
  # fuzzer's own main. vptr stays off for the uninstrumented Qt classes.
  set(_fuzz -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize=vptr
    -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_compile_options(skarvel_flags INTERFACE ${_fuzz})
  target_link_options(skarvel_flags INTERFACE -fsanitize=address,undefined)
endif()

# Sanitizer settings of every test run. Leak checking is on; tests/lsan.supp lists the leaks
# that lie inside third-party libraries, each with its reason.
set(SKARVEL_SANITIZER_ENV
  "ASAN_OPTIONS=abort_on_error=1"
  "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

# Registers a test with ctest and the environment every test runs in.
#   skarvel_add_test(NAME name SOURCES ... LIBS ... [GUI | QTEST] [TIMEOUT s] [LABELS ...])
# GUI tests are Qt Test executables with widgets, QTEST ones Qt Test without a GUI;
# the others use GoogleTest.
function(skarvel_add_test)
  cmake_parse_arguments(T "GUI;QTEST" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE skarvel_flags skarvel_testsupport ${T_LIBS})
  if(T_GUI)
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test Qt6::Widgets)
  elseif(T_QTEST)
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test)
  else()
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest GTest::gtest_main)
  endif()
  if(WIN32 AND T_GUI)
    # Wine hands no QT_* variable to the program: the platform goes on the command line.
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} -platform offscreen)
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  endif()
  if(NOT T_TIMEOUT)
    # Only against a hang: on a busy machine the GUI tests take minutes.
    set(T_TIMEOUT 900)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANG=C.UTF-8;LC_ALL=C.UTF-8;${SKARVEL_SANITIZER_ENV};SKARVEL_SERVICE_HOST=;QT_LOGGING_RULES=qt.multimedia*=false")
endfunction()
