# quiva_add_test(<Name>.cpp [VARIANT <variant>] [LIBS <targets...>] [LABELS <labels...>]
#                [DEPENDS <targets...>] [DEFINITIONS <definitions...>] [TIMEOUT <seconds>]
#                [QT_MAIN] [SERIAL] [UNPRIVILEGED])
# One test program per test file, named after it: tests/platform/mixer/PulseMixerTest.cpp is the
# program and the CTest test PulseMixerTest, whose cases are PulseMixerTest.*. A file built once
# per VARIANT is named <Name>-<variant>. The name is left in QUIVA_TEST_NAME for the caller.
#
# Every test runs through tests/isolated.sh: its own temporary HOME, XDG directories, runtime
# dir and TMPDIR, and the offscreen Qt platform. QT_MAIN links a main() that creates a
# QApplication first. LABELS name what else the test starts for itself (x11, wayland, pulse,
# dbus) and what it is (e2e, soak, threads..., and slow for one that runs over ten seconds);
# `make check` runs the tests that start nothing.
# SERIAL runs the test alone: it judges timing (sound heard within a window) that a loaded
# machine would upset. UNPRIVILEGED runs it as the user nobody when the suite runs as root: its
# cases are about permissions that root would override. TIMEOUT (default 600 s) is multiplied
# by QUIVA_TIMEOUT_SCALE.
set(QUIVA_TIMEOUT_SCALE 1 CACHE STRING "Factor on every test's time limit (slow sanitizer builds)")

function(quiva_add_test source)
    cmake_parse_arguments(T "QT_MAIN;SERIAL;UNPRIVILEGED" "VARIANT;TIMEOUT" "LIBS;LABELS;DEPENDS;DEFINITIONS"
        ${ARGN})
    get_filename_component(name ${source} NAME_WE)
    if(T_VARIANT)
        string(APPEND name "-${T_VARIANT}")
    endif()
    add_executable(${name} ${source})
    if(T_QT_MAIN)
        target_link_libraries(${name} PRIVATE quiva-testmain-qt)
    else()
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    target_link_libraries(${name} PRIVATE quiva-testsupport quiva-platform-testing GTest::gtest
        GTest::gmock ${T_LIBS})
    if(T_DEPENDS)
        add_dependencies(${name} ${T_DEPENDS})
    endif()
    if(T_DEFINITIONS)
        target_compile_definitions(${name} PRIVATE ${T_DEFINITIONS})
    endif()
    set(isolated ${PROJECT_SOURCE_DIR}/tests/isolated.sh)
    if(T_UNPRIVILEGED)
        list(APPEND isolated --unprivileged)
    endif()
    add_test(NAME ${name} COMMAND ${isolated} $<TARGET_FILE:${name}>)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 600)
    endif()
    math(EXPR timeout "${T_TIMEOUT} * ${QUIVA_TIMEOUT_SCALE}")
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QUIVA_BUILD_DIR=${CMAKE_BINARY_DIR};QUIVA_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
        TIMEOUT ${timeout}
        RUN_SERIAL ${T_SERIAL}
        LABELS "${T_LABELS}")
    set(QUIVA_TEST_NAME ${name} PARENT_SCOPE)
endfunction()
