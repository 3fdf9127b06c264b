# Kes locks: uncontended and between two processes, next to the bare pthread
# mutex calls.
korvo_add_benchmark(NAME kes_sem SOURCES ${CMAKE_CURRENT_LIST_DIR}/kes_sem_bench.cc LIBS korvo)
