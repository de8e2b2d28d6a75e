# quiva_add_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>] [QT_MAIN])
# Builds a GoogleTest executable and registers it with CTest. Every test runs through
# tests/isolated.sh, which gives it its own temporary HOME, XDG directories and runtime dir,
# and the offscreen Qt platform. QT_MAIN links a main() that creates a QApplication first.
function(quiva_add_test)
    cmake_parse_arguments(T "QT_MAIN" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    if(T_QT_MAIN)
        target_link_libraries(${T_NAME} PRIVATE quiva-testmain-qt)
    else()
        target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
    endif()
    target_link_libraries(${T_NAME} PRIVATE quiva-testsupport quiva-platform-testing GTest::gtest
        GTest::gmock ${T_LIBS})
    add_test(NAME ${T_NAME} COMMAND ${PROJECT_SOURCE_DIR}/tests/isolated.sh $<TARGET_FILE:${T_NAME}>)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 600)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QUIVA_BUILD_DIR=${CMAKE_BINARY_DIR};QUIVA_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
        TIMEOUT ${T_TIMEOUT}
        LABELS "${T_LABELS}")
endfunction()
