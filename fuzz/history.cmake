# The history file as the view, the text front end and the recorder read it; built from the
# sources so that they are instrumented (SQLite itself is the system's).
find_package(SQLite3 REQUIRED)
ombrix_add_fuzzer(fuzz_historyfile
                  SOURCES ${CMAKE_CURRENT_LIST_DIR}/HistoryFileFuzz.cpp
                          ${PROJECT_SOURCE_DIR}/monitor/history/HistoryStore.cpp
                          ${PROJECT_SOURCE_DIR}/monitor/history/HistoryFold.cpp
                          ${PROJECT_SOURCE_DIR}/monitor/history/Sqlite.cpp
                  LIBS SQLite::SQLite3)
