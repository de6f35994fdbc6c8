# Fails the build when FILE is larger than BUDGET bytes, and removes FILE so
# that the next build links it again and fails again rather than finding it
# up to date. Usage: cmake -DFILE=... -DBUDGET=... -P check-size.cmake
file(SIZE "${FILE}" size)
if(size GREATER BUDGET)
  file(REMOVE "${FILE}")
  math(EXPR over "${size} - ${BUDGET}")
  message(FATAL_ERROR "${FILE} is ${size} bytes, ${over} over its budget of ${BUDGET} bytes")
endif()
message(STATUS "${FILE}: ${size} of ${BUDGET} bytes")
