# The fuzz targets and what each needs, shared by the libFuzzer programs (fuzz/) and the corpus
# replay tests (tests/fuzz/). Each target is fuzz/<name>.cpp with its seeds in fuzz/corpus/<name>/.
set(QUIVA_FUZZ_TARGETS profile mci regfile layout wildcard shortpath)

# Extra sources (the stored-layout reader is taken alone, not the whole player library).
set(QUIVA_FUZZ_layout_SOURCES ${PROJECT_SOURCE_DIR}/player/StoredLayout.cpp)

# Adds what `target` needs to build fuzz target `name`.
function(quiva_fuzz_setup target name)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/${name}.cpp
        ${QUIVA_FUZZ_${name}_SOURCES})
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PRIVATE quiva-platform)
    if(name STREQUAL "mci")
        # The interpreter opens a real song; the tone MP3s are made at build time.
        add_dependencies(${target} quiva-test-mp3s)
        target_compile_definitions(${target} PRIVATE
            QUIVA_FUZZ_SONG="${CMAKE_BINARY_DIR}/test-mp3s/tone330-mono-8k.mp3")
    endif()
endfunction()
