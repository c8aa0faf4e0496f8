skv_add_bench(EditorBench DEPS skv_editor)
target_sources(EditorBench PRIVATE ${CMAKE_SOURCE_DIR}/plugin/SkorvalineEdit.cpp)
